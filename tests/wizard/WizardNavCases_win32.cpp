// Cases on the pages before the run: the walk, the skipping, validation with its focus, the
// keyboard, the close box and the file dialog.
#include "WizardDriver_win32.h"

namespace wizdrv {

namespace {

struct TParamsPage {
  int Intro, PathLabel, ConnLabel;
  const wchar_t* IntroText;
};
const TParamsPage kParamsPages[4] = {
    {IDC_Label3, IDC_Label5, IDC_Label7,
     L"Select the Auto Sender Whitelist source database file and specify the target\r\ndatabase "
     L"connection string."},
    {IDC_Label13, IDC_lbGreyDbLocalPath, IDC_lbGreyDbExternalConnString,
     L"Select the Greylisting Test source database file and specify the target database\r\n"
     L"connection string."},
    {IDC_Label4, IDC_Label16, IDC_Label19,
     L"Select the DHA Protection Test source database file and specify the target\r\ndatabase "
     L"connection string."},
    {IDC_Label21, IDC_Label22, IDC_Label23,
     L"Select the Honeypot Test source database file and specify the target\r\ndatabase connection "
     L"string."},
};
const wchar_t* const kCheckTexts[4] = {
    L"&Automatic Sender Whitelist database", L"&Greylisting Test database",
    L"&DHA Protection Test database", L"&Honeypot Test database"};

const wchar_t* const kExitQuestion = L"Exit Database Converter?";

// Texts of one parameters page and its pre-filled values (from mrvent.ini via MRVSVC).
void CheckParamsPage(TDriver& d, TWizardApp& app, int kind) {
  const TParamsPage& p = kParamsPages[kind];
  const std::string at = "parameters page of kind " + std::to_string(kind);
  d.CheckText(app.Text(p.Intro), p.IntroText, at + ": intro label");
  d.CheckText(app.Text(p.PathLabel), L"&Source database file:", at + ": path label");
  d.CheckText(app.Text(p.ConnLabel), L"&Target database connection string:",
              at + ": connection label");
  d.CheckText(app.Text(kKindTest[kind]), L"T&est Connection", at + ": test button");
  d.CheckText(app.Text(kKindTesting[kind]), L"Testing in progress...", at + ": testing label");
  d.Check(!app.Visible(kKindTesting[kind]), at + ": the testing label shows before any test");
  d.CheckText(app.Text(kKindPath[kind]), d.WinWork(L"src") + L"\\" + kKindFiles[kind],
              at + ": pre-filled source path");
  d.CheckText(app.Text(kKindConn[kind]), d.TargetConnection(),
              at + ": pre-filled connection string");
  d.Check(app.Enabled(kKindTest[kind]), at + ": test button disabled with a connection string");
}

}  // namespace

void CaseWalkAllPages(TDriver& d, TWizardApp& app) {
  d.Record(app, 0);
  d.CheckText(app.Text(IDC_Label11), L"Welcome to the Mrv Database Converter", "Label11");
  d.CheckText(app.Text(IDC_Label12),
              L"This tool will help you to convert your Mrv local databases\r\ninto Mrv External "
              L"Databases. You may use this tool for\r\nconverting pre-4.0 databases and 4.0+ "
              L"Private Local\r\nDatabases as well.\r\n\r\n\r\n\r\n\r\nClick Next to continue, or "
              L"Cancel to exit.",
              "Label12");
  d.CheckText(app.Text(IDC_Label2), L"IMPORTANT:", "Label2");
  d.CheckText(app.Text(IDC_Label20), L"External Databases has to be already set up.", "Label20");
  d.CheckText(app.Text(IDC_lbLinkDbGuides), L"Learn how to set up External Databases...",
              "lbLinkDbGuides");
  d.CheckText(WindowText(app.Window()), L"Mrv Database Converter", "window caption");
  RECT client{};
  GetClientRect(app.Window(), &client);
  d.Check(client.right == 494 && client.bottom == 356,
          "client area is " + std::to_string(client.right) + " x " + std::to_string(client.bottom) +
              ", expected 494 x 356 at 96 DPI");

  if (!d.GoTo(app, true, 1)) return;
  d.Record(app, 1);
  d.CheckText(app.Text(IDC_Label1), L"Select the local databases to be converted.", "Label1");
  for (int k = 0; k < 4; ++k) {
    d.CheckText(app.Text(kKindCheck[k]), kCheckTexts[k], "check box " + std::to_string(k));
    d.Check(!app.Checked(kKindCheck[k]), "check box " + std::to_string(k) + " is ticked at start");
    app.SetCheck(kKindCheck[k], true);
  }
  for (int state = 2; state <= 5; ++state) {
    if (!d.GoTo(app, true, state)) return;
    d.Record(app, state);
    CheckParamsPage(d, app, state - 2);
  }
  if (!d.GoTo(app, true, 6)) return;
  d.Record(app, 6);
  d.CheckText(app.Text(IDC_Label9), L"Click Next to start the database conversion.", "Label9");
  d.CheckText(app.Text(IDC_Label14), L"IMPORTANT", "Label14");
  d.CheckText(
      app.Text(IDC_Label15),
      L"The Database Converter will stop the Mrv Service for making copies of your\r\n"
      L"database file(s). During this period, Mrv will not filter emails. The Mrv Service\r\n"
      L"is automatically restarted once the databases are copied. This may take a \r\nfew "
      L"minutes.",
      "Label15");
  // All the way back; the ticks stay.
  for (int state = 5; state >= 0; --state) {
    if (!d.GoTo(app, false, state)) return;
    d.ExpectState(app, state, "walking back");
  }
  d.Check(app.Checked(IDC_chbSelectHoneypot), "the ticks did not persist while moving back");
  // Cancel on the welcome page asks, and Yes ends the program.
  app.Click(IDC_btnCancel);
  d.ExpectBox(app, L"Confirmation", kExitQuestion, {IDYES, IDNO}, IDYES,
              "Cancel on the welcome page");
  d.Check(app.WaitExit(), "the wizard did not end after Cancel answered Yes");
}

void CaseOnlyHoneypot(TDriver& d, TWizardApp& app) {
  if (!d.SelectOnly(app, {3})) return;
  d.ExpectState(app, 5, "Next from the selection with only Honeypot");
  if (!d.GoTo(app, true, 6)) return;
  if (!d.GoTo(app, false, 5)) return;
  d.ExpectState(app, 5, "Back from the begin page");
  if (!d.GoTo(app, false, 1)) return;
  d.ExpectState(app, 1, "Back from the Honeypot page");
  d.CloseConfirmed(app);
}

void CaseValidation(TDriver& d, TWizardApp& app) {
  if (!d.GoTo(app, true, 1)) return;
  d.Next(app);
  d.ExpectBox(app, L"Error", L"Please select at least one database to be converted.", {IDOK}, IDOK,
              "Next with nothing ticked");
  d.ExpectState(app, 1, "after the selection error");
  d.ExpectFocus(app, IDC_chbSelectAswl, "after the selection error");

  app.SetCheck(IDC_chbSelectGrey, true);
  if (!d.GoTo(app, true, 3)) return;
  const std::wstring goodPath = app.Text(IDC_editGreyDbLocalPath);
  const std::wstring badPaths[] = {L"", d.WinWork(L"src"), d.WinWork(L"src\\nothing-here.abs")};
  const char* const badNames[] = {"an empty path", "a folder as path", "a missing file"};
  for (int i = 0; i < 3; ++i) {
    app.Type(IDC_editGreyDbLocalPath, badPaths[i]);
    d.Next(app);
    d.ExpectBox(app, L"Error", L"Please enter a valid and existing database path.", {IDOK}, IDOK,
                std::string("Next with ") + badNames[i]);
    d.ExpectState(app, 3, std::string("after ") + badNames[i]);
    d.ExpectFocus(app, IDC_editGreyDbLocalPath, std::string("after ") + badNames[i]);
  }
  app.Type(IDC_editGreyDbLocalPath, goodPath);

  // Blanks only: the test button is disabled and Next asks for the string.
  app.Type(IDC_editGreyDbExternalConnString, L"   \t  ");
  d.Check(WaitUntil([&] { return !app.Enabled(IDC_btnTestGreyConnection); }, 5000),
          "a connection string of blanks leaves the test button enabled");
  d.Next(app);
  d.ExpectBox(app, L"Error", L"Please enter the connection string.", {IDOK}, IDOK,
              "Next with a connection string of blanks");
  d.ExpectState(app, 3, "after the connection string error");
  d.ExpectFocus(app, IDC_editGreyDbExternalConnString, "after the connection string error");

  app.Type(IDC_editGreyDbExternalConnString, d.TargetConnection());
  d.Check(WaitUntil([&] { return app.Enabled(IDC_btnTestGreyConnection); }, 5000),
          "typing a connection string does not enable the test button");
  if (!d.GoTo(app, true, 6)) return;
  // Coming back to a page with an empty path puts the focus into the path edit.
  if (!d.GoTo(app, false, 3)) return;
  app.Type(IDC_editGreyDbLocalPath, L"");
  if (!d.GoTo(app, false, 1)) return;
  if (!d.GoTo(app, true, 3)) return;
  d.ExpectFocus(app, IDC_editGreyDbLocalPath, "page shown with an empty path");
  d.CloseConfirmed(app);
}

void CaseEnterAndEsc(TDriver& d, TWizardApp& app) {
  app.Foreground();
  app.PostKey(VK_RETURN);
  d.Check(d.WaitState(app, 1), "Enter on the welcome page did not press Next");
  app.PostKey(VK_ESCAPE);
  d.ExpectBox(app, L"Confirmation", kExitQuestion, {IDYES, IDNO}, IDNO,
              "Esc on the selection page");
  d.Check(app.WindowAlive(), "the window went away after Esc answered No");
  d.ExpectState(app, 1, "after Esc answered No");
  app.PostKey(VK_RETURN);
  d.ExpectBox(app, L"Error", L"Please select at least one database to be converted.", {IDOK}, IDOK,
              "Enter with nothing ticked");
  app.PostKey(VK_ESCAPE);
  d.ExpectBox(app, L"Confirmation", kExitQuestion, {IDYES, IDNO}, IDYES, "Esc answered Yes");
  d.Check(app.WaitExit(), "the wizard did not end after Esc answered Yes");
}

void CaseCloseBoxNo(TDriver& d, TWizardApp& app) {
  PostMessageW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  d.ExpectBox(app, L"Confirmation", kExitQuestion, {IDYES, IDNO}, IDNO,
              "close box on the welcome page");
  d.Check(app.WindowAlive() && IsWindowVisible(app.Window()), "the window went away after No");
  d.ExpectState(app, 0, "after the close box answered No");
  if (!d.SelectOnly(app, {1})) return;
  PostMessageW(app.Window(), WM_CLOSE, 0, 0);
  d.ExpectBox(app, L"Confirmation", kExitQuestion, {IDYES, IDNO}, IDNO,
              "WM_CLOSE on a parameters page");
  d.Check(app.WindowAlive(), "the window went away after No");
  d.ExpectState(app, 3, "after WM_CLOSE answered No");
  PostMessageW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
  d.ExpectBox(app, L"Confirmation", kExitQuestion, {IDYES, IDNO}, IDYES, "close box answered Yes");
  d.Check(app.WaitExit(), "the wizard did not end after the close box answered Yes");
}

namespace {

// The file name proposed by the open dialog: its file-name combo box (or edit).
std::wstring ProposedFileName(HWND dialog) {
  for (int id : {1148 /* cmb13 */, 1152 /* edt1 */})
    if (HWND field = GetDlgItem(dialog, id)) return WindowText(field);
  return L"<no file name field>";
}

void ExpectFileDialog(TDriver& d, TWizardApp& app, const std::wstring& proposal,
                      const std::string& what) {
  TBox dialog = app.WaitBox();
  if (!d.Check(static_cast<bool>(dialog), what + ": no file dialog opened")) return;
  d.CheckText(dialog.Caption, L"Open Database File", what + ": dialog title");
  d.CheckText(ProposedFileName(dialog.Hwnd), proposal, what + ": proposed file name");
  d.Check(app.Answer(dialog, IDCANCEL), what + ": the dialog did not close on Cancel");
}

}  // namespace

void CaseCtrlSpaceDha(TDriver& d, TWizardApp& app) {
  if (!d.SelectOnly(app, {2})) return;
  const std::wstring before = app.Text(IDC_editDhaDbLocalPath);
  app.SetFocusTo(IDC_editDhaDbLocalPath);
  app.SendChord({VK_CONTROL}, VK_SPACE);
  ExpectFileDialog(d, app, L"dha.abs", "Ctrl+Space in the DHA path edit");
  d.CheckText(app.Text(IDC_editDhaDbLocalPath), before, "DHA path after the cancelled dialog");
  // A plain Space is an ordinary key.
  app.SetFocusTo(IDC_editDhaDbLocalPath);
  SendMessageW(app.Control(IDC_editDhaDbLocalPath), EM_SETSEL, 0, 0);
  app.SendChord({}, VK_SPACE);
  d.Check(
      WaitUntil([&] { return app.Text(IDC_editDhaDbLocalPath) == L" " + before; }, 5000),
      "a plain Space did not reach the edit: \"" + Shown(app.Text(IDC_editDhaDbLocalPath)) + "\"");
  d.Check(!app.FindBox(), "a plain Space opened a box");
  app.Type(IDC_editDhaDbLocalPath, before);
  // The browse button proposes the same name.
  app.Click(IDC_sbtnSelectDhaDbLocalPathClick);
  ExpectFileDialog(d, app, L"dha.abs", "the DHA browse button");
  d.CheckText(app.Text(IDC_editDhaDbLocalPath), before, "DHA path after the cancelled browse");
  // A file chosen in the dialog lands in the edit.
  app.Click(IDC_sbtnSelectDhaDbLocalPathClick);
  TBox dialog = app.WaitBox();
  if (d.Check(static_cast<bool>(dialog), "the browse button opened no dialog the second time")) {
    const std::wstring chosen = d.WinWork(L"src\\honeypot.abs");
    HWND field = GetDlgItem(dialog.Hwnd, 1148);
    if (!field) field = GetDlgItem(dialog.Hwnd, 1152);
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(chosen.c_str()));
    d.Check(app.Answer(dialog, IDOK), "the file dialog did not close on Open");
    d.Check(WaitUntil([&] { return app.Text(IDC_editDhaDbLocalPath) == chosen; }, 5000),
            "the chosen file did not reach the DHA path edit: \"" +
                Shown(app.Text(IDC_editDhaDbLocalPath)) + "\"");
  }
  d.CloseConfirmed(app);
}

}  // namespace wizdrv
