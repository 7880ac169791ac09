// Fault matrix, the service and copy stages: a unit that will not stop, runs into its stop
// time-out or fails to come back; Ctrl+C while it stops; Ctrl+C, SIGTERM and SIGHUP while
// the copy is made; a copy that cannot read its source; a source that refuses its password; no
// room for the copies.
#include <signal.h>
#include <sys/statvfs.h>

#include <cctype>

#include "FaultRig.h"

namespace faults {
namespace {

constexpr int kRows = 2500;

class ServiceFaults : public FaultMatrix {
 protected:
  void SetUp() override {
    FaultMatrix::SetUp();
    MakeSource(kRows);
    SqliteCreateHoneypot(target_, 0);
  }
  std::vector<std::string> Args() const {
    return Convert(SqliteTarget(target_), {"--existing", "keep"});
  }

  // Ctrl+C to the whole process group, as at a console, once the unit has entered `active`
  // (its job queued).
  TRunResult InterruptOnceTheUnitIs(const std::string& active) {
    auto run = Start(Args());
    EXPECT_TRUE(run->WaitUntil(
        [&] { return ReadAll(root_ / "unit" / "state").rfind(active + " ", 0) == 0; }));
    run->Signal(SIGINT, true);
    return run->Finish();
  }
};

// The copy stage: a source of 17 MB (the Automatic Sender Whitelist of 20000 rows),
// copied in steps, so that a signal sent as the copy begins finds it still running.
class CopySignals : public ServiceFaults {
 protected:
  void SetUp() override {
    FaultMatrix::SetUp();
    kind_ = "aswl";
    MakeSource(20000);
    SqliteExec(target_, "PRAGMA journal_mode=WAL;");
  }

  // The run stopped by `sig` while the copy is made: the tool is held on its status line that
  // opens the copy (its output pipe full) while the signal arrives.
  TRunResult SignalDuringCopy(int sig, bool wholeGroup) {
    Put("unit/stop.delay", "0.5");
    auto run = Start(Convert(SqliteTarget(target_), {"--create-schema", "--existing", "keep"}));
    EXPECT_TRUE(run->WaitForText("Stopping the Mrv service...\n"));
    run->Choke(std::string("Stopped the Mrv service.\n").size());
    EXPECT_TRUE(run->WaitUntilChoked());
    run->Signal(sig, wholeGroup);
    run->WaitForMainThreadOnLock();
    run->Release();
    return run->Finish();
  }

