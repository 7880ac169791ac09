#include "WizardModel_un.h"

#include "BaseText.h"

#include <filesystem>
#include <system_error>

#include "AdoConnectionTestThread_un.h"
#include "ufrmDbConverterIds.h"

namespace mrv {

namespace {

const char* const NotImplementedUi = "Not implemented UI function.";
const char* const NoNeighbour = "Not implemented.";

const std::array<TWizardStateInfo, WizardStateCount> StateTable{{
    {"wsWelcome", tbshWelcome, "tbshWelcome", "Welcome", 1},
    {"wsSelectDatabases", tbshSelectDatabases, "tbshSelectDatabases", "Selecting Databases", 2},
    {"wsAswlParams", tbshSelectAswlDbParams, "tbshSelectAswlDbParams",
     "Auto Sender Whitelist Database", 3},
    {"wsGreyParams", tbshSelectGreyDbParams, "tbshSelectGreyDbParams", "Greylisting Database", 4},
    {"wsDhaParams", tbshSelectDhaDbParams, "tbshSelectDhaDbParams", "DHA Protection Database", 5},
    {"wsHoneypotParams", tbshSelectHoneypotParams, "tbshSelectHoneypotParams", "Honeypot Database",
     6},
    {"wsBeginConversion", tbshBeginConversion, "tbshBeginConversion", "Starting the Conversion", 7},
    {"wsConversion", tbshConversion, "tbshConversion", "Conversion", 8},
    {"wsCancelling", tbshConversion, "tbshConversion", "Cancelling", 8},
    {"wsCancelled", tbshConversion, "tbshConversion", "Conversion Cancelled", 8},
    {"wsFinishedWithError", tbshFinishedWithError, "tbshFinishedWithError", "Conversion", 8},
    {"wsFinished", tbshGracefulFinish, "tbshGracefulFinish", "Conversion Finished", 9},
}};

const std::array<TKindControls, DatabaseKindCount> KindTable{{
    {IDC_chbSelectAswl, IDC_editAswlDbLocalPath, IDC_sbtnSelectAswlDbLocalPath,
     IDC_editAswlDbExternalConnString, IDC_btnTestAswlConnection, IDC_lbTestingAswlConnection,
     "aswl.abs"},
    {IDC_chbSelectGrey, IDC_editGreyDbLocalPath, IDC_sbtnSelectGreyDbLocalPath,
     IDC_editGreyDbExternalConnString, IDC_btnTestGreyConnection, IDC_lbTestingGreyConnection,
     "greylist.abs"},
    {IDC_chbSelectDha, IDC_editDhaDbLocalPath, IDC_sbtnSelectDhaDbLocalPathClick,
     IDC_editDhaDbExternalConnString, IDC_btnTestDhaConnection, IDC_lbTestingDhaConnection,
     "dha.abs"},
    {IDC_chbSelectHoneypot, IDC_editHoneypotDbLocalPath, IDC_sbtnSelectHoneypotDbLocalPath,
     IDC_editHoneypotDbExternalConnString, IDC_btnTestHoneypotConnection,
     IDC_lbTestingHoneypotConnection, "honeypot.abs"},
}};

TMessageBox Question(const std::string& text, TBoxButtons buttons) {
  return {text, "Confirmation", biQuestion, buttons};
}

int ParamsKind(TWizardState state) {
  return (state >= wsAswlParams && state <= wsHoneypotParams) ? state - wsAswlParams : -1;
}

}  // namespace

const TWizardStateInfo& WizardStateInfo(int state) {
  if (state < 0 || state >= WizardStateCount) throw EWizardError(NotImplementedUi);
  return StateTable[static_cast<std::size_t>(state)];
}

std::string StepProgressText(int state) {
  return base::Format("Step %d of 9", WizardStateInfo(state).StepNumber);
}

const TKindControls& KindControls(int kind) {
  if (kind < 0 || kind >= DatabaseKindCount) throw EWizardError(NoNeighbour);
  return KindTable[static_cast<std::size_t>(kind)];
}

int KindOfControl(int controlId) {
  for (int kind = 0; kind < DatabaseKindCount; ++kind) {
    const TKindControls& c = KindTable[static_cast<std::size_t>(kind)];
    if (controlId == c.PathEdit || controlId == c.BrowseButton || controlId == c.ConnectionEdit ||
        controlId == c.TestButton)
      return kind;
  }
  return -1;
}

std::string TrimControl(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= 32) ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= 32) --last;
  return text.substr(first, last - first);
}

TMessageBox ErrorBox(const std::string& text) { return {text, "Error", biError, bbOk}; }

