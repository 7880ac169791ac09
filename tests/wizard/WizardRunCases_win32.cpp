// Cases with real work behind the page: connection tests through the SQLite ODBC driver and
// conversion runs into a SQLite External Database, with the MRVSVC stand-in stopped and
// restarted by each run.
#include "WizardDriver_win32.h"
#include "WizardSilentServer_win32.h"

namespace wizdrv {

namespace {

const wchar_t* const kExitDuringRun = L"Cancel the conversion and exit the Database Converter?";
const wchar_t* const kTables[] = {L"ASWL", L"GREY", L"DhaHistory", L"DhaBlacklist",
                                  L"HoneypotBlacklist"};

std::wstring TargetNotEmpty(const wchar_t* name) {
  return std::wstring(L"Database Converter detected data in the ") + name +
         L" External Database.\r\nIf you proceed, existing data will be deleted from the External "
         L"Database.\r\nDo you want to proceed?";
}

// Walks from the welcome page to the begin page with the given kinds selected.
bool ToBeginPage(TDriver& d, TWizardApp& app, std::vector<int> kinds) {
  if (!d.SelectOnly(app, kinds)) return false;
  for (size_t i = 1; i < kinds.size(); ++i)
    if (!d.GoTo(app, true, 2 + kinds[i])) return false;
  return d.GoTo(app, true, 6);
}

// Start pressed on the begin page: the wizard must be in the Conversion state at once.
bool Start(TDriver& d, TWizardApp& app) {
  if (!d.EnsureServiceRunning()) return false;
  app.Click(IDC_btnNext);
  return d.Check(WaitUntil([&] {
                   return app.Text(IDC_lbStepName) == L"Conversion" ||
                          static_cast<bool>(app.FindBox());
                 }),
                 "Start did not enter the Conversion state");
}

bool WaitOperation(TWizardApp& app, const std::wstring& text) {
  return WaitUntil([&] { return app.Text(IDC_lbCurrentOperation) == text; }, 60000);
}

// The end of a run: the Finished page, Quit ends the program.
void ExpectFinished(TDriver& d, TWizardApp& app, const std::string& what, bool record) {
  if (!d.Check(d.WaitState(app, 11, 300000), what +
                                                 ": the run did not reach Conversion Finished; "
                                                 "header \"" +
                                                 Shown(app.Text(IDC_lbStepName)) + "\", memo \"" +
                                                 Shown(app.Text(IDC_memoConversionErrorInfo)) +
                                                 "\""))
    return;
  if (record) d.Record(app, 11);
  d.CheckText(app.Text(IDC_Label17), L"Conversion Finished", what + ": Label17");
  d.CheckText(app.Text(IDC_Label18),
              L"The database conversion was finished successfully.\r\n\r\n\r\nClick Quit to exit "
              L"from this tool.",
              what + ": Label18");
  app.Click(IDC_btnCancel);
  d.Check(app.WaitExit(), what + ": Quit did not end the program");
}

void ExpectGreyRows(TDriver& d, long long expected, const std::string& what) {
  const long long rows = d.CountRows(L"GREY");
  d.Check(rows == expected, what + ": the target GREY table holds " + std::to_string(rows) +
                                " rows, expected " + std::to_string(expected));
}

}  // namespace

void CaseConnectionTestOk(TDriver& d, TWizardApp& app) {
  if (!d.SelectOnly(app, {0})) return;
  app.Click(IDC_btnTestAswlConnection);
  d.ExpectBox(app, L"Information", L"Connection test was successful.", {IDOK}, IDOK,
              "testing the SQLite target");
  d.Check(WaitUntil([&] { return !app.Visible(IDC_lbTestingAswlConnection); }, 5000),
          "the testing label still shows after the test");
  for (int id : {IDC_btnBack, IDC_btnNext, IDC_btnCancel, IDC_editAswlDbLocalPath,
                 IDC_editAswlDbExternalConnString, IDC_btnTestAswlConnection})
    d.Check(WaitUntil([&] { return app.Enabled(id); }, 5000),
            "control " + std::to_string(id) + " stays disabled after the test");
  d.CloseConfirmed(app);
}

void CaseConnectionTestFails(TDriver& d, TWizardApp& app) {
  if (!d.SelectOnly(app, {0})) return;
  // SQLite cannot create a file in a folder that does not exist: opening fails.
  app.Type(IDC_editAswlDbExternalConnString,
           L"Driver={SQLite3};Database=/nonexistent-folder/wizard/target.db");
  app.Click(IDC_btnTestAswlConnection);
  TBox box = app.WaitBox();
  if (!d.Check(static_cast<bool>(box), "no box after the failing test")) return;
  const std::wstring prefix = L"Test failed, could not connect to the database.\r\nError message: ";
  d.CheckText(box.Caption, L"Error", "failing test: caption");
  d.Check(box.Text.rfind(prefix, 0) == 0 && box.Text.size() > prefix.size(),
          "failing test: text \"" + Shown(box.Text) + "\" is not outcome 2 with an error message");
  std::printf("    outcome 2 text: %s\n", Shown(box.Text).c_str());
  d.Check(app.Answer(box, IDOK), "the error box did not close");
  d.ExpectFocus(app, IDC_editAswlDbExternalConnString, "after the failed test");
  d.Check(app.Enabled(IDC_btnNext) && app.Enabled(IDC_btnTestAswlConnection),
          "controls stay disabled after the failed test");
  d.CloseConfirmed(app);
}

void CaseConnectionTestRunning(TDriver& d, TWizardApp& app) {
  if (!d.SelectOnly(app, {0})) return;
  // A PostgreSQL client waits for the silent port's greeting: the test runs until it closes.
  TSilentServer server;
  if (!d.Check(server.Port() != 0, "no loopback port for the silent server")) return;
  app.Type(IDC_editAswlDbExternalConnString, L"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" +
                                                 std::to_wstring(server.Port()) +
                                                 L";Database=mrv;Uid=mrv;Pwd=mrv");
  app.Click(IDC_btnTestAswlConnection);
  d.Check(WaitUntil([&] { return app.Visible(IDC_lbTestingAswlConnection); }),
          "the testing label does not show while the test runs");
  for (int id : {IDC_btnBack, IDC_btnNext, IDC_btnCancel, IDC_editAswlDbLocalPath,
                 IDC_sbtnSelectAswlDbLocalPath, IDC_editAswlDbExternalConnString,
                 IDC_btnTestAswlConnection, IDC_editGreyDbExternalConnString})
    d.Check(!app.Enabled(id), "control " + std::to_string(id) + " is enabled while the test runs");
  // Closing is refused while the test runs: the call returns and no question opens.
  DWORD_PTR ignored = 0;
  d.Check(SendMessageTimeoutW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, 10000,
                              &ignored) != 0,
          "the close box during a connection test did not return (a box opened?)");
  d.Check(app.WindowAlive() && !app.FindBox(),
          "the close box during a connection test was not refused");
  d.Check(app.Visible(IDC_lbTestingAswlConnection), "the test ended before the port was closed");
  server.Close();
  TBox box = app.WaitBox(120000);
  const std::wstring prefix = L"Test failed, could not connect to the database.\r\nError message: ";
  d.Check(box && box.Text.rfind(prefix, 0) == 0,
          "the interrupted test did not end in outcome 2: \"" + Shown(box.Text) + "\"");
  if (box) app.Answer(box, IDOK);
  d.Check(WaitUntil([&] {
            return app.Enabled(IDC_btnNext) && !app.Visible(IDC_lbTestingAswlConnection);
          }),
          "the wizard stays locked after the test");
  d.CloseConfirmed(app);
}

