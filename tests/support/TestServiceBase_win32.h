#pragma once
// The plumbing shared by the test services: status reports, the control handler (stop and
// interrogate) and the dispatcher start. A service's ServiceMain calls Begin first and reports
// its own states with Report; the stop request arrives as the StopRequested() event.

#include <windows.h>

#include <cstdio>

namespace testservice {

inline SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
inline HANDLE gStopRequested = nullptr;

inline void Report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(gStatusHandle, &status);
}

inline DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 1, 2000);
    SetEvent(gStopRequested);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

// Registers the control handler and creates the stop event; false when the service cannot run.
inline bool Begin(DWORD argc, LPWSTR* argv) {
  gStatusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
  if (!gStatusHandle) return false;
  gStopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return true;
}

// Reports stopped after a stop request has been carried out.
inline void End() {
  CloseHandle(gStopRequested);
  Report(SERVICE_STOPPED, 0, 0);
}

// The program's entry: hands the thread to the service control manager.
inline int RunService(LPSERVICE_MAIN_FUNCTIONW serviceMain) {
  wchar_t empty[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{empty, serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fwprintf(stderr, L"This program runs as a service only (error %lu).\n", GetLastError());
    return 1;
  }
  return 0;
}

}  // namespace testservice
