// The wizard window: creation and start-up, rendering of the model's view, navigation, the
// exit rules, the file dialog and the guide link.
#include "ufrmDbConverter_win32.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include "MrvConfigPeek_un.h"
#include "ufrmDbConverterIds.h"

namespace mrv {

namespace {

const wchar_t* const WindowClass = L"TfrmDbConverter";
const wchar_t* const AppTitle = L"Mrv Database Converter";
constexpr int ClientWidth = 494, ClientHeight = 356, HeaderHeight = 55;
constexpr DWORD FormStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

}  // namespace

TfrmDbConverter::TfrmDbConverter(TOptions options) : options_(options) {}

TfrmDbConverter::~TfrmDbConverter() {
  // A window closed by the system while a run still works: wait for the worker to end.
  if (thread_) {
    thread_->Cancel();
    thread_->WaitFor();
  }
  for (HFONT f : fonts_)
    if (f) DeleteObject(f);
  if (whiteBrush_) DeleteObject(whiteBrush_);
}

bool TfrmDbConverter::Create(HINSTANCE instance, int show) {
  instance_ = instance;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MRVDBCONV));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_MRVDBCONV), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = WindowClass;
  if (!RegisterClassExW(&wc)) return false;

  HDC screen = GetDC(nullptr);
  dpi_ = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi_ <= 0) dpi_ = 96;
  whiteBrush_ = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));

  RECT r{0, 0, Scale(ClientWidth), Scale(ClientHeight)};
  AdjustWindowRectEx(&r, FormStyle, FALSE, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int x = work.left + ((work.right - work.left) - w) / 2;
  const int y = work.top + ((work.bottom - work.top) - h) / 2;
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, WindowClass, AppTitle, FormStyle, x, y, w, h,
                          nullptr, nullptr, instance, this);
  if (!hwnd_) return false;
  ShowWindow(hwnd_, show);
  UpdateWindow(hwnd_);
  EnsureFocus();
  return true;
}

int TfrmDbConverter::Run() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK TfrmDbConverter::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TfrmDbConverter*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    self = static_cast<TfrmDbConverter*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
  try {
    return self->Handle(msg, wParam, lParam);
  } catch (const std::exception& e) {
    self->ShowException(e);
    return 0;
  }
}

LRESULT TfrmDbConverter::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      FormCreate();
      return 0;
    case WM_PAINT: Paint(); return 0;
    case WM_CTLCOLORSTATIC:
      return CtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_DRAWITEM: {
      const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      const bool header = di->CtlID == IDC_imgHeader;
      DrawWizardPicture(static_cast<int>(di->CtlID), di->hDC, di->rcItem,
                        header ? RGB(0xFF, 0xFF, 0xFF) : GetSysColor(COLOR_BTNFACE));
      return TRUE;
    }
    case WM_SETCURSOR:
      if (model_.ConnectionTestRunning()) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32514)));  // IDC_WAIT
        return TRUE;
      }
      if (reinterpret_cast<HWND>(wParam) == Item(IDC_lbLinkDbGuides)) {
        SetCursor(LoadCursorW(nullptr, MAKEINTRESOURCEW(32649)));  // IDC_HAND
        return TRUE;
      }
      break;
    case WM_ACTIVATE:
      // Like a dialog: the focused control is kept while another window (a box, the file
      // dialog) is active and gets the focus back afterwards.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(hwnd_, f)) lastFocus_ = f;
      } else if (lastFocus_ && IsWindow(lastFocus_) && IsWindowVisible(lastFocus_) &&
                 IsWindowEnabled(lastFocus_)) {
        SetFocus(lastFocus_);
      } else {
        EnsureFocus();
      }
      return 0;
    case DM_GETDEFID: return MAKELRESULT(IDC_btnNext, DC_HASDEFID);
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_CLOSE: FormCloseQuery(); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_CONVERSION_STATUS: OnConversionStatus(wParam); return 0;
    case WM_CONVERSION_PROGRESS: OnConversionProgress(); return 0;
    case WM_CONNECTION_TEST_DONE: ConnectionTestFinished(lParam); return 0;
    case WM_CONVERSION_DONE: ConversionFinished(); return 0;
    case WM_STARTUP_ERROR: {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
      MessageBoxW(hwnd_, text->c_str(), AppTitle, MB_OK | MB_ICONERROR);
      return 0;
    }
    default: break;
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