bool TWizardModel::DefaultFileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  const std::u8string u8(path.begin(), path.end());
  return std::filesystem::is_regular_file(std::filesystem::path(u8), ec);
}

TWizardModel::TWizardModel() : FileExists(DefaultFileExists) {}

TWizardState TWizardModel::NextState(TWizardState state) {
  if (state >= wsWelcome && state < wsConversion) return static_cast<TWizardState>(state + 1);
  throw EWizardError(NoNeighbour);
}

TWizardState TWizardModel::PreviousState(TWizardState state) {
  if (state == wsWelcome) return wsWelcome;
  if (state > wsWelcome && state <= wsBeginConversion) return static_cast<TWizardState>(state - 1);
  throw EWizardError(NoNeighbour);
}

bool TWizardModel::IsStateEnabled(TWizardState state) const {
  const int kind = ParamsKind(state);
  return kind < 0 || Selected[static_cast<std::size_t>(kind)];
}

std::string TWizardModel::GetConnectionString(int kind) const {
  KindControls(kind);  // range check
  return TrimControl(ConnectionText[static_cast<std::size_t>(kind)]);
}

TWizardView TWizardModel::UpdateWizard() {
  const TWizardStateInfo& info = WizardStateInfo(state_);
  TWizardView view;
  view.Page = info.Page;
  view.StepName = info.StepName;
  view.StepProgress = StepProgressText(state_);
  TWizardButtons& b = view.Buttons;
  b.NextCaption = "&Next >";
  if (state_ <= wsHoneypotParams) {
    b.BackEnabled = state_ != wsWelcome;
    b.NextEnabled = b.CancelEnabled = true;
  } else if (state_ == wsBeginConversion) {
    b.BackEnabled = b.NextEnabled = b.CancelEnabled = true;
    b.NextCaption = "&Start";
  } else if (state_ == wsConversion) {
    b.CancelEnabled = true;
    b.NextCaption = "&Start";
  } else if (state_ >= wsCancelled) {
    b.CancelEnabled = true;
    cancelCaption_ = "&Quit";
  }
  b.CancelCaption = cancelCaption_;
  const bool testing = ConnectionTestRunning();
  if (testing) b.BackEnabled = b.NextEnabled = b.CancelEnabled = false;
  view.InputsEnabled = !testing;
  for (int kind = 0; kind < DatabaseKindCount; ++kind)
    view.TestEnabled[static_cast<std::size_t>(kind)] =
        !testing && !GetConnectionString(kind).empty();
  return view;
}

TValidation TWizardModel::ValidatePage() const {
  TValidation v;
  if (state_ == wsSelectDatabases) {
    bool any = false;
    for (bool s : Selected) any = any || s;
    if (!any) {
      v.Ok = false;
      v.Box = ErrorBox("Please select at least one database to be converted.");
      v.FocusControl = IDC_chbSelectAswl;
    }
    return v;
  }
  const int kind = ParamsKind(state_);
  if (kind < 0) return v;
  const TKindControls& c = KindControls(kind);
  if (!FileExists(SourcePath[static_cast<std::size_t>(kind)])) {
    v.Ok = false;
    v.Box = ErrorBox("Please enter a valid and existing database path.");
    v.FocusControl = c.PathEdit;
  } else if (GetConnectionString(kind).empty()) {
    v.Ok = false;
    v.Box = ErrorBox("Please enter the connection string.");
    v.FocusControl = c.ConnectionEdit;
  }
  return v;
}

TValidation TWizardModel::GoNext(bool& startConversion) {
  startConversion = false;
  TValidation v = ValidatePage();
  if (!v.Ok) return v;
  TWizardState s = NextState(state_);
  while (!IsStateEnabled(s)) s = NextState(s);
  state_ = s;
  startConversion = state_ == wsConversion;
  return v;
}

void TWizardModel::GoBack() {
  TWizardState s = PreviousState(state_);
  while (!IsStateEnabled(s)) s = PreviousState(s);
  state_ = s;
}

int TWizardModel::ParamsPageFocus(int kind) const {
  const TKindControls& c = KindControls(kind);
  if (SourcePath[static_cast<std::size_t>(kind)].empty()) return c.PathEdit;
  if (GetConnectionString(kind).empty()) return c.ConnectionEdit;
  return 0;
}

void TWizardModel::Prefill(const std::function<std::string(int)>& fileName,
                           const std::function<std::string(int)>& connectionString) {
  for (auto& s : SourcePath) s.clear();
  for (auto& s : ConnectionText) s.clear();
  for (int kind = 0; kind < DatabaseKindCount; ++kind) {
    SourcePath[static_cast<std::size_t>(kind)] = fileName(kind);
    ConnectionText[static_cast<std::size_t>(kind)] = connectionString(kind);
  }
}

