// Fault matrix, ending a run from outside: Ctrl+C at the question (typed at the tool's own
// terminal), during the clearing and during the transfer; SIGTERM and SIGHUP during the
// transfer. Slow triggers keep the target busy long enough for the signal to land in the
// stage; the signal is sent once the target shows the first batch done.
#include <signal.h>

#include "FaultRig.h"

namespace faults {
namespace {

constexpr int kRows = 2500;
// Work a trigger does per row so that a batch of rows takes a noticeable while.
const char* const kSlowWork = "SELECT length(hex(randomblob(40000)));";

class CancelFaults : public FaultMatrix {
 protected:
  void SetUp() override {
    FaultMatrix::SetUp();
    MakeSource(kRows);
  }

  // The transfer, signalled once its first batch is committed.
  TRunResult SignalDuringTransfer(int sig, bool wholeGroup) {
    SqliteCreateHoneypot(target_, 0);
    SqliteExec(target_,
               std::string("CREATE TRIGGER Slowly BEFORE INSERT ON HoneypotBlacklist BEGIN ") +
                   kSlowWork + " END;");
    auto run = Start(Convert(SqliteTarget(target_), {"--existing", "keep"}));
    EXPECT_TRUE(run->WaitUntil([&] { return SqliteCount(target_) >= kBatch; }));
    run->Signal(sig, wholeGroup);
    return run->Finish();
  }
  void ExpectTransferCancelled(const TRunResult& r) {
    ExpectEnd(r, 3, "Conversion cancelled.");
    EXPECT_NE(r.Out.find("Cancelling operation...\n"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Rolling back data...\nFinished rolling back.\n"), std::string::npos)
        << r.Out;
    EXPECT_EQ(r.Err, "");
    EXPECT_TRUE(Stopped());
    EXPECT_EQ(UnitState(), "active running");
    const std::vector<std::string> ips = SqliteIps(target_, 0);
    EXPECT_GE(ips.size(), static_cast<size_t>(kBatch));
    EXPECT_LT(ips.size(), static_cast<size_t>(kRows)) << "the run went on to the end";
    ExpectWholeBatches(ips);
    const auto n = static_cast<std::int64_t>(ips.size());
    ExpectSummary(r, 0, 0, n, n);
  }
};

TEST_F(CancelFaults, InterruptAtTheQuestion) {
  SqliteCreateHoneypot(target_, 10);
  TRunOptions terminal;
  terminal.Terminal = true;
  auto run = Start(Convert(SqliteTarget(target_), {}), terminal);
  ASSERT_TRUE(
      run->WaitForText("The target Honeypot database already holds 10 rows. [d]elete them, [k]eep "
                       "them or [c]ancel the conversion? "));
  run->Type("\x03");  // Ctrl+C at the terminal
  const TRunResult r = run->Finish();
  ExpectEnd(r, 3, "Conversion cancelled.");
  EXPECT_EQ(r.Err, "");
  EXPECT_FALSE(Stopped()) << UnitCalls();
  EXPECT_EQ(UnitState(), "active running");
  EXPECT_EQ(SqliteCount(target_), 10);
  ExpectSummary(r, 10, 0, 0, 10);
}

TEST_F(CancelFaults, InterruptDuringTheClearing) {
  SqliteCreateHoneypot(target_, kRows);
  SqliteExec(target_,
             std::string("CREATE TRIGGER Slowly BEFORE DELETE ON HoneypotBlacklist BEGIN ") +
                 kSlowWork + " END;");
  auto run = Start(Convert(SqliteTarget(target_), {"--existing", "delete"}));
  ASSERT_TRUE(run->WaitUntil([&] { return SqliteCount(target_) <= kRows - kBatch; }));
  run->Signal(SIGINT, true);
  const TRunResult r = run->Finish();
  ExpectEnd(r, 3, "Conversion cancelled.");
  EXPECT_NE(r.Out.find("Clearing the Honeypot database...\n"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("Finished clearing"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Err, "");
  EXPECT_FALSE(Stopped()) << "cancelled before the service stage\n" << UnitCalls();
  EXPECT_EQ(UnitState(), "active running");
  const std::int64_t left = SqliteCount(target_);
  EXPECT_TRUE(left == kRows - kBatch || left == kRows - 2 * kBatch)
      << left << " rows left: whole batches only";
  ExpectSummary(r, kRows, kRows - left, 0, left);
}

TEST_F(CancelFaults, InterruptDuringTheTransfer) {
  ExpectTransferCancelled(SignalDuringTransfer(SIGINT, true));
}
TEST_F(CancelFaults, TerminateDuringTheTransfer) {
  ExpectTransferCancelled(SignalDuringTransfer(SIGTERM, false));
}
TEST_F(CancelFaults, HangupDuringTheTransfer) {
  ExpectTransferCancelled(SignalDuringTransfer(SIGHUP, true));
}

}  // namespace
}  // namespace faults