void TfrmDbConverter::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT header{0, 0, Scale(ClientWidth), Scale(HeaderHeight)};
  FillRect(dc, &header, whiteBrush_);
  EndPaint(hwnd_, &ps);
}

LRESULT TfrmDbConverter::CtlColor(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  if (id == IDC_lbStepName || id == IDC_lbStepProgress || id == IDC_imgHeader) {
    SetBkColor(dc, RGB(0xFF, 0xFF, 0xFF));
    return reinterpret_cast<LRESULT>(whiteBrush_);
  }
  if (id == IDC_lbLinkDbGuides) SetTextColor(dc, RGB(0x00, 0x00, 0xFF));
  SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
  return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

void TfrmDbConverter::ShowException(const std::exception& e) {
  MessageBoxW(hwnd_, Widen(e.what()).c_str(), AppTitle, MB_OK | MB_ICONERROR);
}

TBoxAnswer TfrmDbConverter::ShowBox(const TMessageBox& box) const {
  UINT flags = MB_OK;
  if (box.Buttons == bbYesNo) flags = MB_YESNO;
  if (box.Buttons == bbYesNoCancel) flags = MB_YESNOCANCEL;
  flags |= box.Icon == biError      ? MB_ICONERROR
           : box.Icon == biQuestion ? MB_ICONQUESTION
                                    : MB_ICONINFORMATION;
  switch (MessageBoxW(hwnd_, Widen(box.Text).c_str(), Widen(box.Caption).c_str(), flags)) {
    case IDYES: return baYes;
    case IDNO: return baNo;
    case IDCANCEL: return baCancel;
    default: return baOk;
  }
}

void TfrmDbConverter::SetEditText(int id, const std::string& utf8) {
  updating_ = true;
  SetWindowTextW(Item(id), Widen(utf8).c_str());
  updating_ = false;
}

std::string TfrmDbConverter::EditText(int id) const {
  HWND h = GetDlgItem(hwnd_, id);
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(h)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(h, text.data(), static_cast<int>(text.size()))));
  return Narrow(text);
}

void TfrmDbConverter::FormCreate() {
  model_.SetState(wsWelcome);
  UpdateWizard();
  std::string error;
  try {
    model_.Prefill([](int kind) { return TMrvConfigPeek::GetDatabaseFileName(kind); },
                   [](int kind) { return TMrvConfigPeek::GetExternalConnectionString(kind); });
  } catch (const std::exception& e) {
    error = e.what();
  }
  for (int kind = 0; kind < DatabaseKindCount; ++kind) {
    const TKindControls& c = KindControls(kind);
    SetEditText(c.PathEdit, model_.SourcePath[static_cast<std::size_t>(kind)]);
    SetEditText(c.ConnectionEdit, model_.ConnectionText[static_cast<std::size_t>(kind)]);
  }
  UpdateWizard();
  // The error is shown once the window is on screen; the form opens regardless.
  if (!error.empty())
    PostMessageW(hwnd_, WM_STARTUP_ERROR, 0,
                 reinterpret_cast<LPARAM>(new std::wstring(Widen(error))));
}