void CaseFullRun(TDriver& d, TWizardApp& app) {
  if (!ToBeginPage(d, app, {0, 1, 2, 3})) return;
  // The stand-in service keeps its stop pending: the run holds on "Stopping the Mrv service...".
  d.HoldServiceStop(true);
  if (!Start(d, app)) return;
  d.Check(WaitOperation(app, L"Stopping the Mrv service..."),
          "the run did not report the service stop; operation \"" +
              Shown(app.Text(IDC_lbCurrentOperation)) + "\"");
  d.Record(app, 7);
  d.CheckText(app.Text(IDC_Label10), L"Converting the selected database(s)...", "Label10");
  d.HoldServiceStop(false);
  ExpectFinished(d, app, "full run", true);
  for (const wchar_t* table : kTables) {
    const long long rows = d.CountRows(table);
    d.Check(rows == d.Options().Rows, "the target table " + Narrow(table) + " holds " +
                                          std::to_string(rows) + " rows after the full run");
  }
  d.Check(d.EnsureServiceRunning(), "the run did not restart MRVSVC");
}

void CaseSecondRunYes(TDriver& d, TWizardApp& app) {
  if (!ToBeginPage(d, app, {1}) || !Start(d, app)) return;
  d.ExpectBox(app, L"Confirmation", TargetNotEmpty(L"Greylisting"), {IDYES, IDNO, IDCANCEL}, 0,
              "second run into the same target");
  d.ExpectState(app, 7, "while the target-not-empty question is open");
  if (TBox box = app.FindBox()) app.Answer(box, IDYES);
  ExpectFinished(d, app, "second run answered Yes", false);
  ExpectGreyRows(d, d.Options().Rows, "after Yes (delete)");
}

