// The driver's checks, the states table and the shared walking helpers.
#include "WizardDriver_win32.h"

#include <cstdio>
#include <fstream>

#include "WizardShot_win32.h"

namespace wizdrv {

const TStateSpec kStates[kStateCount] = {
    {"wsWelcome", L"Welcome", 1, false, true, true, L"&Next >", L"Cancel", IDC_Label11},
    {"wsSelectDatabases", L"Selecting Databases", 2, true, true, true, L"&Next >", L"Cancel",
     IDC_chbSelectAswl},
    {"wsAswlParams", L"Auto Sender Whitelist Database", 3, true, true, true, L"&Next >", L"Cancel",
     IDC_editAswlDbLocalPath},
    {"wsGreyParams", L"Greylisting Database", 4, true, true, true, L"&Next >", L"Cancel",
     IDC_editGreyDbLocalPath},
    {"wsDhaParams", L"DHA Protection Database", 5, true, true, true, L"&Next >", L"Cancel",
     IDC_editDhaDbLocalPath},
    {"wsHoneypotParams", L"Honeypot Database", 6, true, true, true, L"&Next >", L"Cancel",
     IDC_editHoneypotDbLocalPath},
    {"wsBeginConversion", L"Starting the Conversion", 7, true, true, true, L"&Start", L"Cancel",
     IDC_Label15},
    {"wsConversion", L"Conversion", 8, false, false, true, L"&Start", L"Cancel",
     IDC_pbarConversion},
    {"wsCancelling", L"Cancelling", 8, false, false, false, L"&Next >", L"Cancel",
     IDC_pbarConversion},
    {"wsCancelled", L"Conversion Cancelled", 8, false, false, true, L"&Next >", L"&Quit",
     IDC_pbarConversion},
    {"wsFinishedWithError", L"Conversion", 8, false, false, true, L"&Next >", L"&Quit",
     IDC_memoConversionErrorInfo},
    {"wsFinished", L"Conversion Finished", 9, false, false, true, L"&Next >", L"&Quit",
     IDC_Label18},
};

const wchar_t* const kKindFiles[4] = {L"aswl.abs", L"greylist.abs", L"dha.abs", L"honeypot.abs"};
const int kKindCheck[4] = {IDC_chbSelectAswl, IDC_chbSelectGrey, IDC_chbSelectDha,
                           IDC_chbSelectHoneypot};
const int kKindPath[4] = {IDC_editAswlDbLocalPath, IDC_editGreyDbLocalPath, IDC_editDhaDbLocalPath,
                          IDC_editHoneypotDbLocalPath};
const int kKindConn[4] = {IDC_editAswlDbExternalConnString, IDC_editGreyDbExternalConnString,
                          IDC_editDhaDbExternalConnString, IDC_editHoneypotDbExternalConnString};
const int kKindTest[4] = {IDC_btnTestAswlConnection, IDC_btnTestGreyConnection,
                          IDC_btnTestDhaConnection, IDC_btnTestHoneypotConnection};
const int kKindTesting[4] = {IDC_lbTestingAswlConnection, IDC_lbTestingGreyConnection,
                             IDC_lbTestingDhaConnection, IDC_lbTestingHoneypotConnection};

namespace {

std::wstring StepText(int number) { return L"Step " + std::to_wstring(number) + L" of 9"; }

std::string StateLabel(int state) { return std::to_string(state) + " " + kStates[state].Name; }

// Keeps a message box clear of the wizard window so that the window can be photographed.
void MoveAway(HWND box) {
  RECT rc{};
  GetWindowRect(box, &rc);
  const int height = rc.bottom - rc.top;
  SetWindowPos(box, nullptr, 0, GetSystemMetrics(SM_CYSCREEN) - height, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool TDriver::Check(bool ok, const std::string& what) {
  if (!ok) {
    failures_.push_back(what);
    std::printf("    FAIL: %s\n", what.c_str());
    std::fflush(stdout);
  }
  return ok;
}

bool TDriver::CheckText(const std::wstring& actual, const std::wstring& expected,
                        const std::string& what) {
  return Check(actual == expected,
               what + ": got \"" + Shown(actual) + "\", expected \"" + Shown(expected) + "\"");
}

bool TDriver::ExpectState(TWizardApp& app, int state, const std::string& when) {
  const TStateSpec& s = kStates[state];
  const std::string at = when + " (state " + StateLabel(state) + ")";
  bool ok = CheckText(app.Text(IDC_lbStepName), s.Step, at + ": lbStepName");
  ok = CheckText(app.Text(IDC_lbStepProgress), StepText(s.Number), at + ": lbStepProgress") && ok;
  ok = Check(app.Visible(s.PageControl), at + ": its page is not shown") && ok;
  // No control of another page may show at the same time (states 7-9 share one page).
  for (int other = 0; other < kStateCount; ++other) {
    if (kStates[other].PageControl == s.PageControl) continue;
    ok = Check(!app.Visible(kStates[other].PageControl),
               at + ": the page of " + kStates[other].Name + " shows as well") &&
         ok;
  }
  return ok;
}

bool TDriver::WaitState(TWizardApp& app, int state, DWORD limitMs) {
  const TStateSpec& s = kStates[state];
  const std::wstring step = StepText(s.Number);
  return WaitUntil(
      [&] {
        return app.Text(IDC_lbStepName) == s.Step && app.Text(IDC_lbStepProgress) == step &&
               app.Visible(s.PageControl);
      },
      limitMs);
}

bool TDriver::GoTo(TWizardApp& app, bool forward, int state) {
  if (forward)
    Next(app);
  else
    Back(app);
  const bool reached = WaitState(app, state);
  if (!reached) {
    TBox box = app.FindBox();
    std::string extra =
        box ? " (a box is open: \"" + Shown(box.Caption) + "\": \"" + Shown(box.Text) + "\")" : "";
    Check(false, std::string(forward ? "Next" : "Back") + " did not reach state " +
                     StateLabel(state) + "; header shows \"" + Shown(app.Text(IDC_lbStepName)) +
                     "\"" + extra);
  }
  return reached;
}

bool TDriver::ExpectBox(TWizardApp& app, const std::wstring& caption, const std::wstring& text,
                        std::vector<int> buttons, int answer, const std::string& what) {
  TBox box = app.WaitBox();
  if (!Check(static_cast<bool>(box), what + ": no message box appeared")) return false;
  bool ok = CheckText(box.Caption, caption, what + ": box caption");
  ok = CheckText(box.Text, text, what + ": box text") && ok;
  for (int id : buttons)
    ok = Check(box.HasButton(id), what + ": box lacks button " + std::to_string(id)) && ok;
  ok = Check(box.Owner == app.Window(), what + ": box is not owned by the wizard window") && ok;
  if (answer) ok = Check(app.Answer(box, answer), what + ": box did not close on its button") && ok;
  return ok;
}

bool TDriver::ExpectFocus(TWizardApp& app, int id, const std::string& what) {
  const bool ok = WaitUntil([&] { return app.FocusId() == id; }, 5000);
  return Check(ok, what + ": focus is on control " + std::to_string(app.FocusId()) + ", expected " +
                       std::to_string(id));
}

void TDriver::Record(TWizardApp& app, int state) {
  const TStateSpec& s = kStates[state];
  ExpectState(app, state, "recording");
  const bool back = app.Enabled(IDC_btnBack), next = app.Enabled(IDC_btnNext),
             cancel = app.Enabled(IDC_btnCancel);
  const std::wstring nextCaption = app.Text(IDC_btnNext), cancelCaption = app.Text(IDC_btnCancel);
  const std::string at = "state " + StateLabel(state);
  Check(back == s.Back, at + ": btnBack enabled is " + std::to_string(back));
  Check(next == s.Next, at + ": btnNext enabled is " + std::to_string(next));
  Check(cancel == s.Cancel, at + ": btnCancel enabled is " + std::to_string(cancel));
  CheckText(nextCaption, s.NextCaption, at + ": btnNext caption");
  CheckText(cancelCaption, s.CancelCaption, at + ": btnCancel caption");

  wchar_t number[8];
  swprintf(number, 8, L"%02d", state);
  const std::wstring picture = std::wstring(number) + L"-" + Widen(s.Name) + L".png";
  if (TBox box = app.FindBox()) MoveAway(box.Hwnd);
  RedrawWindow(app.Window(), nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(400);  // let the X server show the repainted window before it is copied
  std::string error;
  Check(SaveWindowPng(app.Window(), WinPath(opt_.Out + L"/" + picture), error),
        at + ": screenshot failed: " + error);

  const auto flag = [](bool on) { return std::wstring(on ? L"1" : L"0"); };
  rows_[state] = std::to_wstring(state) + L"\t" + Widen(s.Name) + L"\t" + app.Text(IDC_lbStepName) +
                 L"\t" + app.Text(IDC_lbStepProgress) + L"\t" + flag(back) + L"\t" + flag(next) +
                 L"\t" + flag(cancel) + L"\t" + nextCaption + L"\t" + cancelCaption + L"\t" +
                 picture;
  std::printf("    recorded %s\n", at.c_str());
}

bool TDriver::WriteStatesTable() {
  std::ofstream out(Narrow(WinPath(opt_.Out + L"/states.tsv")), std::ios::binary);
  out << "state\tstateName\tstepName\tstepProgress\tbackEnabled\tnextEnabled\tcancelEnabled\t"
         "nextCaption\tcancelCaption\tpicture\n";
  for (const auto& [state, row] : rows_) out << Narrow(row) << "\n";
  return static_cast<bool>(out);
}

bool TDriver::Launch(TWizardApp& app) {
  std::wstring error;
  const bool ok = app.Start(opt_.Exe, WinPath(opt_.Work), error);
  Check(ok, "the wizard did not start: " + Narrow(error));
  return ok && WaitState(app, 0);
}

bool TDriver::SelectOnly(TWizardApp& app, std::vector<int> kinds) {
  if (!GoTo(app, true, 1)) return false;
  for (int k = 0; k < 4; ++k) {
    bool on = false;
    for (int wanted : kinds) on = on || wanted == k;
    app.SetCheck(kKindCheck[k], on);
  }
  return GoTo(app, true, 2 + kinds.front());
}

void TDriver::CloseConfirmed(TWizardApp& app) {
  if (!app.WindowAlive()) return;
  PostMessageW(app.Window(), WM_CLOSE, 0, 0);
  TBox box = app.WaitBox();
  if (box && box.Caption == L"Confirmation") app.Answer(box, IDYES);
  Check(app.WaitExit(), "the wizard did not end after the confirmed exit");
}

void TDriver::RunCase(const char* name, void (*body)(TDriver&, TWizardApp&)) {
  if (!opt_.Only.empty()) {
    bool wanted = false;
    for (const auto& only : opt_.Only) wanted = wanted || only == name;
    if (!wanted) return;
  }
  std::printf("CASE %s\n", name);
  std::fflush(stdout);
  failures_.clear();
  {
    TWizardApp app;
    if (Launch(app)) body(*this, app);
    if (app.Running()) {
      // Leave no modal box or window behind for the next case.
      if (TBox box = app.FindBox())
        Check(false, "a box was left open: \"" + Shown(box.Text) + "\"");
      app.Kill();
    }
  }
  results_[name] = failures_.empty();
  order_.push_back(name);
  std::printf("%s %s\n", failures_.empty() ? "PASS" : "FAIL", name);
  std::fflush(stdout);
}

int TDriver::RunAll() {
  RunCase("walk-all-pages", CaseWalkAllPages);
  RunCase("only-honeypot", CaseOnlyHoneypot);
  RunCase("validation-and-focus", CaseValidation);
  RunCase("enter-and-esc", CaseEnterAndEsc);
  RunCase("close-box-answered-no", CaseCloseBoxNo);
  RunCase("ctrl-space-dha", CaseCtrlSpaceDha);
  RunCase("connection-test-ok", CaseConnectionTestOk);
  RunCase("connection-test-fails", CaseConnectionTestFails);
  RunCase("close-during-connection-test", CaseConnectionTestRunning);
  RunCase("full-run", CaseFullRun);
  RunCase("second-run-yes", CaseSecondRunYes);
  RunCase("second-run-no", CaseSecondRunNo);
  RunCase("second-run-cancel-no", CaseSecondRunCancelNo);
  RunCase("cancelled-run", CaseCancelledRun);
  RunCase("failed-run", CaseFailedRun);
  HoldServiceStop(false);

  int failed = 0;
  std::printf("\nSUMMARY\n");
  for (const auto& name : order_) {
    std::printf("  %s %s\n", results_[name] ? "PASS" : "FAIL", name.c_str());
    if (!results_[name]) ++failed;
  }
  if (!WriteStatesTable()) {
    std::printf("FAIL writing states.tsv\n");
    ++failed;
  }
  if (opt_.Only.empty()) {
    for (int s = 0; s < kStateCount; ++s)
      if (!rows_.count(s)) {
        std::printf("FAIL state %s was never recorded\n", StateLabel(s).c_str());
        ++failed;
      }
  }
  std::printf("%d case(s) failed\n", failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace wizdrv
