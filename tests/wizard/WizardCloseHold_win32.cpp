// A message hook the UI driver places on the wizard's user-interface thread to hold the
// WM_CLOSE that the wizard posts to itself after a cancelled run, so that the final
// "Conversion Cancelled" page can be read and photographed before the window goes. While the
// driver's named event exists, a WM_CLOSE taken from the queue for a top-level window is
// turned into WM_NULL and the event is set; the driver then sends the close itself.

#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK
    MrvWizardHoldClose(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    MSG* msg = reinterpret_cast<MSG*>(lParam);
    if (msg->message == WM_CLOSE && msg->hwnd && !GetParent(msg->hwnd)) {
      HANDLE seen = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"MrvWizardDriverCloseHeld");
      if (seen) {
        msg->message = WM_NULL;
        SetEvent(seen);
        CloseHandle(seen);
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
