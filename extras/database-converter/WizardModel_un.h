#pragma once
// The wizard's behaviour without any window toolkit: its twelve states with their pages and
// header texts, navigation with the skipping of unselected databases, the page checks, the
// button table, the exit rules, the connection-test and run outcomes and the texts of every
// box the wizard shows. The Win32 form (ufrmDbConverter) keeps one TWizardModel, forwards the
// user's input and events to it and renders what it says. Strings are UTF-8.

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "DbConversionInfo_un.h"

namespace mrv {

enum TWizardState : std::uint8_t {
  wsWelcome = 0,
  wsSelectDatabases = 1,
  wsAswlParams = 2,
  wsGreyParams = 3,
  wsDhaParams = 4,
  wsHoneypotParams = 5,
  wsBeginConversion = 6,
  wsConversion = 7,
  wsCancelling = 8,
  wsCancelled = 9,
  wsFinishedWithError = 10,
  wsFinished = 11,
};
inline constexpr int WizardStateCount = 12;

// The pages of the page control, in the order of the form.
enum TWizardPage : std::uint8_t {
  tbshWelcome,
  tbshSelectDatabases,
  tbshSelectAswlDbParams,
  tbshSelectGreyDbParams,
  tbshSelectDhaDbParams,
  tbshSelectHoneypotParams,
  tbshBeginConversion,
  tbshConversion,
  tbshFinishedWithError,
  tbshGracefulFinish,
};
inline constexpr int WizardPageCount = 10;

// An internal error of the wizard (a state without a page or without a neighbour).
class EWizardError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

struct TWizardStateInfo {
  const char* Name;  // "wsWelcome"
  TWizardPage Page;
  const char* PageName;  // "tbshWelcome"
  const char* StepName;  // "Welcome"
  int StepNumber;        // 1..9
};
// Raises EWizardError("Not implemented UI function.") for a value outside the twelve states.
const TWizardStateInfo& WizardStateInfo(int state);
// "Step %d of 9".
std::string StepProgressText(int state);

// Control IDs of the per-database controls (ufrmDbConverterIds.h), by kind.
struct TKindControls {
  int CheckBox, PathEdit, BrowseButton, ConnectionEdit, TestButton, TestingLabel;
  const char* DefaultFileName;  // proposed by the file dialog
};
const TKindControls& KindControls(int kind);
// The kind whose path edit, browse button, connection edit or test button has this ID; -1.
int KindOfControl(int controlId);

// A modal message box as the wizard shows it.
enum TBoxIcon : std::uint8_t { biError, biInformation, biQuestion };
enum TBoxButtons : std::uint8_t { bbOk, bbYesNo, bbYesNoCancel };
enum TBoxAnswer : std::uint8_t { baOk, baYes, baNo, baCancel };
struct TMessageBox {
  std::string Text;
  std::string Caption;  // "Error", "Information", "Confirmation"
  TBoxIcon Icon = biError;
  TBoxButtons Buttons = bbOk;
};
using TAskBox = std::function<TBoxAnswer(const TMessageBox&)>;

// The outcome of a page check: Ok, or the error box and the control to focus.
struct TValidation {
  bool Ok = true;
  TMessageBox Box;
  int FocusControl = 0;
};

// What the three buttons show in a state.
struct TWizardButtons {
  bool BackEnabled = false, NextEnabled = false, CancelEnabled = false;
  std::string NextCaption;
  std::string CancelCaption;
};

// Everything the form renders on an update.
struct TWizardView {
  TWizardPage Page = tbshWelcome;
  std::string StepName;
  std::string StepProgress;
  TWizardButtons Buttons;
  std::array<bool, DatabaseKindCount> TestEnabled{};  // the test buttons
  bool InputsEnabled = true;  // path edits, browse buttons and connection edits (off during a test)
};

// What the form does after the user asked to leave (Cancel, Esc, the close box).
enum TExitAction : std::uint8_t {
  eaNothing,  // stay
  eaAskExit,  // show ExitQuestion(); pass a Yes to ExitConfirmed
  eaClose,    // close the window now
};
// What to do once the exit question was answered Yes.
enum TExitConfirmed : std::uint8_t { ecCancelRun, ecClose };

// The closing page chosen when a run has ended.
struct TRunOutcome {
  TWizardState State = wsFinished;
  bool Flash = false;      // flash the window
  bool PostClose = false;  // close the form (cancelled run)
  std::string ErrorText;   // for the error memo
};

// Trims leading and trailing characters with a code of 32 or less.
std::string TrimControl(const std::string& text);

class TWizardModel {
 public:
  // Whether a path names an existing file (a folder does not count). Replaceable for tests.
  using TFileExists = std::function<bool(const std::string& path)>;
  static bool DefaultFileExists(const std::string& path);

