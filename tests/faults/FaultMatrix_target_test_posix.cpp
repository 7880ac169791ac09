// Fault matrix, the target and source stages: a server that is down, a missing table, a
// clearing that fails half way, a key conflict in the middle of a batch, a server session
// killed in the middle of a batch, a broken source page, a full target disk.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include "FaultRig.h"

namespace faults {
namespace {

constexpr int kRows = 2500;

class TargetFaults : public FaultMatrix {
 protected:
  void SetUp() override {
    FaultMatrix::SetUp();
    MakeSource(kRows);
  }
  // A case whose run ends before the service stage leaves the unit alone.
  void ExpectUnitUntouched() {
    EXPECT_FALSE(Stopped()) << UnitCalls();
    EXPECT_EQ(UnitState(), "active running");
  }
  // A case whose run ends after the copies: the unit was stopped and is running again.
  void ExpectUnitBack() {
    EXPECT_TRUE(Stopped()) << UnitCalls();
    EXPECT_EQ(UnitState(), "active running");
  }
  // The address of source row `n` (from 0), made a key that the target already holds.
  std::string KeyConflictAt(size_t n) {
    const std::vector<std::string>& ref = ReferenceIps();
    EXPECT_EQ(std::set<std::string>(ref.begin(), ref.end()).size(), ref.size())
        << "addresses repeat";
    return ref.at(n);
  }
};

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

TEST_F(TargetFaults, PostgresDownAtConnect) {
  // A port nobody listens on.
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  const int port = ntohs(a.sin_port);
  ::close(s);
  const TRunResult r =
      Run(Convert("Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(port) +
                      ";Database=mrvtest;Uid=mrvtest;Pwd=Down-Secret-77",
                  {"--existing", "keep"}));
  ExpectFailed(r,
               "Could not connect to the target Honeypot database.\n\nMake sure the database has "
               "been created,\nand the database server is up and running.\n\n");
  EXPECT_EQ((r.Out + r.Err).find("Down-Secret-77"), std::string::npos);
  ExpectUnitUntouched();
}

TEST_F(TargetFaults, TargetTableMissing) {
  SqliteExec(target_, "CREATE TABLE Other(x INTEGER); INSERT INTO Other VALUES(1);");
  const TRunResult r = Run(Convert(SqliteTarget(target_), {"--existing", "keep"}));
  ExpectFailed(r,
               "The Honeypot (HoneypotBlacklist) table was not found in the target External "
               "Database. Make sure that the database schema is already prepared for the "
               "conversion.\n");
  ExpectUnitUntouched();
  EXPECT_EQ(SqliteCount(target_, "Other"), 1);
  EXPECT_EQ(SqliteCount(target_), -1) << "no table made behind the administrator's back";
}

TEST_F(TargetFaults, ClearingFailsHalfWay) {
  // 2500 earlier rows; the 1501st deletion raises. The first 1000 deletions were committed.
  SqliteCreateHoneypot(target_, kRows);
  SqliteExec(target_,
             "CREATE TABLE Deleted(n INTEGER); INSERT INTO Deleted VALUES(0);"
             "CREATE TRIGGER CountDeletes AFTER DELETE ON HoneypotBlacklist BEGIN UPDATE Deleted "
             "SET n = n + 1; END;"
             "CREATE TRIGGER RefuseDeletes BEFORE DELETE ON HoneypotBlacklist WHEN (SELECT n FROM "
             "Deleted) >= 1500 "
             "BEGIN SELECT RAISE(ABORT, 'deletion refused by the test'); END;");
  const TRunResult r = Run(Convert(SqliteTarget(target_), {"--existing", "delete"}));
  ExpectFailed(r, "Could not clear the target Honeypot table.\n\n");
  EXPECT_NE(r.Err.find("deletion refused by the test"), std::string::npos) << r.Err;
  ExpectUnitUntouched();
  EXPECT_EQ(SqliteCount(target_), kRows - kBatch);
  EXPECT_EQ(SqliteCount(target_, "Deleted WHERE n = 1000"), 1)
      << "the failed batch is rolled back whole";
  ExpectSummary(r, kRows, kBatch, 0, SqliteCount(target_));
}

// A key conflict with an earlier row in the middle of the second batch.
TEST_F(TargetFaults, SqliteInsertConflictMidBatch) {
  const std::string key = KeyConflictAt(1500);
  SqliteCreateHoneypot(target_, 0);
  SqliteExec(target_,
             "CREATE UNIQUE INDEX OneRowPerAddress ON HoneypotBlacklist(IpAddress);"
             "INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime) VALUES(" +
                 Quoted(key) + ", '2020-01-01 00:00:00');");
  const TRunResult r = Run(Convert(SqliteTarget(target_), {"--existing", "keep"}));
  ExpectFailed(r, "An unexpected error occured during the conversion.\n");
  EXPECT_NE(r.Out.find("Error occured, rolling back data...\nFinished rolling back.\n"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Err.find("UNIQUE constraint failed: HoneypotBlacklist.IpAddress"), std::string::npos)
      << r.Err;
  ExpectUnitBack();
  EXPECT_EQ(SqliteIps(target_, 0).front(), key) << "the earlier row stays";
  EXPECT_EQ(SqliteCount(target_), 1 + kBatch);
  ExpectWholeBatches(SqliteIps(target_, 1));
  ExpectSummary(r, 1, 0, kBatch, SqliteCount(target_));
}

TEST_F(TargetFaults, PostgresInsertConflictMidBatch) {
  TPgDatabase pg("mrvfault_conflict");
  if (!pg.Ready()) GTEST_SKIP() << "no PostgreSQL test cluster (MRV_PG_CONN)";
  const std::string key = KeyConflictAt(1500);
  pg.CreateHoneypot(0);
  bool ok = false;
  pg.Sql(
      "CREATE UNIQUE INDEX OneRowPerAddress ON HoneypotBlacklist(IpAddress);"
      "INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime) VALUES(" +
          Quoted(key) + ", '2020-01-01');",
      &ok);
  ASSERT_TRUE(ok);
  const TRunResult r = Run(Convert(pg.Target(), {"--existing", "keep"}));
  ExpectFailed(r, "An unexpected error occured during the conversion.\n");
  EXPECT_NE(r.Err.find("onerowperaddress"), std::string::npos) << r.Err;
  ExpectUnitBack();
  EXPECT_EQ(pg.Count(), 1 + kBatch);
  EXPECT_EQ(pg.Ips(0).front(), key);
  ExpectWholeBatches(pg.Ips(1));
  ExpectSummary(r, 1, 0, kBatch, pg.Count());
}

TEST_F(TargetFaults, PostgresSessionKilledMidBatch) {
  TPgDatabase pg("mrvfault_killed");
  if (!pg.Ready()) GTEST_SKIP() << "no PostgreSQL test cluster (MRV_PG_CONN)";
  pg.CreateHoneypot(0);
  bool ok = false;
  // Each insert takes a little while, so that a batch is still open when the session goes.
  pg.Sql(
      "CREATE FUNCTION Slowly() RETURNS trigger LANGUAGE plpgsql AS "
      "$$BEGIN PERFORM pg_sleep(0.001); RETURN NEW; END$$;"
      "CREATE TRIGGER Slowly BEFORE INSERT ON HoneypotBlacklist FOR EACH ROW EXECUTE FUNCTION "
      "Slowly();",
      &ok);
  ASSERT_TRUE(ok);
  auto run = Start(Convert(pg.Target(), {"--existing", "keep"}));
  ASSERT_TRUE(run->WaitUntil([&] { return pg.Count() >= kBatch; }));
  const std::string killed = pg.Sql(
      "SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = "
      "current_database() "
      "AND pid <> pg_backend_pid()");
  const TRunResult r = run->Finish();
  EXPECT_EQ(killed, "1");
  ExpectFailed(r, "An unexpected error occured during the conversion.\n");
  ExpectUnitBack();
  const std::vector<std::string> ips = pg.Ips(0);
  EXPECT_GE(ips.size(), static_cast<size_t>(kBatch));
  EXPECT_LT(ips.size(), static_cast<size_t>(kRows));
  ExpectWholeBatches(ips);
}

TEST_F(TargetFaults, BrokenSourcePageCarriedIntoTheCopy) {
  // The record of source row 1501 is overwritten in the live file; the copy carries the
  // damage and the transfer meets it in the middle of its second batch.
  const std::string key = KeyConflictAt(1500);
  const size_t at = sourceBytes_.find(key);
  ASSERT_NE(at, std::string::npos);
  ASSERT_EQ(sourceBytes_.find(key, at + 1), std::string::npos);
  sourceBytes_.replace(at, 64, std::string(64, '\xff'));
  Put("src/honeypot.abs", sourceBytes_);
  SqliteCreateHoneypot(target_, 0);
  const TRunResult r = Run(Convert(SqliteTarget(target_), {"--existing", "keep"}));
  ExpectFailed(r, "An unexpected error occured during the conversion.\n");
  ExpectUnitBack();
  EXPECT_EQ(SqliteCount(target_), kBatch);
  ExpectWholeBatches(SqliteIps(target_, 0));
  ExpectSummary(r, 0, 0, kBatch, SqliteCount(target_));
}

TEST_F(TargetFaults, SqliteTargetDiskFull) {
  if (!MountSmall(root_ / "target", 160 * 1024))
    GTEST_SKIP() << "no private tmpfs mount possible here";
  SqliteCreateHoneypot(target_, 0);
  const TRunResult r = Run(Convert(SqliteTarget(target_), {"--existing", "keep"}));
  ExpectEnd(r, 1, "Conversion was aborted due to an error.");
  EXPECT_NE(r.Err.find("database or disk is full"), std::string::npos) << r.Err;
  ExpectUnitBack();
  const std::vector<std::string> ips = SqliteIps(target_, 0);
  EXPECT_GE(ips.size(), static_cast<size_t>(kBatch)) << "the mount holds a batch or more";
  EXPECT_LT(ips.size(), static_cast<size_t>(kRows));
  ExpectWholeBatches(ips);
}

}  // namespace
}  // namespace faults