TExitAction TWizardModel::CancelButtonAction() const {
  if (ConnectionTestRunning()) return eaNothing;
  if (state_ >= wsCancelled) return eaClose;
  if (state_ == wsCancelling) return eaNothing;
  return eaAskExit;
}

TExitAction TWizardModel::CloseBoxAction() const {
  // The close box is ignored while a test runs and while a cancelled run winds down (the run
  // closes the window itself when it has ended).
  if (ConnectionTestRunning() || state_ == wsCancelling) return eaNothing;
  if (state_ >= wsCancelled) return eaClose;
  return eaAskExit;
}

std::string TWizardModel::ExitQuestion() const {
  return state_ == wsConversion ? "Cancel the conversion and exit the Database Converter?"
                                : "Exit Database Converter?";
}

TMessageBox TWizardModel::ExitQuestionBox() const { return Question(ExitQuestion(), bbYesNo); }

TExitConfirmed TWizardModel::ExitConfirmed(bool runExists) {
  state_ = wsCancelling;
  if (runExists) return ecCancelRun;
  state_ = wsCancelled;
  return ecClose;
}

bool TWizardModel::StartConnectionTest(int kind, TMessageBox& refusal) {
  if (ConnectionText[static_cast<std::size_t>(kind)].empty() || ConnectionTestRunning()) {
    refusal = ErrorBox("Please enter the connection string.");
    return false;
  }
  testKind_ = kind;
  return true;
}

TMessageBox TWizardModel::ConnectionTestFinished(std::uint8_t outcome,
                                                 const std::string& errorMessage,
                                                 int& focusControl) {
  const int kind = testKind_;
  testKind_ = -1;
  focusControl = 0;
  if (ConnectionTestIsError(outcome)) {
    if (kind >= 0) focusControl = KindControls(kind).ConnectionEdit;
    return ErrorBox(ConnectionTestResultText(outcome, errorMessage));
  }
  return {ConnectionTestResultText(outcome, errorMessage), "Information", biInformation, bbOk};
}

void TWizardModel::FillConversionInfo(TDbConversionInfo& info) const {
  for (int kind = 0; kind < DatabaseKindCount; ++kind) {
    TConversionTask& task = info.Task(static_cast<TDatabaseKind>(kind));
    task.Selected = Selected[static_cast<std::size_t>(kind)];
    task.SourcePath = SourcePath[static_cast<std::size_t>(kind)];
    task.TargetConnectionString = GetConnectionString(kind);
  }
}

TRunOutcome TWizardModel::ConversionFinished(const std::string& error, bool cancelled) {
  TRunOutcome out;
  if (!error.empty()) {
    out.State = wsFinishedWithError;
    out.Flash = true;
    out.ErrorText = error;
  } else if (cancelled) {
    out.State = wsCancelled;
    out.PostClose = true;
  } else {
    out.State = wsFinished;
    out.Flash = true;
  }
  state_ = out.State;
  return out;
}

TMessageBox TargetNotEmptyBox(int kind) {
  static const char* const Names[] = {"ASWL", "Greylisting", "DHA Protection", "Honeypot"};
  if (kind < 0 || kind >= DatabaseKindCount) throw EWizardError(NoNeighbour);
  return Question(base::Format("Database Converter detected data in the %s External Database.\r\n"
                               "If you proceed, existing data will be deleted from the External "
                               "Database.\r\nDo you want to proceed?",
                               Names[kind]),
                  bbYesNoCancel);
}

TTargetNotEmptyAnswer AskTargetNotEmpty(int kind, const TAskBox& ask) {
  const TMessageBox question = TargetNotEmptyBox(kind);
  TWizardModel inRun;
  inRun.SetState(wsConversion);
  const TMessageBox exitQuestion = inRun.ExitQuestionBox();
  for (;;) {
    switch (ask(question)) {
      case baYes: return taDelete;
      case baNo: return taKeep;
      default:
        if (ask(exitQuestion) == baYes) return taCancel;
    }
  }
}

TMessageBox ServiceProblemBox(bool serviceWasStopped) {
  return {serviceWasStopped ? "Could not automatically restart the Mrv Service.\r\n"
                              "Please start it manually."
                            : "Could not stop the Mrv Service.\r\nIt might have to be started "
                              "manually.",
          "Information", biInformation, bbOk};
}

}  // namespace mrv