void CaseSecondRunNo(TDriver& d, TWizardApp& app) {
  if (!ToBeginPage(d, app, {1}) || !Start(d, app)) return;
  d.ExpectBox(app, L"Confirmation", TargetNotEmpty(L"Greylisting"), {IDYES, IDNO, IDCANCEL}, IDNO,
              "run answered No");
  ExpectFinished(d, app, "run answered No", false);
  ExpectGreyRows(d, 2LL * d.Options().Rows, "after No (keep)");
}

void CaseSecondRunCancelNo(TDriver& d, TWizardApp& app) {
  if (!ToBeginPage(d, app, {1}) || !Start(d, app)) return;
  d.ExpectBox(app, L"Confirmation", TargetNotEmpty(L"Greylisting"), {IDYES, IDNO, IDCANCEL},
              IDCANCEL, "question answered Cancel");
  d.ExpectBox(app, L"Confirmation", kExitDuringRun, {IDYES, IDNO}, IDNO,
              "exit question answered No");
  d.ExpectBox(app, L"Confirmation", TargetNotEmpty(L"Greylisting"), {IDYES, IDNO, IDCANCEL}, IDYES,
              "the question again, answered Yes");
  ExpectFinished(d, app, "run answered Cancel, No, Yes", false);
  ExpectGreyRows(d, d.Options().Rows, "after Cancel, No, Yes");
}