void TfrmDbConverter::UpdateWizard() {
  const TWizardView view = model_.UpdateWizard();
  const int testing = model_.TestedKind();
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    HWND h = controls_[i];
    const int id = GetDlgCtrlID(h);
    bool visible = pages_[i] < 0 || pages_[i] == view.Page;
    const int kind = KindOfControl(id);
    for (int k = 0; k < DatabaseKindCount; ++k)
      if (id == KindControls(k).TestingLabel) visible = visible && testing == k;
    if (id == IDC_lbEstimatedTimeRemaining || id == IDC_lbEstimatedTimeRemainingTitle)
      visible = visible && estimateVisible_;
    bool enabled = true;
    if (kind >= 0) {
      enabled = id == KindControls(kind).TestButton
                    ? view.TestEnabled[static_cast<std::size_t>(kind)]
                    : view.InputsEnabled;
    }
    if (id == IDC_btnBack) enabled = view.Buttons.BackEnabled;
    if (id == IDC_btnNext) enabled = view.Buttons.NextEnabled;
    if (id == IDC_btnCancel) enabled = view.Buttons.CancelEnabled;
    if ((IsWindowEnabled(h) != FALSE) != enabled) EnableWindow(h, enabled);
    if ((IsWindowVisible(h) != FALSE) != visible) ShowWindow(h, visible ? SW_SHOWNA : SW_HIDE);
  }
  SetWindowTextW(Item(IDC_lbStepName), Widen(view.StepName).c_str());
  SetWindowTextW(Item(IDC_lbStepProgress), Widen(view.StepProgress).c_str());
  SetWindowTextW(Item(IDC_btnNext), Widen(view.Buttons.NextCaption).c_str());
  SetWindowTextW(Item(IDC_btnCancel), Widen(view.Buttons.CancelCaption).c_str());

  const bool pageChanged = shownPage_ != view.Page;
  shownPage_ = view.Page;
  if (pageChanged && view.Page >= tbshSelectAswlDbParams && view.Page <= tbshSelectHoneypotParams) {
    // Parameters page shown: focus its first empty input.
    const int focus = model_.ParamsPageFocus(view.Page - tbshSelectAswlDbParams);
    if (focus) FocusControl(focus);
  }
  EnsureFocus();
}

void TfrmDbConverter::FocusControl(int id) {
  HWND h = Item(id);
  if (h && IsWindowVisible(h) && IsWindowEnabled(h)) {
    SetFocus(h);
    if (KindOfControl(id) >= 0) SendMessageW(h, EM_SETSEL, 0, -1);
  }
}

void TfrmDbConverter::EnsureFocus() {
  // Keeps the keyboard on a usable control of the window, so Enter and Esc keep working
  // after the focused control was hidden or disabled.
  if (GetForegroundWindow() != hwnd_ && GetActiveWindow() != hwnd_) return;
  HWND f = GetFocus();
  if (f && (f == hwnd_ || IsChild(hwnd_, f)) && f != hwnd_ && IsWindowVisible(f) &&
      IsWindowEnabled(f))
    return;
  for (int id : {IDC_btnNext, IDC_btnCancel, IDC_btnBack}) {
    HWND h = Item(id);
    if (IsWindowEnabled(h)) {
      SetFocus(h);
      return;
    }
  }
  SetFocus(hwnd_);
}

void TfrmDbConverter::OnCommand(int id, int code, HWND control) {
  if (id == IDCANCEL && !control) {
    // Esc presses Cancel, when it can be pressed.
    if (IsWindowEnabled(Item(IDC_btnCancel))) btnCancelClick();
    return;
  }
  const int kind = KindOfControl(id);
  if (code == EN_CHANGE && kind >= 0) {
    const TKindControls& c = KindControls(kind);
    if (id == c.PathEdit) model_.SourcePath[static_cast<std::size_t>(kind)] = EditText(id);
    if (id == c.ConnectionEdit) {
      model_.ConnectionText[static_cast<std::size_t>(kind)] = EditText(id);
      if (!updating_) UpdateWizard();  // editExternalConnStringChange
    }
    return;
  }
  if (code != BN_CLICKED && code != STN_CLICKED) return;
  switch (id) {
    case IDC_btnNext: btnNextClick(); return;
    case IDC_btnBack: btnBackClick(); return;
    case IDC_btnCancel: btnCancelClick(); return;
    case IDC_lbLinkDbGuides: lbLinkDbGuidesClick(); return;
    default: break;
  }
  for (int k = 0; k < DatabaseKindCount; ++k) {
    const TKindControls& c = KindControls(k);
    if (id == c.CheckBox)
      model_.Selected[static_cast<std::size_t>(k)] =
          SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    if (id == c.BrowseButton) BrowseForDatabase(k);
    if (id == c.TestButton) StartConnectionTest(k);
  }
}

void TfrmDbConverter::btnNextClick() {
  if (!IsWindowEnabled(Item(IDC_btnNext))) return;
  bool start = false;
  const TValidation v = model_.GoNext(start);
  if (!v.Ok) {
    ShowBox(v.Box);
    FocusControl(v.FocusControl);
    return;
  }
  UpdateWizard();
  if (start) StartConversion();
}

