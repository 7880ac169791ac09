#pragma once
// The UI driver's test context: the prepared work folder, the named cases with their PASS/FAIL
// bookkeeping, and the states table (states.tsv plus one screenshot per wizard state).

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "WizardUi_win32.h"
#include "ufrmDbConverterIds.h"

namespace wizdrv {

constexpr int kStateCount = 12;

// What the wizard must show in each state, as the driver checks it.
struct TStateSpec {
  const char* Name;     // wsWelcome ...
  const wchar_t* Step;  // lbStepName
  int Number;           // "Step %d of 9"
  bool Back, Next, Cancel;
  const wchar_t* NextCaption;
  const wchar_t* CancelCaption;
  int PageControl;  // a control that is visible only on this state's page
};
extern const TStateSpec kStates[kStateCount];

extern const wchar_t* const kKindFiles[4];  // aswl.abs ...
extern const int kKindCheck[4], kKindPath[4], kKindConn[4], kKindTest[4], kKindTesting[4];

struct TOptions {
  std::wstring Exe;               // mrvdbconv.exe
  std::wstring Work;              // host path of the prepared work folder
  std::wstring Out;               // host path of the output folder
  std::wstring HookDll;           // the WM_CLOSE hold hook
  std::wstring ServiceExe;        // the stand-in MRVSVC program, inside Work/svc
  int Rows = 0;                   // rows per table of the sample databases
  std::vector<std::string> Only;  // run only these cases (all when empty)
};

class TDriver {
 public:
  explicit TDriver(TOptions options) : opt_(std::move(options)) {}

  // ---- checks of the current case ----
  bool Check(bool ok, const std::string& what);
  bool CheckText(const std::wstring& actual, const std::wstring& expected, const std::string& what);
  // The header shows this state (step name and number) and its page.
  bool ExpectState(TWizardApp& app, int state, const std::string& when);
  bool WaitState(TWizardApp& app, int state, DWORD limitMs = 30000);
  // A box must be open now with this caption and text; it is answered with buttonId.
  bool ExpectBox(TWizardApp& app, const std::wstring& caption, const std::wstring& text,
                 std::vector<int> buttons, int answer, const std::string& what);
  bool ExpectFocus(TWizardApp& app, int id, const std::string& what);
  // Reads the live window's row for states.tsv, checks it against kStates and takes the picture.
  void Record(TWizardApp& app, int state);

  // ---- helpers shared by the cases ----
  bool Launch(TWizardApp& app);
  void Next(TWizardApp& app) const { app.Click(IDC_btnNext); }
  void Back(TWizardApp& app) const { app.Click(IDC_btnBack); }
  // From state 0 to the parameters page of the first selected kind.
  bool SelectOnly(TWizardApp& app, std::vector<int> kinds);
  // Closes the wizard through the exit question (answered Yes) and waits for the process.
  void CloseConfirmed(TWizardApp& app);
  // Next / Back and wait for the target state.
  bool GoTo(TWizardApp& app, bool forward, int state);

  std::wstring HostPath(const std::wstring& relative) const { return opt_.Work + L"/" + relative; }
  std::wstring WinWork(const std::wstring& relative) const { return WinPath(HostPath(relative)); }
  std::wstring TargetConnection() const;
  std::wstring HoldFile() const { return HostPath(L"svc/hold-stop"); }
  void HoldServiceStop(bool on) const;
  bool EnsureServiceRunning();
  long long CountRows(const wchar_t* table);
  const TOptions& Options() const { return opt_; }

  // ---- running ----
  bool PrepareEnvironment(std::string& error);
  int RunAll();

 private:
  void RunCase(const char* name, void (*body)(TDriver&, TWizardApp&));
  bool WriteStatesTable();

  TOptions opt_;
  std::vector<std::string> failures_;  // of the current case
  std::map<std::string, bool> results_;
  std::vector<std::string> order_;
  std::map<int, std::wstring> rows_;  // state -> tab-separated row
};

// The cases (WizardNavCases_win32.cpp, WizardRunCases_win32.cpp).
void CaseWalkAllPages(TDriver& d, TWizardApp& app);
void CaseOnlyHoneypot(TDriver& d, TWizardApp& app);
void CaseValidation(TDriver& d, TWizardApp& app);
void CaseEnterAndEsc(TDriver& d, TWizardApp& app);
void CaseCloseBoxNo(TDriver& d, TWizardApp& app);
void CaseCtrlSpaceDha(TDriver& d, TWizardApp& app);
void CaseConnectionTestOk(TDriver& d, TWizardApp& app);
void CaseConnectionTestFails(TDriver& d, TWizardApp& app);
void CaseConnectionTestRunning(TDriver& d, TWizardApp& app);
void CaseFullRun(TDriver& d, TWizardApp& app);
void CaseSecondRunYes(TDriver& d, TWizardApp& app);
void CaseSecondRunNo(TDriver& d, TWizardApp& app);
void CaseSecondRunCancelNo(TDriver& d, TWizardApp& app);
void CaseCancelledRun(TDriver& d, TWizardApp& app);
void CaseFailedRun(TDriver& d, TWizardApp& app);

}  // namespace wizdrv
