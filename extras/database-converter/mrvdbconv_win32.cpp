// Program start of the wizard: common controls, COM for the file dialog and the shell, the
// wizard window as the main window and its message loop. The program takes no arguments.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <cstdlib>

#include "ufrmDbConverter_win32.h"

namespace {

// Test aid for the UI tests only: MRVDBCONV_TEST_SLOW_CANCEL_MS=<ms> delays the end of a
// cancelled run by that many milliseconds, so the Cancelling state can be seen and
// photographed. Not set in normal use.
unsigned SlowCancelMs() {
  const wchar_t* value = _wgetenv(L"MRVDBCONV_TEST_SLOW_CANCEL_MS");
  if (!value) return 0;
  const long ms = wcstol(value, nullptr, 10);
  return ms > 0 && ms <= 600000 ? static_cast<unsigned>(ms) : 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  INITCOMMONCONTROLSEX icc{sizeof icc,
                           ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
  const HRESULT ole = OleInitialize(nullptr);
  int result = 1;
  {
    mrv::TfrmDbConverter::TOptions options;
    options.SlowCancelMs = SlowCancelMs();
    mrv::TfrmDbConverter form(options);
    if (form.Create(instance, show)) result = form.Run();
  }
  if (SUCCEEDED(ole)) OleUninitialize();
  return result;
}