  // Whatever ends a run after the service was stopped brings it back, says nothing else, and
  // no row is written.
  void ExpectCancelledWithServiceBack(const TRunResult& r) {
    ExpectEnd(r, 3, "Conversion cancelled.");
    EXPECT_NE(r.Out.find("Stopped the Mrv service.\n"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("Finished creating temporary copies."), std::string::npos)
        << "not in the copy\n"
        << r.Out;
    EXPECT_EQ(UnitState(), "active running") << UnitCalls();
    EXPECT_EQ((r.Out + r.Err).find("could not be restarted"), std::string::npos)
        << "the service is back, and the run says it is not\n"
        << r.Out << r.Err;
    EXPECT_LE(SqliteCount(target_, "ASWL"), 0)
        << "no rows (and the table, made on demand, may not be there)";
  }
};

TEST_F(ServiceFaults, StopRefusedLeavesEverythingAsItWas) {
  Put("unit/stop.refuse", "Failed to stop MRVSVC.service: Access denied\n");
  const TRunResult r = Run(Args());
  ExpectFailed(r,
               "Could not stop the Mrv service.\n\n\"System Error.  Code: 4.\nFailed to stop "
               "MRVSVC.service: Access denied\"\n");
  EXPECT_EQ(UnitState(), "active running");
  EXPECT_EQ(UnitCalls().find("start"), std::string::npos) << UnitCalls();
  EXPECT_EQ(SqliteCount(target_), 0);
}

TEST_F(ServiceFaults, StopTimeOutKillsTheUnitAndTheRunGoesOn) {
  // The unit overruns its stop time-out: systemd kills it and it ends "failed" (result
  // "timeout"). It is down, so the copy is safe; the run restarts it afterwards.
  Put("unit/stop.timeout", "");
  const TRunResult r = Run(Args());
  ExpectEnd(r, 0, "Conversion finished successfully.");
  EXPECT_EQ(r.Err, "");
  EXPECT_NE(
      r.Out.find("Stopped the Mrv service.\nCreating temporary copy of the Honeypot database...\n"),
      std::string::npos)
      << r.Out;
  EXPECT_EQ(UnitState(), "active running");
  EXPECT_EQ(SqliteCount(target_), kRows);
}

TEST_F(ServiceFaults, RestartFailureIsAnErrorAndNoRowIsWritten) {
  Put("unit/start.fail", "");
  const TRunResult r = Run(Args());
  ExpectFailed(r,
               "Could not restart the Mrv service.\n\n\"The operation failed. Please check the "
               "Windows Event Log.\"\n");
  EXPECT_EQ(UnitState(), "failed failed");
  EXPECT_EQ(SqliteCount(target_), 0);
}

TEST_F(ServiceFaults, InterruptWhileTheServiceStops) {
  Put("unit/stop.delay", "1.5");
  const TRunResult r = InterruptOnceTheUnitIs("deactivating");
  ExpectEnd(r, 3, "Conversion cancelled.");
  EXPECT_EQ(r.Out.find("Creating temporary copy"), std::string::npos) << r.Out;
  EXPECT_EQ(SqliteCount(target_), 0);
  // The queued stop job takes the unit down; the run either brings it back or says plainly,
  // on stderr, that the service may be stopped.
  const std::string state = UnitState();
  if (state != "active running") {
    EXPECT_EQ(state, "inactive dead");
    std::string err = r.Err;
    for (char& c : err) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(err.find("mrv service"), std::string::npos) << "a stopped service unannounced\n"
                                                          << r.Err;
  }
}

TEST_F(ServiceFaults, InterruptWhileTheServiceRestarts) {
  // The copy is made; Ctrl+C arrives once the start job is queued. The run ends cancelled,
  // and it neither abandons the service it stopped nor says so when it is running.
  Put("unit/start.delay", "1.5");
  const TRunResult r = InterruptOnceTheUnitIs("activating");
  ExpectEnd(r, 3, "Conversion cancelled.");
  EXPECT_NE(r.Out.find("Restarting the Mrv service...\n"), std::string::npos) << r.Out;
  EXPECT_EQ(UnitState(), "active running");
  EXPECT_EQ((r.Out + r.Err).find("could not be restarted"), std::string::npos) << r.Out << r.Err;
  EXPECT_EQ(SqliteCount(target_), 0);
}

TEST_F(CopySignals, InterruptDuringTheCopy) {
  ExpectCancelledWithServiceBack(SignalDuringCopy(SIGINT, true));
}
TEST_F(CopySignals, TerminateDuringTheCopy) {
  ExpectCancelledWithServiceBack(SignalDuringCopy(SIGTERM, false));
}
TEST_F(CopySignals, HangupDuringTheCopy) {
  ExpectCancelledWithServiceBack(SignalDuringCopy(SIGHUP, true));
}

TEST_F(ServiceFaults, UnreadableSourceFailsTheCopy) {
  // Mode 000, and the tool runs without the capabilities that let root read past it.
  fs::permissions(Source(), fs::perms::none);
  const TRunResult r = Run(Args(), {false, true});
  fs::permissions(Source(), fs::perms::owner_read | fs::perms::owner_write);
  ExpectFailed(r, "Failed to duplicate file '" + Source().string() + ".'\n");
  EXPECT_NE(r.Err.find("Permission denied"), std::string::npos) << r.Err;
  EXPECT_EQ(UnitState(), "active running");
  EXPECT_TRUE(Stopped());
  EXPECT_EQ(SqliteCount(target_), 0);
}

TEST_F(ServiceFaults, WrongSourcePasswordBringsTheServiceBack) {
  // The source refuses the password only after the service was stopped for its copy.
  MakeSource(kRows, {"--force", "--password", "Right-Pass-1"});
  std::vector<std::string> args = Args();
  args.insert(args.end(), {"--password", "Wrong-Pass-2"});
  const TRunResult r = Run(args);
  ExpectFailed(
      r,
      "Could not open the source Honeypot database.\nThe password given for the encrypted file \"" +
          Source().string() + "\" is wrong.\n");
  EXPECT_TRUE(Stopped());
  EXPECT_EQ(UnitState(), "active running") << UnitCalls();
  EXPECT_EQ(SqliteCount(target_), 0);
  EXPECT_EQ((r.Out + r.Err).find("Pass-"), std::string::npos) << r.Out << r.Err;
}

TEST_F(ServiceFaults, NoRoomForTheCopies) {
  if (!MountSmall(Temp(), 64 * 1024)) GTEST_SKIP() << "no private tmpfs mount possible here";
  struct statvfs sv {};
  ASSERT_EQ(statvfs(Temp().c_str(), &sv), 0);
  const long long missing = static_cast<long long>(fs::file_size(Source())) -
                            static_cast<long long>(sv.f_bavail * sv.f_frsize);
  const TRunResult r = Run(Args());
  ExpectEnd(r, 1, "Conversion was aborted due to an error.");
  EXPECT_EQ(r.Err, "There is not enough space on drive " + Temp().string() + "/.\n" +
                       std::to_string(missing) + " additional bytes needed.\n");
  EXPECT_EQ(UnitState(), "active running");
  EXPECT_NE(UnitCalls().find("start -- MRVSVC.service"), std::string::npos)
      << "stopped, then restarted";
  EXPECT_EQ(SqliteCount(target_), 0);
}

}  // namespace
}  // namespace faults
