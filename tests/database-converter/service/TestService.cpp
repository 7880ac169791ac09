// A small Windows service for the service-control tests. Started by the service control
// manager, it reports start pending with growing checkpoints, then running; on a stop request
// it reports stop pending with growing checkpoints, then stopped.
//
// Start arguments (StartServiceW), each "key=value":
//   steps=N      checkpoints while starting (default 3)
//   stopsteps=N  checkpoints while stopping (default 3)
//   stepms=N     milliseconds between two checkpoints (default 100)
//   hangms=N     stay in start pending with a constant checkpoint this long before the steps
//   fail=1       give up while starting: start pending, then stopped with an exit code

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
HANDLE gStopRequested = nullptr;
SERVICE_STATUS gStatus{};

void Report(DWORD state, DWORD checkPoint, DWORD waitHint, DWORD exitCode = NO_ERROR) {
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  gStatus.dwWin32ExitCode = exitCode;
  gStatus.dwServiceSpecificExitCode = 0;
  gStatus.dwCheckPoint = checkPoint;
  gStatus.dwWaitHint = waitHint;
  SetServiceStatus(gStatusHandle, &gStatus);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOP_PENDING, 1, 2000);
    SetEvent(gStopRequested);
    return NO_ERROR;
  }
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD Option(DWORD argc, LPWSTR* argv, const wchar_t* key, DWORD fallback) {
  const std::size_t length = std::wcslen(key);
  for (DWORD i = 1; i < argc; ++i)
    if (std::wcsncmp(argv[i], key, length) == 0 && argv[i][length] == L'=')
      return static_cast<DWORD>(std::wcstoul(argv[i] + length + 1, nullptr, 10));
  return fallback;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  gStatusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
  if (!gStatusHandle) return;
  const DWORD steps = Option(argc, argv, L"steps", 3);
  const DWORD stopSteps = Option(argc, argv, L"stopsteps", 3);
  const DWORD stepMs = Option(argc, argv, L"stepms", 100);
  const DWORD hangMs = Option(argc, argv, L"hangms", 0);
  const bool fail = Option(argc, argv, L"fail", 0) != 0;

  gStopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD checkPoint = 1;
  Report(SERVICE_START_PENDING, checkPoint, 2000);
  if (hangMs) Sleep(hangMs);
  if (fail) {
    Sleep(stepMs);
    Report(SERVICE_STOPPED, 0, 0, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }
  for (DWORD i = 0; i < steps; ++i) {
    Sleep(stepMs);
    Report(SERVICE_START_PENDING, ++checkPoint, 2000);
  }
  Report(SERVICE_RUNNING, 0, 0);

  WaitForSingleObject(gStopRequested, INFINITE);
  checkPoint = 1;
  for (DWORD i = 0; i < stopSteps; ++i) {
    Sleep(stepMs);
    Report(SERVICE_STOP_PENDING, ++checkPoint, 2000);
  }
  CloseHandle(gStopRequested);
  Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int wmain() {
  wchar_t empty[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{empty, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    std::fwprintf(stderr, L"This program runs as a service only (error %lu).\n", GetLastError());
    return 1;
  }
  return 0;
}