void CaseCancelledRun(TDriver& d, TWizardApp& app) {
  // The hook holds the WM_CLOSE the wizard posts itself after the cancel, until the driver has
  // read and photographed the Cancelled page.
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, L"MrvWizardDriverCloseHeld");
  HMODULE hookDll = LoadLibraryW(d.Options().HookDll.c_str());
  auto hookProc = hookDll ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(
                                GetProcAddress(hookDll, "MrvWizardHoldClose")))
                          : nullptr;
  HHOOK hook =
      hookProc ? SetWindowsHookExW(WH_GETMESSAGE, hookProc, hookDll, app.ThreadId()) : nullptr;
  d.Check(hook != nullptr, "the WM_CLOSE hold hook could not be placed");
  struct TCleanup {
    HANDLE held;
    HHOOK hook;
    HMODULE dll;
    ~TCleanup() {
      if (hook) UnhookWindowsHookEx(hook);
      if (dll) FreeLibrary(dll);
      CloseHandle(held);
    }
  } cleanup{held, hook, hookDll};

  if (!ToBeginPage(d, app, {1})) return;
  d.HoldServiceStop(true);
  if (!Start(d, app)) return;
  d.ExpectBox(app, L"Confirmation", TargetNotEmpty(L"Greylisting"), {IDYES, IDNO, IDCANCEL}, IDNO,
              "question before the cancelled run");
  d.Check(WaitOperation(app, L"Stopping the Mrv service..."),
          "the run did not reach the service stop");
  d.ExpectState(app, 7, "run held on the service stop");
  app.Click(IDC_btnCancel);
  d.ExpectBox(app, L"Confirmation", kExitDuringRun, {IDYES, IDNO}, IDYES, "Cancel during the run");
  // The stop is abandoned, so the run tells that the service could not be stopped; the wizard
  // stays in Cancelling until the notice is answered.
  app.WaitBox();
  d.ExpectState(app, 8, "while the run winds down");
  // The close box is ignored while the run winds down: sent, so the answer tells it was handled
  // (a question box would keep the call waiting).
  DWORD_PTR ignored = 0;
  d.Check(SendMessageTimeoutW(app.Window(), WM_SYSCOMMAND, SC_CLOSE, 0, SMTO_NORMAL, 10000,
                              &ignored) != 0,
          "the close box in state 8 did not return (a box opened?)");
  d.Check(app.WindowAlive() && app.FindBox().Caption == L"Information",
          "the close box in state 8 changed the window or its boxes");
  d.Record(app, 8);
  d.ExpectBox(app, L"Information",
              L"Could not stop the Mrv Service.\r\nIt might have to be started manually.", {IDOK},
              IDOK, "service notice of the cancelled run");
  d.Check(WaitForSingleObject(held, 60000) == WAIT_OBJECT_0,
          "the wizard did not post WM_CLOSE after the cancelled run");
  if (d.WaitState(app, 9))
    d.Record(app, 9);
  else
    d.Check(false, "the cancelled run did not show Conversion Cancelled");
  UnhookWindowsHookEx(cleanup.hook);
  cleanup.hook = nullptr;
  PostMessageW(app.Window(), WM_CLOSE, 0, 0);  // the held close, delivered
  d.Check(app.WaitExit(), "the window did not close after the cancelled run");
  d.HoldServiceStop(false);
  d.EnsureServiceRunning();
}

void CaseFailedRun(TDriver& d, TWizardApp& app) {
  if (!d.SelectOnly(app, {1})) return;
  app.Type(IDC_editGreyDbLocalPath, d.WinWork(L"bad\\greylist.abs"));
  if (!d.GoTo(app, true, 6) || !Start(d, app)) return;
  d.ExpectBox(app, L"Confirmation", TargetNotEmpty(L"Greylisting"), {IDYES, IDNO, IDCANCEL}, IDNO,
              "question before the failing run");
  if (!d.Check(d.WaitState(app, 10, 300000),
               "the failing run did not reach the error page; header \"" +
                   Shown(app.Text(IDC_lbStepName)) + "\""))
    return;
  d.Record(app, 10);
  d.CheckText(app.Text(IDC_lbConversionErrorWarning), L"An error has occurred.",
              "lbConversionErrorWarning");
  d.CheckText(
      app.Text(IDC_memoConversionErrorInfo),
      L"Could not open the source Greylisting database.\r\nPlease make sure that the file is "
      L"a valid Mrv database.",
      "the run's error text in the memo");
  app.Click(IDC_btnCancel);
  d.Check(app.WaitExit(), "Quit did not end the program after the failed run");
  ExpectGreyRows(d, d.Options().Rows, "after the failed run (target kept)");
}

}  // namespace wizdrv