  TWizardModel();

  // Input, forwarded by the form as the user types and clicks.
  std::array<bool, DatabaseKindCount> Selected{};
  std::array<std::string, DatabaseKindCount> SourcePath;
  std::array<std::string, DatabaseKindCount> ConnectionText;  // as typed
  TFileExists FileExists;

  TWizardState State() const { return state_; }
  void SetState(TWizardState state) { state_ = state; }

  static TWizardState NextState(TWizardState state);
  static TWizardState PreviousState(TWizardState state);
  bool IsStateEnabled(TWizardState state) const;
  std::string GetConnectionString(int kind) const;

  // The view of the current state. Also remembers the Cancel caption (it never turns back
  // from "&Quit").
  TWizardView UpdateWizard();

  TValidation ValidatePage() const;
  // Validates, then walks to the next enabled state. Returns the failed check (state kept)
  // or Ok; `startConversion` is set when the new state is the conversion.
  TValidation GoNext(bool& startConversion);
  void GoBack();

  // The control to focus when a parameters page is shown (0: leave the focus).
  int ParamsPageFocus(int kind) const;

  // Start-up: empties the inputs and fills them in kind order (path, then connection string
  // of kind 0, then kind 1, ...). An exception of a lookup stops the filling and passes on.
  void Prefill(const std::function<std::string(int)>& fileName,
               const std::function<std::string(int)>& connectionString);

  // Exit rules.
  TExitAction CancelButtonAction() const;
  TExitAction CloseBoxAction() const;  // any close request of the window
  std::string ExitQuestion() const;    // by state
  TMessageBox ExitQuestionBox() const;
  TExitConfirmed ExitConfirmed(bool runExists);

  // Connection test of one parameters page; at most one at a time.
  bool ConnectionTestRunning() const { return testKind_ >= 0; }
  int TestedKind() const { return testKind_; }
  // False with the box filled when the connection edit is empty.
  bool StartConnectionTest(int kind, TMessageBox& refusal);
  // The result box and the control to focus afterwards (0 for success); ends the test.
  TMessageBox ConnectionTestFinished(std::uint8_t outcome, const std::string& errorMessage,
                                     int& focusControl);

  // The settings of a run from the inputs (Selected, untrimmed path, trimmed connection).
  void FillConversionInfo(TDbConversionInfo& info) const;
  // The run has ended: the closing page. Sets the state.
  TRunOutcome ConversionFinished(const std::string& error, bool cancelled);

 private:
  TWizardState state_ = wsWelcome;
  std::string cancelCaption_ = "Cancel";
  int testKind_ = -1;
};

// The target-not-empty question: asks until an answer is given (Cancel leads to the exit
// question of the conversion state; No there asks the first question again).
TTargetNotEmptyAnswer AskTargetNotEmpty(int kind, const TAskBox& ask);
TMessageBox TargetNotEmptyBox(int kind);
// The notice after a service problem.
TMessageBox ServiceProblemBox(bool serviceWasStopped);
// A page check's error box.
TMessageBox ErrorBox(const std::string& text);

}  // namespace mrv
