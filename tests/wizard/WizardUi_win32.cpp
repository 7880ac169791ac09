// Reaching into the live wizard process: its windows, controls, focus and message boxes.
#include "WizardUi_win32.h"

#include <algorithm>

namespace wizdrv {

namespace {

constexpr DWORD kSendLimitMs = 10000;

struct TFindTop {
  DWORD Pid;
  HWND Exclude;
  const wchar_t* ClassName;  // nullptr: any class
  const wchar_t* Caption;    // nullptr: any caption
  HWND Found = nullptr;
};

BOOL CALLBACK FindTopProc(HWND hwnd, LPARAM param) {
  auto* find = reinterpret_cast<TFindTop*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != find->Pid || hwnd == find->Exclude || !IsWindowVisible(hwnd)) return TRUE;
  if (find->ClassName && ClassName(hwnd) != find->ClassName) return TRUE;
  if (find->Caption && WindowText(hwnd) != find->Caption) return TRUE;
  find->Found = hwnd;
  return FALSE;
}

HWND FindTop(DWORD pid, HWND exclude, const wchar_t* className, const wchar_t* caption) {
  TFindTop find{pid, exclude, className, caption};
  EnumWindows(FindTopProc, reinterpret_cast<LPARAM>(&find));
  return find.Found;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM param) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& check, DWORD limitMs) {
  const ULONGLONG end = GetTickCount64() + limitMs;
  for (;;) {
    if (check()) return true;
    if (GetTickCount64() > end) return false;
    Sleep(25);
  }
}

std::wstring WindowText(HWND hwnd) {
  if (!hwnd) return L"<no window>";
  // WM_GETTEXT crosses the process boundary (GetWindowText would only give another process's
  // creation caption for an edit control).
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendLimitMs, &length))
    return L"<no answer>";
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_NORMAL, kSendLimitMs, &copied);
  text.resize(std::min<size_t>(copied, length));
  return text;
}

std::wstring ClassName(HWND hwnd) {
  wchar_t name[128] = {};
  GetClassNameW(hwnd, name, 128);
  return name;
}

bool TBox::HasButton(int id) const {
  HWND button = GetDlgItem(Hwnd, id);
  return button && IsWindowVisible(button);
}

TWizardApp::~TWizardApp() { Kill(); }

bool TWizardApp::Start(const std::wstring& exe, const std::wstring& workDir, std::wstring& error) {
  std::wstring commandLine = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.c_str(), &si, &pi_)) {
    error = L"CreateProcess failed with " + std::to_wstring(GetLastError());
    return false;
  }
  WaitForInputIdle(pi_.hProcess, 30000);
  const bool found = WaitUntil([this] {
    hwnd_ = FindTop(pi_.dwProcessId, nullptr, nullptr, L"Mrv Database Converter");
    return hwnd_ != nullptr || !Running();
  });
  if (!found || !hwnd_) {
    error = L"no window captioned \"Mrv Database Converter\" appeared";
    return false;
  }
  threadId_ = GetWindowThreadProcessId(hwnd_, nullptr);
  return true;
}

bool TWizardApp::Running() const {
  return pi_.hProcess && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT;
}

bool TWizardApp::WaitExit(DWORD limitMs) {
  if (!pi_.hProcess) return true;
  const bool ended = WaitForSingleObject(pi_.hProcess, limitMs) == WAIT_OBJECT_0;
  if (!ended) Kill();
  return ended;
}

void TWizardApp::Kill() {
  if (!pi_.hProcess) return;
  if (Running()) {
    TerminateProcess(pi_.hProcess, 99);
    WaitForSingleObject(pi_.hProcess, 10000);
  }
  CloseHandle(pi_.hProcess);
  CloseHandle(pi_.hThread);
  pi_ = {};
  hwnd_ = nullptr;
}

HWND TWizardApp::GetDlgItemDeep(HWND parent, int id) {
  if (!parent) return nullptr;
  for (HWND child : Descendants(parent))
    if (GetDlgCtrlID(child) == id) return child;
  return nullptr;
}

bool TWizardApp::Visible(int id) const {
  HWND control = Control(id);
  return control && IsWindowVisible(control);
}

bool TWizardApp::Checked(int id) const {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(Control(id), BM_GETCHECK, 0, 0, SMTO_NORMAL, kSendLimitMs, &state);
  return state == BST_CHECKED;
}

