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

#include <cwchar>
#include <string>

#include "TestServiceBase_win32.h"

namespace {

using namespace testservice;

DWORD Option(DWORD argc, LPWSTR* argv, const wchar_t* key, DWORD fallback) {
  const std::size_t length = std::wcslen(key);
  for (DWORD i = 1; i < argc; ++i)
    if (std::wcsncmp(argv[i], key, length) == 0 && argv[i][length] == L'=')
      return static_cast<DWORD>(std::wcstoul(argv[i] + length + 1, nullptr, 10));
  return fallback;
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  if (!Begin(argc, argv)) return;
  const DWORD steps = Option(argc, argv, L"steps", 3);
  const DWORD stopSteps = Option(argc, argv, L"stopsteps", 3);
  const DWORD stepMs = Option(argc, argv, L"stepms", 100);
  const DWORD hangMs = Option(argc, argv, L"hangms", 0);
  const bool fail = Option(argc, argv, L"fail", 0) != 0;

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
  End();
}

}  // namespace

int wmain() { return testservice::RunService(ServiceMain); }
