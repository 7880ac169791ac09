// The wizard window's controls: one table of every control with its page, class, text and
// place at 96 DPI; CreateControls scales the places by the system DPI.
#include "ufrmDbConverter_win32.h"

#include <commctrl.h>

#include "ufrmDbConverterIds.h"

namespace mrv {

namespace {

enum TCtlKind : std::uint8_t {
  ckLabel,    // static text
  ckPicture,  // owner-drawn picture (ufrmDbConverterPictures_win32.cpp)
  ckLine,     // etched separator
  ckPanel,    // sunken panel, drawn behind its siblings
  ckButton,
  ckDefButton,
  ckCheck,
  ckEdit,
  ckPathEdit,  // edit with Ctrl+Space
  ckMemo,
  ckProgress,
  ckLink,
};

struct TCtl {
  int Id;
  int Page;  // TWizardPage, or -1 for the frame
  TCtlKind Kind;
  const wchar_t* Text;
  int X, Y, W, H;
  TFontKind Font = fkNormal;
};

constexpr int Frame = -1;

// The four parameters pages are alike; only the IDs and the intro text differ.
#define MRV_PARAMS_PAGE(page, intro, lbPath, editPath, sbtn, lbConn, editConn, btnTest, lbTesting) \
  {intro, page, ckLabel, nullptr, 20, 66, 454, 28},                                                \
      {lbPath, page, ckLabel, L"&Source database file:", 20, 106, 300, 13},                        \
      {editPath, page, ckPathEdit, L"", 20, 122, 418, 21},                                         \
      {sbtn, page, ckButton, L"...", 444, 121, 30, 23},                                            \
      {lbConn, page, ckLabel, L"&Target database connection string:", 20, 156, 300, 13},           \
      {editConn, page, ckEdit, L"", 20, 172, 454, 21},                                             \
      {btnTest, page, ckButton, L"T&est Connection", 20, 204, 110, 23}, {                          \
    lbTesting, page, ckLabel, L"Testing in progress...", 140, 209, 200, 13                         \
  }

const TCtl Controls[] = {
    // Header band, separators and buttons.
    {IDC_lbStepName, Frame, ckLabel, L"Welcome", 16, 10, 410, 14, fkBold},
    {IDC_lbStepProgress, Frame, ckLabel, L"Step 1 of 9", 28, 29, 398, 13},
    {IDC_imgHeader, Frame, ckPicture, L"imgHeader", 436, 4, 48, 48},
    {IDC_bvlHeader, Frame, ckLine, L"", 0, 55, 494, 2},
    {IDC_bvlButtons, Frame, ckLine, L"", 0, 313, 494, 2},
    {IDC_btnBack, Frame, ckButton, L"< &Back", 254, 324, 75, 23},
    {IDC_btnNext, Frame, ckDefButton, L"&Next >", 329, 324, 75, 23},
    {IDC_btnCancel, Frame, ckButton, L"Cancel", 412, 324, 75, 23},

    // tbshWelcome
    {IDC_imgWelcome, tbshWelcome, ckPicture, L"imgWelcome", 12, 66, 112, 238},
    {IDC_Label11, tbshWelcome, ckLabel, L"Welcome to the Mrv Database Converter", 136, 66, 346, 42,
     fkLarge},
    {IDC_Label12, tbshWelcome, ckLabel,
     L"This tool will help you to convert your Mrv local databases\r\ninto Mrv External "
     L"Databases. You may use this tool for\r\nconverting pre-4.0 databases and 4.0+ Private "
     L"Local\r\nDatabases as well.\r\n\r\n\r\n\r\n\r\nClick Next to continue, or Cancel to exit.",
     136, 112, 346, 120},
    {IDC_bvlWelcome, tbshWelcome, ckLine, L"", 136, 238, 346, 2},
    {IDC_Label2, tbshWelcome, ckLabel, L"IMPORTANT:", 136, 248, 68, 13, fkBold},
    {IDC_Label20, tbshWelcome, ckLabel, L"External Databases has to be already set up.", 206, 248,
     276, 13},
    {IDC_imgLinkDbGuides, tbshWelcome, ckPicture, L"imgLinkDbGuides", 136, 274, 16, 16},
    {IDC_lbLinkDbGuides, tbshWelcome, ckLink, L"Learn how to set up External Databases...", 158,
     276, 220, 13, fkLink},

    // tbshSelectDatabases
    {IDC_Label1, tbshSelectDatabases, ckLabel, L"Select the local databases to be converted.", 20,
     68, 454, 13},
    {IDC_chbSelectAswl, tbshSelectDatabases, ckCheck, L"&Automatic Sender Whitelist database", 36,
     96, 330, 17},
    {IDC_chbSelectGrey, tbshSelectDatabases, ckCheck, L"&Greylisting Test database", 36, 122, 330,
     17},
    {IDC_chbSelectDha, tbshSelectDatabases, ckCheck, L"&DHA Protection Test database", 36, 148, 330,
     17},
    {IDC_chbSelectHoneypot, tbshSelectDatabases, ckCheck, L"&Honeypot Test database", 36, 174, 330,
     17},

    MRV_PARAMS_PAGE(tbshSelectAswlDbParams, IDC_Label3, IDC_Label5, IDC_editAswlDbLocalPath,
                    IDC_sbtnSelectAswlDbLocalPath, IDC_Label7, IDC_editAswlDbExternalConnString,
                    IDC_btnTestAswlConnection, IDC_lbTestingAswlConnection),
    MRV_PARAMS_PAGE(tbshSelectGreyDbParams, IDC_Label13, IDC_lbGreyDbLocalPath,
                    IDC_editGreyDbLocalPath, IDC_sbtnSelectGreyDbLocalPath,
                    IDC_lbGreyDbExternalConnString, IDC_editGreyDbExternalConnString,
                    IDC_btnTestGreyConnection, IDC_lbTestingGreyConnection),
    MRV_PARAMS_PAGE(tbshSelectDhaDbParams, IDC_Label4, IDC_Label16, IDC_editDhaDbLocalPath,
                    IDC_sbtnSelectDhaDbLocalPathClick, IDC_Label19, IDC_editDhaDbExternalConnString,
                    IDC_btnTestDhaConnection, IDC_lbTestingDhaConnection),
    MRV_PARAMS_PAGE(tbshSelectHoneypotParams, IDC_Label21, IDC_Label22, IDC_editHoneypotDbLocalPath,
                    IDC_sbtnSelectHoneypotDbLocalPath, IDC_Label23,
                    IDC_editHoneypotDbExternalConnString, IDC_btnTestHoneypotConnection,
                    IDC_lbTestingHoneypotConnection),

    // tbshBeginConversion
    {IDC_Label9, tbshBeginConversion, ckLabel, L"Click Next to start the database conversion.", 20,
     68, 454, 13},
    {IDC_pnlImportant, tbshBeginConversion, ckPanel, L"", 14, 92, 466, 114},
    {IDC_imgImportant, tbshBeginConversion, ckPicture, L"imgImportant", 24, 100, 32, 32},
    {IDC_Label14, tbshBeginConversion, ckLabel, L"IMPORTANT", 64, 110, 200, 13, fkBold},
    {IDC_Label15, tbshBeginConversion, ckLabel,
     L"The Database Converter will stop the Mrv Service for making copies of your\r\ndatabase "
     L"file(s). During this period, Mrv will not filter emails. The Mrv Service\r\nis "
     L"automatically restarted once the databases are copied. This may take a \r\nfew minutes.",
     24, 140, 452, 58},

    // tbshConversion
    {IDC_Label10, tbshConversion, ckLabel, L"Converting the selected database(s)...", 20, 68, 454,
     13},
    {IDC_imgConversion, tbshConversion, ckPicture, L"imgConversion", 20, 92, 32, 32},
    {IDC_lbCurrentOperation, tbshConversion, ckLabel, L"Preparing the conversion...", 62, 96, 412,
     28},
    {IDC_pbarConversion, tbshConversion, ckProgress, L"", 20, 134, 454, 18},
    {IDC_lbEstimatedTimeRemainingTitle, tbshConversion, ckLabel, L"Estimated time remaining:", 20,
     164, 150, 13},
    {IDC_lbEstimatedTimeRemaining, tbshConversion, ckLabel, L"", 172, 164, 200, 13},

    // tbshFinishedWithError
    {IDC_imgConversionError, tbshFinishedWithError, ckPicture, L"imgConversionError", 20, 66, 32,
     32},
    {IDC_lbConversionErrorWarning, tbshFinishedWithError, ckLabel, L"An error has occurred.", 62,
     76, 400, 13, fkBold},
    {IDC_memoConversionErrorInfo, tbshFinishedWithError, ckMemo, L"", 20, 106, 454, 196},

    // tbshGracefulFinish
    {IDC_imgFinished, tbshGracefulFinish, ckPicture, L"imgFinished", 12, 66, 112, 238},
    {IDC_Label17, tbshGracefulFinish, ckLabel, L"Conversion Finished", 136, 66, 346, 42, fkLarge},
    {IDC_Label18, tbshGracefulFinish, ckLabel,
     L"The database conversion was finished successfully.\r\n\r\n\r\nClick Quit to exit from "
     L"this tool.",
     136, 112, 346, 80},
};
#undef MRV_PARAMS_PAGE

const wchar_t* IntroText(int id) {
  switch (id) {
    case IDC_Label3:
      return L"Select the Auto Sender Whitelist source database file and specify the target\r\n"
             L"database connection string.";
    case IDC_Label13:
      return L"Select the Greylisting Test source database file and specify the target "
             L"database\r\nconnection string.";
    case IDC_Label4:
      return L"Select the DHA Protection Test source database file and specify the target\r\n"
             L"database connection string.";
    default:
      return L"Select the Honeypot Test source database file and specify the target\r\n"
             L"database connection string.";
  }
}

HFONT MakeFont(int height, int weight, bool underline) {
  LOGFONTW lf{};
  lf.lfHeight = height;
  lf.lfWeight = weight;
  lf.lfUnderline = underline;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = CLEARTYPE_QUALITY;
  wcscpy_s(lf.lfFaceName, L"MS Shell Dlg 2");
  return CreateFontIndirectW(&lf);
}

}  // namespace

void TfrmDbConverter::CreateControls() {
  fonts_[fkNormal] = MakeFont(-Scale(11), FW_NORMAL, false);
  fonts_[fkBold] = MakeFont(-Scale(11), FW_BOLD, false);
  fonts_[fkLarge] = MakeFont(-Scale(16), FW_BOLD, false);
  fonts_[fkLink] = MakeFont(-Scale(11), FW_NORMAL, true);

  HWND panel = nullptr;
  int label2Right = 0;
  for (const TCtl& c : Controls) {
    const wchar_t* cls = WC_STATICW;
    const wchar_t* text = c.Text ? c.Text : IntroText(c.Id);
    DWORD style = WS_CHILD, ex = 0;
    switch (c.Kind) {
      case ckLabel: style |= SS_LEFT; break;
      case ckPicture: style |= SS_OWNERDRAW; break;
      case ckLine: style |= SS_ETCHEDHORZ; break;
      case ckPanel: style |= SS_SUNKEN | WS_CLIPSIBLINGS; break;
      case ckLink: style |= SS_LEFT | SS_NOTIFY; break;
      case ckButton:
        cls = WC_BUTTONW;
        style |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
      case ckDefButton:
        cls = WC_BUTTONW;
        style |= BS_DEFPUSHBUTTON | WS_TABSTOP;
        break;
      case ckCheck:
        cls = WC_BUTTONW;
        style |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
      case ckEdit:
      case ckPathEdit:
        cls = WC_EDITW;
        style |= ES_AUTOHSCROLL | WS_TABSTOP;
        ex = WS_EX_CLIENTEDGE;
        break;
      case ckMemo:
        cls = WC_EDITW;
        style |= ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_TABSTOP;
        ex = WS_EX_CLIENTEDGE;
        break;
      case ckProgress:
        cls = PROGRESS_CLASSW;
        style |= PBS_SMOOTH;
        break;
    }
    // A label with a mnemonic ("&Source database file:") moves the focus to its edit; every
    // other text is shown as it stands (a status line may hold an ampersand).
    if ((c.Kind == ckLabel || c.Kind == ckLink) && !wcschr(text, L'&')) style |= SS_NOPREFIX;
    int x = c.X, width = c.W;
    if (c.Kind == ckLink || c.Id == IDC_Label2) {
      // As wide as the text: the link's hand cursor and click match its words, and the text
      // after "IMPORTANT:" follows it closely in any font.
      HDC dc = GetDC(hwnd_);
      HGDIOBJ old = SelectObject(dc, Font(c.Font));
      SIZE size{};
      GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
      SelectObject(dc, old);
      ReleaseDC(hwnd_, dc);
      width = MulDiv(size.cx, 96, dpi_) + 2;
      if (c.Id == IDC_Label2) label2Right = c.X + width;
    }
    if (c.Id == IDC_Label20 && label2Right > 0) {
      x = label2Right + 4;
      width = c.X + c.W - x;
    }
    HWND h =
        CreateWindowExW(ex, cls, text, style, Scale(x), Scale(c.Y), Scale(width), Scale(c.H), hwnd_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.Id)), instance_, nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font(c.Font)), FALSE);
    if (c.Kind == ckProgress) SendMessageW(h, PBM_SETRANGE32, 0, 100);
    if (c.Kind == ckPathEdit)
      SetWindowSubclass(h, PathEditProc, 1, reinterpret_cast<DWORD_PTR>(this));
    if (c.Kind == ckPanel) panel = h;
    controls_.push_back(h);
    pages_.push_back(c.Page);
  }
  // The panel lies behind the icon and the labels on it.
  if (panel) SetWindowPos(panel, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

}  // namespace mrv
