#pragma once
// The wizard window (Win32 and common controls). It keeps a TWizardModel, forwards the
// user's input and the run's reports to it and renders what it says: the page of the state,
// the header texts, the buttons and the enabled inputs.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "BaseWide_win32.h"
#include "DbConverterThread_un.h"
#include "RemainingTime_un.h"
#include "WizardModel_un.h"
#include "WizardProgress_un.h"

namespace mrv {

using base::Narrow;
using base::Widen;

// Window messages from the run to the form.
constexpr UINT WM_CONVERSION_STATUS = WM_USER + 501;    // wParam: TStatusRec*
constexpr UINT WM_CONVERSION_PROGRESS = WM_USER + 502;  // the latest value waits in the slot
constexpr UINT WM_CONNECTION_TEST_DONE = WM_APP + 1;    // lParam: TAdoConnectionTestThread*
constexpr UINT WM_CONVERSION_DONE = WM_APP + 2;         // the run's thread has ended
constexpr UINT WM_STARTUP_ERROR = WM_APP + 3;           // lParam: std::wstring* (freed here)

// A status line on its way to the window; the handler frees it.
struct TStatusRec {
  std::wstring Text;
  std::uint64_t Step = 0;  // TProgressSlot::BeginStep
};

// Draws the picture control `id` (ufrmDbConverterPictures_win32.cpp).
void DrawWizardPicture(int id, HDC dc, const RECT& rect, COLORREF background);

// Fonts of the form, scaled to the system DPI.
enum TFontKind : std::uint8_t { fkNormal, fkBold, fkLarge, fkLink };

class TfrmDbConverter {
 public:
  struct TOptions {
    // Test aid: a cancelled run reports its end this much later, so that a UI test can see
    // the Cancelling state (MRVDBCONV_TEST_SLOW_CANCEL_MS, read by the program start).
    unsigned SlowCancelMs = 0;
  };

  explicit TfrmDbConverter(TOptions options);
  ~TfrmDbConverter();
  TfrmDbConverter(const TfrmDbConverter&) = delete;
  TfrmDbConverter& operator=(const TfrmDbConverter&) = delete;

  // Creates the window (FormCreate included) and shows it.
  bool Create(HINSTANCE instance, int show);
  HWND Handle() const { return hwnd_; }
  // The message loop with the dialog keys (Tab, Enter, Esc); returns when the window is gone.
  int Run();

  // Shows a box of the model owned by the form; callable from any thread.
  TBoxAnswer ShowBox(const TMessageBox& box) const;

 private:
  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PathEditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR refData);
  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

  // ufrmDbConverterLayout_win32.cpp
  void CreateControls();
  HFONT Font(TFontKind kind) const { return fonts_[kind]; }
  int Scale(int px) const { return MulDiv(px, dpi_, 96); }

  // ufrmDbConverter_win32.cpp
  void FormCreate();
  void UpdateWizard();
  void EnsureFocus();
  void OnCommand(int id, int code, HWND control);
  void btnNextClick();
  void btnBackClick();
  void btnCancelClick();
  void FormCloseQuery();
  void RequestExit(TExitAction action);
  void BrowseForDatabase(int kind);
  void lbLinkDbGuidesClick();
  bool FileNameEditKeyDown(HWND edit, WPARAM key);
  void SetEditText(int id, const std::string& utf8);
  std::string EditText(int id) const;
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  void FocusControl(int id);
  void ShowException(const std::exception& e);
  void Paint();
  LRESULT CtlColor(HDC dc, HWND control);

  // ufrmDbConverterRun_win32.cpp
  void StartConnectionTest(int kind);
  void ConnectionTestFinished(LPARAM thread);
  void StartConversion();
  void OnConversionStatus(WPARAM rec);
  void OnConversionProgress();
  void ApplyProgress(const TProgressValue& value);
  void ConversionFinished();
  void Flash();

  TOptions options_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  HFONT fonts_[4] = {};
  HBRUSH whiteBrush_ = nullptr;
  std::vector<HWND> controls_;  // every child, with its page in pages_
  std::vector<int> pages_;      // -1: on every page
  int shownPage_ = -1;
  HWND lastFocus_ = nullptr;  // focused control while the window is inactive
  bool estimateVisible_ = false;
  bool updating_ = false;      // edits filled by the program, not the user
  bool swallowSpace_ = false;  // the Space of a Ctrl+Space already handled

  TWizardModel model_;
  // The run of state 7 on: its settings record and worker (both set between StartConversion
  // and ConversionFinished).
  std::unique_ptr<TDbConversionInfo> info_;
  std::unique_ptr<TDbConverterThread> thread_;
  TProgressSlot progress_;
  TRemainingTimeEstimate estimate_;
  int barPosition_ = 0;
};

}  // namespace mrv