HWND TWizardApp::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(threadId_, &info)) return nullptr;
  return info.hwndFocus;
}

int TWizardApp::FocusId() const {
  HWND focus = Focus();
  if (!focus) return 0;
  // An edit inside a combo box (the file dialog) counts as its parent.
  return GetDlgCtrlID(focus);
}

HWND TWizardApp::FindByText(const std::wstring& className, const std::wstring& text) const {
  for (HWND child : Descendants(hwnd_))
    if (ClassName(child) == className && WindowText(child) == text) return child;
  return nullptr;
}

void TWizardApp::Click(int id) const { PostMessageW(Control(id), BM_CLICK, 0, 0); }

void TWizardApp::SetCheck(int id, bool on) const {
  if (Checked(id) == on) return;
  Click(id);
  WaitUntil([&] { return Checked(id) == on; }, 10000);
}

void TWizardApp::Type(int id, const std::wstring& text) const {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                      SMTO_NORMAL, kSendLimitMs, &result);
}

void TWizardApp::PostKey(WORD vk) const {
  HWND target = Focus();
  if (!target) target = hwnd_;
  const UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, 1 | (scan << 16));
  PostMessageW(target, WM_KEYUP, vk, 1 | (scan << 16) | (1u << 30) | (1u << 31));
}

void TWizardApp::SendChord(const std::vector<WORD>& modifiers, WORD vk) const {
  Foreground();
  std::vector<INPUT> inputs;
  auto key = [&](WORD code, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = code;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(code, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
  };
  for (WORD m : modifiers) key(m, false);
  key(vk, false);
  key(vk, true);
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) key(*it, true);
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void TWizardApp::SetFocusTo(int id) const {
  // SetFocus only works for windows of the calling thread's input queue: share it briefly.
  HWND control = Control(id);
  const DWORD self = GetCurrentThreadId();
  AttachThreadInput(self, threadId_, TRUE);
  SetFocus(control);
  AttachThreadInput(self, threadId_, FALSE);
  WaitUntil([&] { return Focus() == control; }, 5000);
}

void TWizardApp::Foreground() const {
  const DWORD self = GetCurrentThreadId();
  AttachThreadInput(self, threadId_, TRUE);
  SetForegroundWindow(hwnd_);
  BringWindowToTop(hwnd_);
  AttachThreadInput(self, threadId_, FALSE);
  WaitUntil([&] { return GetForegroundWindow() == hwnd_; }, 5000);
}

TBox TWizardApp::FindBox() const {
  TBox box;
  box.Hwnd = FindTop(pi_.dwProcessId, hwnd_, L"#32770", nullptr);
  if (!box.Hwnd) return box;
  box.Caption = WindowText(box.Hwnd);
  box.Owner = GetWindow(box.Hwnd, GW_OWNER);
  for (HWND child : Descendants(box.Hwnd)) {
    if (ClassName(child) != L"Static" || GetParent(child) != box.Hwnd) continue;
    if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::wstring text = WindowText(child);
    if (text.size() > box.Text.size()) box.Text = text;
  }
  return box;
}

TBox TWizardApp::WaitBox(DWORD limitMs) const {
  TBox box;
  WaitUntil(
      [&] {
        box = FindBox();
        return static_cast<bool>(box) || !Running();
      },
      limitMs);
  return box;
}

bool TWizardApp::WaitNoBox(DWORD limitMs) const {
  return WaitUntil([&] { return !FindBox(); }, limitMs);
}

bool TWizardApp::Answer(const TBox& box, int buttonId) const {
  HWND button = GetDlgItem(box.Hwnd, buttonId);
  if (!button) return false;
  PostMessageW(button, BM_CLICK, 0, 0);
  return WaitUntil([&] { return !IsWindow(box.Hwnd) || !IsWindowVisible(box.Hwnd); }, 15000);
}

std::wstring WinPath(const std::wstring& hostPath) {
  if (hostPath.empty() || hostPath[0] != L'/') return hostPath;
  std::wstring path = L"Z:" + hostPath;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string narrow(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n,
                      nullptr, nullptr);
  return narrow;
}

std::string Shown(const std::wstring& text) {
  std::string out;
  for (char c : Narrow(text)) {
    if (c == '\r')
      out += "\\r";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

}  // namespace wizdrv
