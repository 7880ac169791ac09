#pragma once
// The UI driver's hands and eyes on the wizard process: start it, find its window and controls,
// click, type, press keys, answer its message boxes and read everything back from the live
// windows. Every wait polls the live window until a condition holds or a generous limit passes
// (the limit only stops a hung program from hanging the test).

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wizdrv {

// A message box (or other dialog of class #32770) shown by the wizard process.
struct TBox {
  HWND Hwnd = nullptr;
  std::wstring Caption;
  std::wstring Text;  // the longest static text: the message itself
  HWND Owner = nullptr;
  bool HasButton(int id) const;
  explicit operator bool() const { return Hwnd != nullptr; }
};

// Waits until check() is true; false when limitMs passed first.
bool WaitUntil(const std::function<bool()>& check, DWORD limitMs = 30000);

std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

class TWizardApp {
 public:
  ~TWizardApp();
  // Starts the program in workDir and waits for its main window.
  bool Start(const std::wstring& exe, const std::wstring& workDir, std::wstring& error);
  bool Running() const;
  // Waits for the process to end (true when it did); kills it afterwards when it did not.
  bool WaitExit(DWORD limitMs = 30000);
  void Kill();

  HWND Window() const { return hwnd_; }
  bool WindowAlive() const { return hwnd_ && IsWindow(hwnd_); }
  HWND Control(int id) const { return GetDlgItemDeep(hwnd_, id); }
  std::wstring Text(int id) const { return WindowText(Control(id)); }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  // Visible on screen: the control and every parent up to the main window are visible.
  bool Visible(int id) const;
  bool Checked(int id) const;
  HWND Focus() const;  // the control that has the keyboard focus in the wizard's UI thread
  int FocusId() const;

  // Finds a control by class and window text anywhere below the main window.
  HWND FindByText(const std::wstring& className, const std::wstring& text) const;

  // Posted clicks, so that a handler that opens a modal box does not block the driver.
  void Click(int id) const;
  void SetCheck(int id, bool on) const;
  // Puts text into an edit as typing would leave it; the edit notifies its parent itself.
  void Type(int id, const std::wstring& text) const;
  // A key posted to the focused control, as the message loop would receive it.
  void PostKey(WORD vk) const;
  // Real keyboard input (SendInput) with the wizard in the foreground: modifiers held for vk.
  void SendChord(const std::vector<WORD>& modifiers, WORD vk) const;
  void SetFocusTo(int id) const;
  void Foreground() const;

  // The first visible #32770 window of the wizard process (message box or file dialog).
  TBox FindBox() const;
  TBox WaitBox(DWORD limitMs = 30000) const;
  bool WaitNoBox(DWORD limitMs = 30000) const;
  // Presses a button of a box and waits for the box to go away.
  bool Answer(const TBox& box, int buttonId) const;

  DWORD ThreadId() const { return threadId_; }
  DWORD ProcessId() const { return pi_.dwProcessId; }

 private:
  static HWND GetDlgItemDeep(HWND parent, int id);
  PROCESS_INFORMATION pi_{};
  HWND hwnd_ = nullptr;
  DWORD threadId_ = 0;
};

// Windows path of a host path ("/a/b" -> "Z:\a\b"); other paths unchanged.
std::wstring WinPath(const std::wstring& hostPath);
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);
// Text with CR and LF written as \r and \n, for readable failure messages.
std::string Shown(const std::wstring& text);

}  // namespace wizdrv