void TfrmDbConverter::btnBackClick() {
  if (!IsWindowEnabled(Item(IDC_btnBack))) return;
  model_.GoBack();
  UpdateWizard();
}

void TfrmDbConverter::btnCancelClick() { RequestExit(model_.CancelButtonAction()); }

void TfrmDbConverter::FormCloseQuery() { RequestExit(model_.CloseBoxAction()); }

void TfrmDbConverter::RequestExit(TExitAction action) {
  if (action == eaClose) {
    DestroyWindow(hwnd_);
    return;
  }
  if (action != eaAskExit) return;
  const TWizardState asked = model_.State();
  if (ShowBox(model_.ExitQuestionBox()) != baYes) return;
  // The run may have ended while the question was open; its closing page stands then.
  if (model_.State() != asked) return;
  const TExitConfirmed next = model_.ExitConfirmed(thread_ != nullptr);
  UpdateWizard();
  if (next == ecCancelRun) {
    // Cancelling shows at once; the cancel itself may take a moment while a running service
    // operation winds down.
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    thread_->Cancel();
  } else {
    UpdateWindow(hwnd_);
    DestroyWindow(hwnd_);
  }
}

void TfrmDbConverter::BrowseForDatabase(int kind) {
  const TKindControls& c = KindControls(kind);
  wchar_t file[MAX_PATH * 4] = {};
  wcsncpy_s(file, Widen(c.DefaultFileName).c_str(), _TRUNCATE);
  // Start in the folder of the path already entered, if any.
  std::wstring current = Widen(EditText(c.PathEdit));
  std::wstring folder;
  const std::size_t cut = current.find_last_of(L"\\/");
  if (cut != std::wstring::npos) folder = current.substr(0, cut);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = L"Mrv Database File (*.abs)\0*.abs\0All Files (*.*)\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = static_cast<DWORD>(std::size(file));
  ofn.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  ofn.lpstrTitle = L"Open Database File";
  ofn.lpstrDefExt = L"abs";
  ofn.Flags =
      OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_ENABLESIZING | OFN_EXPLORER;
  if (GetOpenFileNameW(&ofn)) {
    SetWindowTextW(Item(c.PathEdit), file);  // EN_CHANGE hands it to the model
    FocusControl(c.PathEdit);
  }
}

bool TfrmDbConverter::FileNameEditKeyDown(HWND edit, WPARAM key) {
  if (key != VK_SPACE || GetKeyState(VK_CONTROL) >= 0) return false;
  const int kind = KindOfControl(GetDlgCtrlID(edit));
  if (kind < 0) return false;
  swallowSpace_ = true;
  BrowseForDatabase(kind);
  return true;
}

LRESULT CALLBACK TfrmDbConverter::PathEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                               UINT_PTR, DWORD_PTR refData) {
  auto* self = reinterpret_cast<TfrmDbConverter*>(refData);
  try {
    if (msg == WM_KEYDOWN) {
      self->swallowSpace_ = false;
      if (self->FileNameEditKeyDown(hwnd, wParam)) return 0;
    }
  } catch (const std::exception& e) {
    self->ShowException(e);
    return 0;
  }
  // The character of the Ctrl+Space that opened the dialog is not typed into the edit.
  if (msg == WM_CHAR && wParam == L' ' && (self->swallowSpace_ || GetKeyState(VK_CONTROL) < 0)) {
    self->swallowSpace_ = false;
    return 0;
  }
  return DefSubclassProc(hwnd, msg, wParam, lParam);
}

void TfrmDbConverter::lbLinkDbGuidesClick() {
  // The guide is shipped beside the program.
  wchar_t exe[MAX_PATH * 4] = {};
  const DWORD n = GetModuleFileNameW(nullptr, exe, static_cast<DWORD>(std::size(exe)));
  std::wstring path(exe, n);
  const std::size_t cut = path.find_last_of(L"\\/");
  path = (cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1)) +
         L"external-databases.html";
  ShellExecuteW(hwnd_, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace mrv
