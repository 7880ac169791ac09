// Rows sent together (Command::SetQueueRows) against every reachable backend: backends that
// cannot queue run each row at once, ODBC drivers with parameter arrays hold the rows until
// something sends them; either way the rows arrive in order with their values, a rollback
// drops them, and a refused row is reported with the provider's own message.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "Ado.h"
#include "AdoTestTargets.h"

namespace {

using adotest::Target;

class AdoQueuedRowsTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    // One table per test case: the cases of a server target may run side by side.
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    table_ = "AdoQ_" + std::to_string(std::hash<std::string>{}(name) % 1000000);
    std::string connStr;
    const std::string skip = adotest::OpenTarget(GetParam(), dir_, conn_, connStr);
    if (!skip.empty()) GTEST_SKIP() << skip;
    conn_.Execute("DROP TABLE IF EXISTS " + table_);
    ado::CreateTableIfMissing(conn_, {table_,
                                      "Id",
                                      {{"IpAddress", ado::ColumnKind::VarChar, 45},
                                       {"AttemptTime", ado::ColumnKind::DateTime, 0},
                                       {"Note", ado::ColumnKind::VarChar, 255}}});
    conn_.Execute("CREATE UNIQUE INDEX " + table_ + "_Note ON " + table_ + "(Note)");
    insert_.SetActiveConnection(conn_);
    insert_.SetCommandText("INSERT INTO " + table_ +
                           "(IpAddress, AttemptTime, Note)\r\nVALUES(?, ?, ?);");
    params_ = {insert_.CreateParameter("@IPAddress", ado::adVarChar, ado::adParamInput, 45),
               insert_.CreateParameter("@AttemptTime", ado::adDate, ado::adParamInput, 0),
               insert_.CreateParameter("@Note", ado::adVarChar, ado::adParamInput, 255)};
    for (auto& p : params_) insert_.Parameters().Append(p);
    insert_.SetQueueRows(1000);
  }
  void TearDown() override {
    if (!conn_.IsOpen()) return;
    try {
      if (conn_.InTransaction()) conn_.RollbackTrans();
      conn_.Execute("DROP TABLE IF EXISTS " + table_);
    } catch (...) {
    }
  }

  // Row i: texts of varying length (the longest wider than any before), a null address every
  // seventh row, a date-time with milliseconds.
  static std::string Ip(int i) {
    return i % 7 == 3 ? std::string() : "10." + std::to_string(i % 256) + ".0.1";
  }
  static std::string Note(int i) {
    return "n" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 200), 'x');
  }
  static double Stamp(int i) { return 45000.0 + i + (i % 86400) * 1001.0 / 86400000.0; }

  void Queue(int i, const std::string& note) {
    const std::string ip = Ip(i);
    params_[0]->SetValue(ip.empty() ? ado::Variant() : ado::Variant(ip));
    params_[1]->SetValue(ado::Variant::FromDateTime(Stamp(i)));
    params_[2]->SetValue(note);
    insert_.Execute();
  }

  int Count() {
    ado::Command cmd;
    cmd.SetActiveConnection(conn_);
    cmd.SetCommandText("SELECT COUNT(*) FROM " + table_);
    return cmd.Execute().Fields(0).Value().AsInt32();
  }

  // What the backend queues: the PostgreSQL and MariaDB drivers take parameter arrays (the
  // latter without a status per row), the native PostgreSQL backend loads them with COPY, the
  // built-in SQLite backend runs every row at once; the SQLite ODBC driver decides for itself.
  bool MustQueue() const {
    return GetParam() == Target::PostgreSql || GetParam() == Target::MariaDb ||
           GetParam() == Target::PostgreSqlNative;
  }
  bool NeverQueues() const { return GetParam() == Target::Sqlite; }

  adotest::TempDir dir_;
  std::string table_;
  ado::Connection conn_;
  ado::Command insert_;
  std::vector<ado::ParameterPtr> params_;
};

