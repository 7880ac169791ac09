// The stand-in product service of the wizard tests, registered as MRVSVC in the Wine prefix.
// It starts and stops like a real service. While a file named "hold-stop" lies beside the
// program, a stop request keeps it in stop pending (with growing checkpoints, so the caller's
// wait does not time out) until the file is removed: the UI driver uses this to hold a
// conversion run on its service stop, deterministically, for as long as it needs.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

SERVICE_STATUS_HANDLE gStatusHandle = nullptr;
HANDLE gStopRequested = nullptr;

void Report(DWORD state, DWORD checkPoint, DWORD waitHint) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  SetServiceStatus(gStatusHandle, &status);
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

std::wstring HoldFile() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring result = path;
  const auto slash = result.find_last_of(L"\\/");
  result =
      (slash == std::wstring::npos ? std::wstring() : result.substr(0, slash + 1)) + L"hold-stop";
  return result;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  gStatusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
  if (!gStatusHandle) return;
  gStopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_START_PENDING, 1, 2000);
  Sleep(50);
  Report(SERVICE_RUNNING, 0, 0);

  WaitForSingleObject(gStopRequested, INFINITE);
  const std::wstring hold = HoldFile();
  DWORD checkPoint = 1;
  while (GetFileAttributesW(hold.c_str()) != INVALID_FILE_ATTRIBUTES) {
    Sleep(200);
    Report(SERVICE_STOP_PENDING, ++checkPoint, 2000);
  }
  Sleep(50);
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
