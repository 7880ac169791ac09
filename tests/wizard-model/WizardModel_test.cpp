// The wizard's states, navigation, page checks, buttons and exit rules, without a window.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "AdoConnectionTestThread_un.h"
#include "WizardModel_un.h"
#include "ufrmDbConverterIds.h"

using namespace mrv;
namespace fs = std::filesystem;

namespace {

struct StateRow {
  const char* name;
  const char* page;
  const char* step;
  int number;
};

TWizardModel ModelIn(TWizardState state) {
  TWizardModel m;
  m.SetState(state);
  return m;
}

class TempFolder {
 public:
  TempFolder() {
    path_ = fs::temp_directory_path() /
            ("wizard-model-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  std::string File(const char* name) {
    std::ofstream(path_ / name) << "x";
    return (path_ / name).string();
  }
  std::string Path() const { return path_.string(); }

 private:
  fs::path path_;
};

}  // namespace

TEST(WizardStates, TableGivesPageStepNameAndNumberOfEveryState) {
  const StateRow rows[WizardStateCount] = {
      {"wsWelcome", "tbshWelcome", "Welcome", 1},
      {"wsSelectDatabases", "tbshSelectDatabases", "Selecting Databases", 2},
      {"wsAswlParams", "tbshSelectAswlDbParams", "Auto Sender Whitelist Database", 3},
      {"wsGreyParams", "tbshSelectGreyDbParams", "Greylisting Database", 4},
      {"wsDhaParams", "tbshSelectDhaDbParams", "DHA Protection Database", 5},
      {"wsHoneypotParams", "tbshSelectHoneypotParams", "Honeypot Database", 6},
      {"wsBeginConversion", "tbshBeginConversion", "Starting the Conversion", 7},
      {"wsConversion", "tbshConversion", "Conversion", 8},
      {"wsCancelling", "tbshConversion", "Cancelling", 8},
      {"wsCancelled", "tbshConversion", "Conversion Cancelled", 8},
      {"wsFinishedWithError", "tbshFinishedWithError", "Conversion", 8},
      {"wsFinished", "tbshGracefulFinish", "Conversion Finished", 9},
  };
  for (int s = 0; s < WizardStateCount; ++s) {
    SCOPED_TRACE(s);
    const TWizardStateInfo& info = WizardStateInfo(s);
    EXPECT_STREQ(info.Name, rows[s].name);
    EXPECT_STREQ(info.PageName, rows[s].page);
    EXPECT_STREQ(info.StepName, rows[s].step);
    EXPECT_EQ(info.StepNumber, rows[s].number);
    TWizardModel m = ModelIn(static_cast<TWizardState>(s));
    const TWizardView view = m.UpdateWizard();
    EXPECT_EQ(view.StepName, rows[s].step);
    EXPECT_EQ(view.StepProgress, "Step " + std::to_string(rows[s].number) + " of 9");
    EXPECT_EQ(view.Page, info.Page);
  }
  EXPECT_THROW(
      {
        try {
          WizardStateInfo(12);
        } catch (const EWizardError& e) {
          EXPECT_STREQ(e.what(), "Not implemented UI function.");
          throw;
        }
      },
      EWizardError);
}

TEST(WizardStates, NeighboursExistOnlyBetweenWelcomeAndConversion) {
  for (int s = 0; s <= wsBeginConversion; ++s)
    EXPECT_EQ(TWizardModel::NextState(static_cast<TWizardState>(s)), s + 1);
  EXPECT_EQ(TWizardModel::PreviousState(wsWelcome), wsWelcome);
  for (int s = 1; s <= wsBeginConversion; ++s)
    EXPECT_EQ(TWizardModel::PreviousState(static_cast<TWizardState>(s)), s - 1);
  for (int s = wsConversion; s < WizardStateCount; ++s) {
    EXPECT_THROW(TWizardModel::NextState(static_cast<TWizardState>(s)), EWizardError) << s;
    EXPECT_THROW(TWizardModel::PreviousState(static_cast<TWizardState>(s)), EWizardError) << s;
  }
}

TEST(WizardNavigation, OnlyHoneypotSelectedSkipsTheOtherParametersPages) {
  TempFolder tmp;
  TWizardModel m = ModelIn(wsSelectDatabases);
  m.Selected[dkHoneypot] = true;
  m.SourcePath[dkHoneypot] = tmp.File("honeypot.abs");
  m.ConnectionText[dkHoneypot] = "Provider=SQLite;Data Source=x.db";
  bool start = true;
  EXPECT_TRUE(m.GoNext(start).Ok);
  EXPECT_EQ(m.State(), wsHoneypotParams);
  EXPECT_EQ(m.UpdateWizard().StepProgress, "Step 6 of 9");
  EXPECT_FALSE(start);
  EXPECT_TRUE(m.GoNext(start).Ok);
  EXPECT_EQ(m.State(), wsBeginConversion);
  m.GoBack();
  EXPECT_EQ(m.State(), wsHoneypotParams);
  m.GoBack();
  EXPECT_EQ(m.State(), wsSelectDatabases);
  m.GoBack();
  EXPECT_EQ(m.State(), wsWelcome);
  m.GoBack();
  EXPECT_EQ(m.State(), wsWelcome);
}

TEST(WizardNavigation, FullWalkEndsByStartingTheConversion) {
  TempFolder tmp;
  TWizardModel m;
  const std::string file = tmp.File("a.abs");
  for (int k = 0; k < DatabaseKindCount; ++k) {
    m.Selected[k] = true;
    m.SourcePath[k] = file;
    m.ConnectionText[k] = "DSN=x";
  }
  bool start = false;
  for (int expected = 1; expected <= wsBeginConversion; ++expected) {
    ASSERT_TRUE(m.GoNext(start).Ok);
    EXPECT_EQ(m.State(), expected);
    EXPECT_FALSE(start);
  }
  ASSERT_TRUE(m.GoNext(start).Ok);
  EXPECT_EQ(m.State(), wsConversion);
  EXPECT_TRUE(start);
}

TEST(WizardValidation, EachPageCheckGivesItsMessageAndFocus) {
  TempFolder tmp;
  TWizardModel m = ModelIn(wsSelectDatabases);
  bool start = false;
  TValidation v = m.GoNext(start);
  EXPECT_FALSE(v.Ok);
  EXPECT_EQ(v.Box.Text, "Please select at least one database to be converted.");
  EXPECT_EQ(v.Box.Caption, "Error");
  EXPECT_EQ(v.Box.Icon, biError);
  EXPECT_EQ(v.FocusControl, IDC_chbSelectAswl);
  EXPECT_EQ(m.State(), wsSelectDatabases);

  m.Selected[dkDha] = true;
  m.SetState(wsDhaParams);
  for (const std::string& bad : {std::string(), tmp.Path(), tmp.Path() + "/missing.abs"}) {
    m.SourcePath[dkDha] = bad;
    v = m.GoNext(start);
    EXPECT_FALSE(v.Ok) << bad;
    EXPECT_EQ(v.Box.Text, "Please enter a valid and existing database path.");
    EXPECT_EQ(v.FocusControl, IDC_editDhaDbLocalPath);
    EXPECT_EQ(m.State(), wsDhaParams);
  }
  m.SourcePath[dkDha] = tmp.File("dha.abs");
  m.ConnectionText[dkDha] = " \t\r\n ";
  v = m.GoNext(start);
  EXPECT_EQ(v.Box.Text, "Please enter the connection string.");
  EXPECT_EQ(v.FocusControl, IDC_editDhaDbExternalConnString);
  m.ConnectionText[dkDha] = " DSN=x ";
  EXPECT_TRUE(m.GoNext(start).Ok);
  EXPECT_EQ(m.State(), wsBeginConversion);
}

TEST(WizardValidation, FileCheckCanBeReplaced) {
  TWizardModel m = ModelIn(wsAswlParams);
  m.Selected[dkAswl] = true;
  m.ConnectionText[dkAswl] = "DSN=x";
  std::string asked;
  m.FileExists = [&](const std::string& p) {
    asked = p;
    return true;
  };
  m.SourcePath[dkAswl] = "C:\\Data\\aswl.abs";
  EXPECT_TRUE(m.ValidatePage().Ok);
  EXPECT_EQ(asked, "C:\\Data\\aswl.abs");
}

TEST(WizardButtons, TableByStateWithTheCancelCaptionKeptUntilQuit) {
  struct Row {
    bool back, next, cancel;
    const char* nextCaption;
  };
  const Row rows[WizardStateCount] = {
      {false, true, true, "&Next >"},   {true, true, true, "&Next >"},
      {true, true, true, "&Next >"},    {true, true, true, "&Next >"},
      {true, true, true, "&Next >"},    {true, true, true, "&Next >"},
      {true, true, true, "&Start"},     {false, false, true, "&Start"},
      {false, false, false, "&Next >"}, {false, false, true, "&Next >"},
      {false, false, true, "&Next >"},  {false, false, true, "&Next >"},
  };
  for (int s = 0; s < WizardStateCount; ++s) {
    SCOPED_TRACE(s);
    TWizardModel m = ModelIn(static_cast<TWizardState>(s));
    const TWizardButtons b = m.UpdateWizard().Buttons;
    EXPECT_EQ(b.BackEnabled, rows[s].back);
    EXPECT_EQ(b.NextEnabled, rows[s].next);
    EXPECT_EQ(b.CancelEnabled, rows[s].cancel);
    EXPECT_EQ(b.NextCaption, rows[s].nextCaption);
    EXPECT_EQ(b.CancelCaption, s >= wsCancelled ? "&Quit" : "Cancel");
  }
  // Once "&Quit", always "&Quit", whatever state the form shows afterwards.
  TWizardModel m = ModelIn(wsFinished);
  m.UpdateWizard();
  m.SetState(wsConversion);
  EXPECT_EQ(m.UpdateWizard().Buttons.CancelCaption, "&Quit");
}

TEST(WizardButtons, TestButtonsFollowTheTrimmedConnectionString) {
  TWizardModel m = ModelIn(wsGreyParams);
  m.ConnectionText = {"DSN=a", "  \t ", "", "\x01x\x1f"};
  const TWizardView v = m.UpdateWizard();
  EXPECT_TRUE(v.TestEnabled[0]);
  EXPECT_FALSE(v.TestEnabled[1]);
  EXPECT_FALSE(v.TestEnabled[2]);
  EXPECT_TRUE(v.TestEnabled[3]);
  EXPECT_EQ(m.GetConnectionString(3), "x");
  EXPECT_EQ(TrimControl(" \r\nProvider=A; Data Source=b c\t "), "Provider=A; Data Source=b c");
  EXPECT_EQ(TrimControl(std::string("\0\0", 2)), "");
  EXPECT_EQ(TrimControl("\xC3\xA9"), "\xC3\xA9");  // bytes above 127 are text, not blanks
}

TEST(WizardConnectionTest, LocksThePagesAndFocusesTheEditAfterAFailure) {
  TWizardModel m = ModelIn(wsDhaParams);
  TMessageBox refusal;
  EXPECT_FALSE(m.StartConnectionTest(dkDha, refusal));
  EXPECT_EQ(refusal.Text, "Please enter the connection string.");
  EXPECT_FALSE(m.ConnectionTestRunning());

  m.ConnectionText[dkDha] = "DSN=nowhere";
  ASSERT_TRUE(m.StartConnectionTest(dkDha, refusal));
  TWizardView v = m.UpdateWizard();
  EXPECT_FALSE(v.Buttons.BackEnabled || v.Buttons.NextEnabled || v.Buttons.CancelEnabled);
  EXPECT_FALSE(v.InputsEnabled);
  EXPECT_FALSE(v.TestEnabled[dkDha]);
  EXPECT_EQ(m.CloseBoxAction(), eaNothing);
  EXPECT_EQ(m.CancelButtonAction(), eaNothing);

  int focus = -1;
  TMessageBox box = m.ConnectionTestFinished(ctOpenFailed, "no route", focus);
  EXPECT_EQ(box.Text, "Test failed, could not connect to the database.\r\nError message: no route");
  EXPECT_EQ(box.Caption, "Error");
  EXPECT_EQ(focus, IDC_editDhaDbExternalConnString);
  v = m.UpdateWizard();
  EXPECT_TRUE(v.Buttons.NextEnabled && v.InputsEnabled && v.TestEnabled[dkDha]);

  ASSERT_TRUE(m.StartConnectionTest(dkDha, refusal));
  box = m.ConnectionTestFinished(ctSucceeded, "", focus);
  EXPECT_EQ(box.Text, "Connection test was successful.");
  EXPECT_EQ(box.Caption, "Information");
  EXPECT_EQ(box.Icon, biInformation);
  EXPECT_EQ(focus, 0);
}

TEST(WizardFocus, ParametersPageFocusesTheFirstEmptyInput) {
  TWizardModel m;
  EXPECT_EQ(m.ParamsPageFocus(dkGrey), IDC_editGreyDbLocalPath);
  m.SourcePath[dkGrey] = "g.abs";
  m.ConnectionText[dkGrey] = "   ";
  EXPECT_EQ(m.ParamsPageFocus(dkGrey), IDC_editGreyDbExternalConnString);
  m.ConnectionText[dkGrey] = "DSN=g";
  EXPECT_EQ(m.ParamsPageFocus(dkGrey), 0);
}

TEST(WizardStartUp, PrefillsInKindOrderAndStopsAtAFailure) {
  TWizardModel m;
  m.SourcePath[dkHoneypot] = "stale";
  std::vector<std::string> calls;
  m.Prefill(
      [&](int k) {
        calls.push_back("file" + std::to_string(k));
        return "f" + std::to_string(k);
      },
      [&](int k) {
        calls.push_back("conn" + std::to_string(k));
        return "c" + std::to_string(k);
      });
  EXPECT_EQ(calls, (std::vector<std::string>{"file0", "conn0", "file1", "conn1", "file2", "conn2",
                                             "file3", "conn3"}));
  EXPECT_EQ(m.SourcePath[3], "f3");
  EXPECT_EQ(m.ConnectionText[2], "c2");

  EXPECT_THROW(m.Prefill(
                   [](int k) -> std::string {
                     if (k == 1) throw std::runtime_error("cannot read mrvent.ini");
                     return "f";
                   },
                   [](int) { return std::string("c"); }),
               std::runtime_error);
  EXPECT_EQ(m.SourcePath[0], "f");
  EXPECT_EQ(m.ConnectionText[0], "c");
  EXPECT_EQ(m.SourcePath[1], "");
  EXPECT_EQ(m.SourcePath[3], "");
  EXPECT_EQ(m.ConnectionText[3], "");
}

TEST(WizardExit, CancelAndCloseBoxByState) {
  for (int s = 0; s < WizardStateCount; ++s) {
    SCOPED_TRACE(s);
    const TWizardModel m = ModelIn(static_cast<TWizardState>(s));
    const TExitAction expected = s <= wsConversion   ? eaAskExit
                                 : s == wsCancelling ? eaNothing
                                                     : eaClose;
    EXPECT_EQ(m.CloseBoxAction(), expected);
    EXPECT_EQ(m.CancelButtonAction(), expected);
    const TMessageBox q = m.ExitQuestionBox();
    EXPECT_EQ(q.Text, s == wsConversion ? "Cancel the conversion and exit the Database Converter?"
                                        : "Exit Database Converter?");
    EXPECT_EQ(q.Caption, "Confirmation");
    EXPECT_EQ(q.Icon, biQuestion);
    EXPECT_EQ(q.Buttons, bbYesNo);
  }
  TWizardModel idle = ModelIn(wsDhaParams);
  EXPECT_EQ(idle.ExitConfirmed(false), ecClose);
  EXPECT_EQ(idle.State(), wsCancelled);
  TWizardModel running = ModelIn(wsConversion);
  EXPECT_EQ(running.ExitConfirmed(true), ecCancelRun);
  EXPECT_EQ(running.State(), wsCancelling);
  const TWizardView v = running.UpdateWizard();
  EXPECT_EQ(v.StepName, "Cancelling");
  EXPECT_FALSE(v.Buttons.CancelEnabled);
}

TEST(WizardRun, SettingsTakeTheTrimmedConnectionAndTheUntrimmedPath) {
  TWizardModel m;
  m.Selected = {false, true, false, true};
  m.SourcePath[dkGrey] = " g.abs ";
  m.ConnectionText[dkGrey] = "\t DSN=g \r\n";
  TDbConversionInfo info;
  m.FillConversionInfo(info);
  EXPECT_FALSE(info.Task(dkAswl).Selected);
  EXPECT_TRUE(info.Task(dkGrey).Selected);
  EXPECT_TRUE(info.Task(dkHoneypot).Selected);
  EXPECT_EQ(info.Task(dkGrey).SourcePath, " g.abs ");
  EXPECT_EQ(info.Task(dkGrey).TargetConnectionString, "DSN=g");
}

TEST(WizardRun, FinishedPageFollowsErrorThenCancel) {
  TWizardModel m = ModelIn(wsCancelling);
  TRunOutcome o = m.ConversionFinished("It failed.", true);
  EXPECT_EQ(o.State, wsFinishedWithError);
  EXPECT_EQ(m.State(), wsFinishedWithError);
  EXPECT_TRUE(o.Flash);
  EXPECT_FALSE(o.PostClose);
  EXPECT_EQ(o.ErrorText, "It failed.");
  o = m.ConversionFinished("", true);
  EXPECT_EQ(o.State, wsCancelled);
  EXPECT_TRUE(o.PostClose);
  EXPECT_FALSE(o.Flash);
  o = m.ConversionFinished("", false);
  EXPECT_EQ(o.State, wsFinished);
  EXPECT_TRUE(o.Flash);
  EXPECT_FALSE(o.PostClose);
}

TEST(WizardRun, TargetNotEmptyQuestionLoopsUntilAnswered) {
  std::vector<std::string> asked;
  std::vector<TBoxAnswer> script = {baCancel, baNo, baCancel, baNo, baNo};
  std::size_t next = 0;
  auto ask = [&](const TMessageBox& b) {
    asked.push_back(b.Text);
    return script.at(next++);
  };
  EXPECT_EQ(AskTargetNotEmpty(dkDha, ask), taKeep);
  const std::string q = TargetNotEmptyBox(dkDha).Text;
  const std::string exitQ = "Cancel the conversion and exit the Database Converter?";
  EXPECT_EQ(asked, (std::vector<std::string>{q, exitQ, q, exitQ, q}));
  EXPECT_EQ(q,
            "Database Converter detected data in the DHA Protection External Database.\r\n"
            "If you proceed, existing data will be deleted from the External Database.\r\n"
            "Do you want to proceed?");
  EXPECT_EQ(TargetNotEmptyBox(dkAswl).Buttons, bbYesNoCancel);
  EXPECT_NE(TargetNotEmptyBox(dkAswl).Text.find(" ASWL External"), std::string::npos);

  script = {baYes};
  next = 0;
  EXPECT_EQ(AskTargetNotEmpty(dkGrey, ask), taDelete);
  script = {baCancel, baYes};
  next = 0;
  EXPECT_EQ(AskTargetNotEmpty(dkHoneypot, ask), taCancel);
  EXPECT_THROW(TargetNotEmptyBox(4), EWizardError);
}

TEST(WizardRun, ServiceNoticeTexts) {
  EXPECT_EQ(ServiceProblemBox(true).Text,
            "Could not automatically restart the Mrv Service.\r\nPlease start it manually.");
  EXPECT_EQ(ServiceProblemBox(false).Text,
            "Could not stop the Mrv Service.\r\nIt might have to be started manually.");
  EXPECT_EQ(ServiceProblemBox(false).Caption, "Information");
  EXPECT_EQ(ServiceProblemBox(false).Icon, biInformation);
}