TEST_P(AdoQueuedRowsTest, RowsArriveInOrderWithTheirValuesAndRollbackDropsThem) {
  // Outside a transaction nothing is held back.
  Queue(-1, "outside");
  EXPECT_EQ(insert_.QueuedRows(), 0);
  EXPECT_EQ(Count(), 1);

  conn_.BeginTrans();
  for (int i = 0; i < 1500; ++i) Queue(i, Note(i));
  // The 1001st row sent the full queue first and waits with the 499 after it.
  if (MustQueue()) {
    EXPECT_EQ(insert_.QueuedRows(), 500);
  } else if (NeverQueues()) {
    EXPECT_EQ(insert_.QueuedRows(), 0);
  }
  EXPECT_EQ(Count(), 1501) << "another statement of the connection sends the queued rows first";
  EXPECT_EQ(insert_.QueuedRows(), 0);
  Queue(1500, Note(1500));
  conn_.CommitTrans();

  ado::Command read;
  read.SetActiveConnection(conn_);
  read.SetCommandText("SELECT IpAddress, AttemptTime, Note FROM " + table_ +
                      " WHERE Note <> 'outside' ORDER BY Id");
  ado::Recordset rs = read.Execute();
  int i = 0;
  for (; !rs.Eof(); rs.MoveNext(), ++i) {
    const std::string ip = Ip(i);
    if (ip.empty()) {
      EXPECT_TRUE(rs.Fields(0).Value().IsNull()) << i;
    } else {
      EXPECT_EQ(rs.Fields(0).Value().AsText(), ip) << i;
    }
    EXPECT_EQ(ado::FormatIsoDateTime(rs.Fields(1).Value().AsDateTime()),
              ado::FormatIsoDateTime(Stamp(i)))
        << i;
    ASSERT_EQ(rs.Fields(2).Value().AsText(), Note(i)) << i;
  }
  EXPECT_EQ(i, 1501);

  conn_.BeginTrans();
  for (int k = 0; k < 10; ++k) Queue(k, "dropped" + std::to_string(k));
  conn_.RollbackTrans();
  EXPECT_EQ(insert_.QueuedRows(), 0);
  EXPECT_EQ(Count(), 1502);
  conn_.BeginTrans();
  conn_.CommitTrans();  // nothing left over to send
  EXPECT_EQ(Count(), 1502);
}

TEST_P(AdoQueuedRowsTest, RefusedRowIsReportedWithTheProvidersMessageAndPosition) {
  // The message a duplicate note gets when inserted on its own.
  Queue(0, "dup");
  std::string single;
  insert_.SetQueueRows(0);
  try {
    Queue(1, "dup");
    ADD_FAILURE() << "duplicate accepted";
  } catch (const ado::EAdoError& e) {
    single = e.Message();
    EXPECT_EQ(e.RowsSent(), 0);
    EXPECT_EQ(e.FailedRowIndex(), -1);
  }
  insert_.SetQueueRows(1000);

  // Some drivers mark a whole group of rows as failed; the row itself is still named.
  conn_.BeginTrans();
  try {
    for (int i = 0; i < 250; ++i) Queue(i, i == 150 ? "dup" : Note(i));
    insert_.Flush();
    conn_.CommitTrans();
    ADD_FAILURE() << "duplicate accepted";
  } catch (const ado::EAdoError& e) {
    EXPECT_EQ(e.Message(), single);
    if (MustQueue() || e.RowsSent() > 0) {
      EXPECT_EQ(e.FailedRowIndex(), 150);
      EXPECT_EQ(e.RowsSent(), 250);
    }
    if (NeverQueues()) {
      EXPECT_EQ(e.RowsSent(), 0);
    }
  }
  EXPECT_EQ(insert_.QueuedRows(), 0);
  conn_.RollbackTrans();
  EXPECT_EQ(Count(), 1);

  // Queued rows of a command that goes away still travel with the transaction.
  auto queueInShortLivedCommand = [this](const std::string& note) {
    ado::Command other;
    other.SetActiveConnection(conn_);
    other.SetCommandText("INSERT INTO " + table_ + "(Note) VALUES(?)");
    auto p = other.CreateParameter("@Note", ado::adVarChar, ado::adParamInput, 255);
    other.Parameters().Append(p);
    other.SetQueueRows(10);
    p->SetValue(note);
    other.Execute();
  };
  conn_.BeginTrans();
  queueInShortLivedCommand("kept");
  conn_.CommitTrans();
  EXPECT_EQ(Count(), 2);
  // When they are refused as it goes, the commit fails rather than committing without them.
  if (MustQueue()) {
    conn_.BeginTrans();
    queueInShortLivedCommand("kept");
    EXPECT_THROW(conn_.CommitTrans(), ado::EAdoError);
    EXPECT_TRUE(conn_.InTransaction());
    conn_.RollbackTrans();
    EXPECT_EQ(Count(), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Targets, AdoQueuedRowsTest,
                         ::testing::Values(Target::Sqlite, Target::SqliteOdbc, Target::PostgreSql,
                                           Target::MariaDb, Target::PostgreSqlNative),
                         [](const auto& info) { return adotest::TargetName(info.param); });

}  // namespace
