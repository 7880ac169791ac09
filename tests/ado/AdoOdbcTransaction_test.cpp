// Ending an ODBC transaction that fails never commits it: a failed commit is rolled back, a
// failed rollback leaves the connection broken (refusing further work) until it is closed, and
// a server session killed in the middle of a batch loses only that batch. Run against the
// SQLite ODBC driver and PostgreSQL where they are available.
#include <gtest/gtest.h>

#include <algorithm>

#include "Ado.h"
#include "AdoBackend.h"
#include "AdoTestTargets.h"

namespace {

using adotest::Target;

class AdoOdbcEnd : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    const std::string skip = adotest::OpenTarget(GetParam(), dir_, conn_, connStr_);
    if (!skip.empty()) GTEST_SKIP() << skip;
    table_ =
        std::string("AdoEnd_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // One table per case and target: the targets of one server may run side by side.
    std::replace(table_.begin(), table_.end(), '/', '_');
    conn_.Execute("DROP TABLE IF EXISTS " + table_);
    conn_.Execute("CREATE TABLE " + table_ + " (Note VARCHAR(20))");
  }
  void TearDown() override {
    ado::detail::SetOdbcEndTranFault(nullptr);
    if (connStr_.empty()) return;
    try {
      ado::Connection c;
      c.SetConnectionString(connStr_);
      c.Open();
      c.Execute("DROP TABLE IF EXISTS " + table_);
    } catch (...) {
    }
  }

  void Insert(ado::Connection& c, const std::string& note) {
    c.Execute("INSERT INTO " + table_ + " (Note) VALUES ('" + note + "')");
  }
  // Rows committed, as another connection sees them.
  int Committed() {
    ado::Connection c;
    c.SetConnectionString(connStr_);
    c.Open();
    ado::Command q;
    q.SetActiveConnection(c);
    q.SetCommandText("SELECT COUNT(*) FROM " + table_);
    return q.Execute().Fields(0).Value().AsInt32();
  }

  adotest::TempDir dir_;
  std::string connStr_;
  ado::Connection conn_;
  std::string table_;
};

TEST_P(AdoOdbcEnd, FailedCommitIsRolledBackAndTheConnectionGoesOn) {
  conn_.BeginTrans();
  Insert(conn_, "lost");
  ado::detail::SetOdbcEndTranFault([](bool commit) { return commit; });
  EXPECT_THROW(conn_.CommitTrans(), ado::EAdoError);
  ado::detail::SetOdbcEndTranFault(nullptr);
  EXPECT_EQ(Committed(), 0);
  if (conn_.InTransaction()) conn_.RollbackTrans();  // as the transfer does after a failure
  conn_.BeginTrans();
  Insert(conn_, "kept");
  conn_.CommitTrans();
  EXPECT_EQ(Committed(), 1);
}

TEST_P(AdoOdbcEnd, FailedRollbackBreaksTheConnectionWithoutCommitting) {
  for (bool commitFirst : {false, true}) {
    SCOPED_TRACE(commitFirst ? "commit and rollback fail" : "rollback fails");
    conn_.BeginTrans();
    Insert(conn_, "lost");
    ado::detail::SetOdbcEndTranFault([](bool) { return true; });
    if (commitFirst) {
      EXPECT_THROW(conn_.CommitTrans(), ado::EAdoError);
    }
    if (conn_.InTransaction()) {
      EXPECT_THROW(conn_.RollbackTrans(), ado::EAdoError);
    }
    ado::detail::SetOdbcEndTranFault(nullptr);
    // Nothing more runs on the connection, and nothing is committed, also not by closing it.
    EXPECT_THROW(Insert(conn_, "refused"), ado::EAdoError);
    EXPECT_THROW(conn_.BeginTrans(), ado::EAdoError);
    conn_.Close();
    EXPECT_EQ(Committed(), 0);
    conn_.Open();  // a new session works again
    Insert(conn_, "fresh");
    EXPECT_EQ(Committed(), 1);
    conn_.Execute("DELETE FROM " + table_);
  }
}

TEST_P(AdoOdbcEnd, ServerSessionKilledMidBatchKeepsTheEarlierBatches) {
  if (GetParam() != Target::PostgreSql) GTEST_SKIP() << "needs a server session to kill";
  conn_.BeginTrans();
  for (int i = 0; i < 3; ++i) Insert(conn_, "batch1");
  conn_.CommitTrans();
  const std::int64_t backend = adotest::BackendPid(conn_);
  conn_.BeginTrans();
  Insert(conn_, "batch2");
  adotest::TerminateBackend(connStr_, backend);
  EXPECT_THROW(
      {
        Insert(conn_, "batch2");
        conn_.CommitTrans();
      },
      ado::EAdoError);
  try {
    if (conn_.InTransaction()) conn_.RollbackTrans();
  } catch (const ado::EAdoError&) {
  }
  conn_.Close();
  EXPECT_EQ(Committed(), 3);
}

INSTANTIATE_TEST_SUITE_P(Odbc, AdoOdbcEnd,
                         ::testing::Values(Target::SqliteOdbc, Target::PostgreSql),
                         [](const auto& info) { return adotest::TargetName(info.param); });

}  // namespace
