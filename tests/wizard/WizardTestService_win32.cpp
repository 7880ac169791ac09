// The stand-in product service of the wizard tests, registered as MRVSVC in the Wine prefix.
// It starts and stops like a real service. While a file named "hold-stop" lies beside the
// program, a stop request keeps it in stop pending (with growing checkpoints, so the caller's
// wait does not time out) until the file is removed: the UI driver uses this to hold a
// conversion run on its service stop, deterministically, for as long as it needs.

#include <windows.h>

#include <string>

#include "TestServiceBase_win32.h"

namespace {

using namespace testservice;

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
  if (!Begin(argc, argv)) return;
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
  End();
}

}  // namespace

int wmain() { return testservice::RunService(ServiceMain); }
