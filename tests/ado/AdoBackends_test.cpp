// The one interface against every reachable backend: value round trips, transactions,
// records-affected, the count recordset, prepared statement reuse and error reporting.
#include <gtest/gtest.h>

#include <algorithm>

#include <vector>

#include "Ado.h"
#include "AdoTestTargets.h"

namespace {

using adotest::Target;

class AdoBackendTest : public ::testing::TestWithParam<Target> {
 protected:
  void SetUp() override {
    const std::string skip = adotest::OpenTarget(GetParam(), dir_, conn_, connStr_);
    if (!skip.empty()) GTEST_SKIP() << skip;
    table_ = std::string("AdoT_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // One table per case and target: the targets of one server may run side by side.
    std::replace(table_.begin(), table_.end(), '/', '_');
    conn_.Execute("DROP TABLE IF EXISTS " + table_);
    ado::CreateTableIfMissing(conn_, {table_,
                                      "Id",
                                      {{"IpAddress", ado::ColumnKind::VarChar, 45},
                                       {"AttemptTime", ado::ColumnKind::DateTime, 0},
                                       {"Note", ado::ColumnKind::VarChar, 255}}});
  }

  void TearDown() override {
    if (conn_.IsOpen()) {
      try {
        if (conn_.InTransaction()) conn_.RollbackTrans();
        conn_.Execute("DROP TABLE IF EXISTS " + table_);
      } catch (...) {
      }
      conn_.Close();
    }
  }

  // The transfer's way of building an insert command.
  void PrepareInsert(ado::Command& cmd, std::vector<ado::ParameterPtr>& params) {
    cmd.SetActiveConnection(conn_);
    cmd.SetCommandType(ado::adCmdText);
    cmd.SetCommandText("INSERT INTO " + table_ +
                       "(IpAddress, AttemptTime, Note)\r\nVALUES(?, ?, ?);");
    params = {cmd.CreateParameter("@IPAddress", ado::adVarChar, ado::adParamInput, 45),
              cmd.CreateParameter("@AttemptTime", ado::adDate, ado::adParamInput, 0),
              cmd.CreateParameter("@Note", ado::adVarChar, ado::adParamInput, 255)};
    for (auto& p : params) cmd.Parameters().Append(p);
  }

  void InsertRows(int count, bool batched) {
    ado::Command cmd;
    std::vector<ado::ParameterPtr> p;
    PrepareInsert(cmd, p);
    for (int i = 0; i < count; ++i) {
      if (batched && !conn_.InTransaction()) conn_.BeginTrans();
      p[0]->SetValue("10.0.0." + std::to_string(i % 250));
      p[1]->SetValue(ado::Variant::FromDateTime(45000.0 + i / 86400.0));
      p[2]->SetValue(ado::Variant());
      cmd.Execute();
      if (batched && (i + 1) % 1000 == 0) conn_.CommitTrans();
    }
    if (batched && conn_.InTransaction()) conn_.CommitTrans();
    EXPECT_EQ(cmd.PrepareCount(), count > 0 ? 1u : 0u);
  }

  int Count() {
    ado::Command cmd;
    cmd.SetActiveConnection(conn_);
    cmd.SetCommandType(ado::adCmdText);
    cmd.SetCommandText("SELECT COUNT(*) FROM " + table_ + ";");
    ado::Recordset rs = cmd.Execute();
    int n = rs.Fields(0).Value().AsInt32();
    rs.Close();
    return n;
  }

  adotest::TempDir dir_;
  std::string connStr_;
  ado::Connection conn_;
  std::string table_;
};

TEST_P(AdoBackendTest, RoundTripsTextDateTimeAndNull) {
  ado::Command cmd;
  std::vector<ado::ParameterPtr> p;
  PrepareInsert(cmd, p);
  const double stamp1 = ado::EncodeDateTime({2023, 3, 15, 13, 45, 30, 123});
  const double stamp2 = ado::EncodeDateTime({1999, 12, 31, 23, 59, 59, 999});
  struct Row {
    ado::Variant Ip, Time, Note;
  };
  const std::vector<Row> rows = {
      {"192.168.1.23", ado::Variant::FromDateTime(stamp1), "plain text"},
      {"2001:db8::1", ado::Variant::FromDateTime(stamp2),
       "Gr\xC3\xBC\xC3\x9F"
       "e \xE2\x9C\x93 \xE6\x97\xA5"},
      {ado::Variant(), ado::Variant(), ""},
  };
  for (const Row& r : rows) {
    p[0]->SetValue(r.Ip);
    p[1]->SetValue(r.Time);
    p[2]->SetValue(r.Note);
    std::int64_t affected = -2;
    cmd.Execute(affected);
    EXPECT_EQ(affected, 1);
  }

  ado::Command q;
  q.SetActiveConnection(conn_);
  q.SetCommandText("SELECT IpAddress, AttemptTime, Note FROM " + table_ + " ORDER BY Id");
  ado::Recordset rs = q.Execute();
  ASSERT_EQ(rs.FieldCount(), 3);
  for (const Row& r : rows) {
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Fields(0).Value().IsNull(), r.Ip.IsNull());
    if (!r.Ip.IsNull()) {
      EXPECT_EQ(rs.Fields(0).Value().AsText(), r.Ip.AsText());
    }
    EXPECT_EQ(rs.Fields(1).Value().IsNull(), r.Time.IsNull());
    if (!r.Time.IsNull()) {
      EXPECT_EQ(ado::FormatIsoDateTime(rs.Fields(1).Value().AsDateTime()),
                ado::FormatIsoDateTime(r.Time.AsDateTime()));
    }
    EXPECT_EQ(rs.Fields(2).Value().AsText(), r.Note.AsText());
    rs.MoveNext();
  }
  EXPECT_TRUE(rs.Eof());
  EXPECT_THROW(rs.Fields(0), ado::EAdoError);
  rs.Close();
  EXPECT_FALSE(rs.IsOpen());
}

TEST_P(AdoBackendTest, TransactionsCommitAndRollBack) {
  conn_.BeginTrans();
  EXPECT_THROW(conn_.BeginTrans(), ado::EAdoError);  // one open transaction at a time
  InsertRows(3, false);
  EXPECT_EQ(Count(), 3);  // visible inside the transaction
  conn_.RollbackTrans();
  EXPECT_FALSE(conn_.InTransaction());
  EXPECT_EQ(Count(), 0);

  conn_.BeginTrans();
  InsertRows(2, false);
  conn_.CommitTrans();
  EXPECT_EQ(Count(), 2);
  EXPECT_THROW(conn_.CommitTrans(), ado::EAdoError);

  // Closing with an open transaction rolls it back.
  conn_.BeginTrans();
  InsertRows(4, false);
  conn_.Close();
  conn_.Open();
  EXPECT_EQ(Count(), 2);
}

TEST_P(AdoBackendTest, RecordsAffectedDrivesBatchedClearing) {
  InsertRows(2500, true);
  EXPECT_EQ(Count(), 2500);

  ado::Command del;
  del.SetActiveConnection(conn_);
  del.SetCommandType(ado::adCmdText);
  del.SetCommandText(conn_.GetDialect().ClearBatchStatement(table_, "Id", 1000));
  std::vector<std::int64_t> batches;
  for (int guard = 0; guard < 5; ++guard) {
    conn_.BeginTrans();
    std::int64_t affected = -1;
    del.Execute(affected);
    conn_.CommitTrans();
    batches.push_back(affected);
    if (affected == 0) break;
  }
  EXPECT_EQ(batches, (std::vector<std::int64_t>{1000, 1000, 500, 0}));
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(del.PrepareCount(), 1u);
}

TEST_P(AdoBackendTest, ParameterListChangesAndReopenPrepareAgain) {
  ado::Command cmd;
  std::vector<ado::ParameterPtr> p;
  PrepareInsert(cmd, p);
  p[0]->SetValue("1.1.1.1");
  p[1]->SetValue(ado::Variant::FromDateTime(45000.25));
  p[2]->SetValue("a");
  cmd.Execute();
  cmd.Execute();
  EXPECT_EQ(cmd.PrepareCount(), 1u);

  // The copier's set-up for the next table: clear the list, new text, new parameters.
  while (cmd.Parameters().Count() > 0) cmd.Parameters().Delete(0);
  cmd.SetCommandText("INSERT INTO " + table_ + "(Note, IpAddress)\r\nVALUES(?, ?);");
  auto note = cmd.CreateParameter("@Note", ado::adVarChar, ado::adParamInput, 255);
  auto ip = cmd.CreateParameter("@IPAddress", ado::adVarChar, ado::adParamInput, 15);
  cmd.Parameters().Append(note);
  cmd.Parameters().Append(ip);
  note->SetValue("second table");
  ip->SetValue("2.2.2.2");
  cmd.Execute();
  EXPECT_EQ(cmd.PrepareCount(), 2u);

  // A closed connection invalidates the prepared statement; after reopening it is redone.
  conn_.Close();
  EXPECT_THROW(cmd.Execute(), ado::EAdoError);
  conn_.Open();
  cmd.Execute();
  EXPECT_EQ(cmd.PrepareCount(), 3u);
  EXPECT_EQ(Count(), 4);
}

TEST_P(AdoBackendTest, FailuresCarryMessageCodeAndSource) {
  ado::Command cmd;
  cmd.SetActiveConnection(conn_);
  cmd.SetCommandText("SELECT COUNT(*) FROM NoSuchTable_Mrv;");
  try {
    cmd.Execute();
    ADD_FAILURE() << "missing table not reported";
  } catch (const ado::EAdoError& e) {
    EXPECT_FALSE(e.Message().empty());
    EXPECT_NE(e.ErrorCode(), 0);
    EXPECT_FALSE(e.ErrorSource().empty());
  }
  // Placeholders and parameters that do not match are an error, not a crash.
  ado::Command bad;
  bad.SetActiveConnection(conn_);
  bad.SetCommandText("INSERT INTO " + table_ + "(IpAddress, Note) VALUES(?, ?)");
  bad.Parameters().Append(bad.CreateParameter("@A", ado::adVarChar, ado::adParamInput, 10));
  bad.Parameters().Item(0).SetValue("x");
  EXPECT_THROW(bad.Execute(), ado::EAdoError);
  // The connection stays usable after the failures.
  EXPECT_EQ(Count(), 0);
}

INSTANTIATE_TEST_SUITE_P(Targets, AdoBackendTest,
                         ::testing::Values(Target::Sqlite, Target::SqliteOdbc, Target::PostgreSql,
                                           Target::PostgreSqlNative),
                         [](const auto& info) { return adotest::TargetName(info.param); });

}  // namespace
