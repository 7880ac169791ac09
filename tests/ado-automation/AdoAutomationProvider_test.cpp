// The ADO provider in this process against the test automation server: the connection test's
// four outcomes, values through VARIANTs and back, automation errors as the run reports them
// (through EXCEPINFO and through IErrorInfo), and no object of the server left behind.
#include <sqlite3.h>

#include "Ado.h"
#include "AdoAutomationSupport.h"
#include "AdoConnectionTestThread_un.h"
#include "DbConversionInfo_un.h"

using namespace adotest_support;

namespace {

class AdoAutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Server(), nullptr) << "test server not loaded or registered: "
                                 << MRV_ADO_TEST_SERVER_DLL;
    before_ = InProcessCounts();
    dir_ = FreshDir("inproc");
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Every object the server handed out since SetUp has been released.
  void ExpectNothingLeft() {
    adotest::Counters now = InProcessCounts();
    EXPECT_GT(now.Created, before_.Created);
    EXPECT_EQ(now.Created - before_.Created, now.Released - before_.Released) << "objects leaked";
  }
  adotest::Counters before_;
  fs::path dir_;
};

mrv::TAdoConnectionTestThread* RunTest(const std::string& text) {
  auto* t = new mrv::TAdoConnectionTestThread(text);
  t->Start();
  t->WaitFor();
  return t;
}

std::string Text(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  std::string out;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
    while (sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        if (c) out += "|";
        out += sqlite3_column_type(st, c) == SQLITE_NULL
                   ? "NULL"
                   : std::string(sqlite3_column_type(st, c) == SQLITE_TEXT ? "t:" : "n:") +
                         reinterpret_cast<const char*>(sqlite3_column_text(st, c));
      }
      out += "\n";
    }
  }
  sqlite3_finalize(st);
  return out;
}

}  // namespace

TEST_F(AdoAutomationTest, ConnectionTestGivesEachOfItsFourOutcomes) {
  const fs::path db = dir_ / "target.db";
  std::unique_ptr<mrv::TAdoConnectionTestThread> t(RunTest(ServerString(db, "Create=yes")));
  EXPECT_EQ(t->Outcome(), mrv::ctSucceeded) << t->ErrorMessage();
  EXPECT_EQ(t->ErrorMessage(), "");
  EXPECT_TRUE(fs::exists(db));

  // The server quotes the whole connection string when it cannot open; the password must not
  // survive into the message.
  const std::string missing = ServerString(dir_ / "missing.db", "User ID=sa;Password=Secret99");
  t.reset(RunTest(missing));
  EXPECT_EQ(t->Outcome(), mrv::ctOpenFailed);
  std::string masked = missing;
  masked.replace(masked.find("Secret99"), 8, "***");
  EXPECT_EQ(t->ErrorMessage(),
            "Cannot open the database of \"" + masked + "\": unable to open database file.");
  EXPECT_EQ(
      mrv::ConnectionTestResultText(t->Outcome(), t->ErrorMessage()),
      "Test failed, could not connect to the database.\r\nError message: " + t->ErrorMessage());

  t.reset(RunTest(ServerString(db,
                               "Password=Secret99;Fail=ConnectionString;"
                               "FailText={Keyword not supported near Password=Secret99.}")));
  EXPECT_EQ(t->Outcome(), mrv::ctStringRejected);
  EXPECT_EQ(t->ErrorMessage(), "Keyword not supported near Password=***.");

  SetEnvironmentVariableA("MRV_ADO_TEST_CREATE_FAIL", "1");
  t.reset(RunTest(ServerString(db)));
  SetEnvironmentVariableA("MRV_ADO_TEST_CREATE_FAIL", nullptr);
  EXPECT_EQ(t->Outcome(), mrv::ctCreateFailed);
  const std::string& m = t->ErrorMessage();
  EXPECT_TRUE(m.size() > 19 && m.substr(m.size() - 19) == " (ADODB.Connection)") << m;
  EXPECT_EQ(mrv::ConnectionTestResultText(t->Outcome(), m)
                .rfind("There are problems with the Microsoft MDAC", 0),
            0u);
  t.reset();
  ExpectNothingLeft();
}

TEST_F(AdoAutomationTest, ValuesGoThroughVariantsAndComeBack) {
  const fs::path db = dir_ / "values.db";
  {
    ado::ComInitializer com;
    ado::Connection c;
    c.SetConnectionString(ServerString(db, "Create=yes"));
    c.Open();
    EXPECT_EQ(c.BackendName(), "ADO");
    EXPECT_EQ(c.DbmsName(), "SQLite");
    c.Execute("CREATE TABLE T(S TEXT, I INTEGER, B INTEGER, D DATETIME, F REAL)");
    ado::Command cmd;
    UseText(cmd, c, "INSERT INTO T(S, I, B, D, F) VALUES(?, ?, ?, ?, ?)");
    auto s = cmd.CreateParameter("@S", ado::adVarWChar, ado::adParamInput, 40);
    auto i = cmd.CreateParameter("@I", ado::adInteger, ado::adParamInput, 4);
    auto b = cmd.CreateParameter("@B", ado::adBigInt, ado::adParamInput, 8);
    auto d = cmd.CreateParameter("@D", ado::adDate, ado::adParamInput, 8);
    auto f = cmd.CreateParameter("@F", ado::adDouble, ado::adParamInput, 8);
    for (auto& p : {s, i, b, d, f}) cmd.Parameters().Append(p);
    c.BeginTrans();
    s->SetValue(ado::Variant(std::string("Grüße, Łódź, 東京")));
    i->SetValue(ado::Variant(static_cast<std::int64_t>(-2147483647 - 1)));
    b->SetValue(ado::Variant(static_cast<std::int64_t>(9007199254740993LL)));
    double serial = 0;
    ASSERT_TRUE(ado::ParseIsoDateTime("2024-02-29 23:59:59.999", serial));
    d->SetValue(ado::Variant::FromDateTime(serial));
    f->SetValue(ado::Variant::FromDouble(0.1));
    std::int64_t affected = 0;
    cmd.Execute(affected);
    EXPECT_EQ(affected, 1);
    for (auto& p : {s, i, b, d, f}) p->SetValue(ado::Variant());
    cmd.Execute(affected);
    ASSERT_TRUE(ado::ParseIsoDateTime("1999-12-31 00:00:00.001", serial));
    d->SetValue(ado::Variant::FromDateTime(serial));
    s->SetValue(ado::Variant(std::string("x")));
    i->SetValue(ado::Variant(static_cast<std::int64_t>(2147483647)));
    cmd.Execute(affected);
    c.CommitTrans();

    ado::Command q;
    UseText(q, c, "SELECT S, I, B, D FROM T ORDER BY rowid");
    ado::Recordset rs = q.Execute();
    ASSERT_FALSE(rs.Eof());
    EXPECT_EQ(rs.Fields(0).Name(), "S");
    EXPECT_EQ(rs.Fields(0).Value().AsText(), "Grüße, Łódź, 東京");
    EXPECT_EQ(rs.Fields(1).Value().AsInt64(), -2147483648LL);
    EXPECT_EQ(rs.Fields(2).Value().AsInt64(), 9007199254740993LL);
    rs.MoveNext();
    EXPECT_TRUE(rs.Fields(0).Value().IsNull());
    EXPECT_TRUE(rs.Fields(3).Value().IsNull());
    rs.MoveNext();
    rs.MoveNext();
    EXPECT_TRUE(rs.Eof());
    EXPECT_EQ(c.Execute("DELETE FROM T WHERE S IS NULL"), 1);
  }
  sqlite3* h = nullptr;
  ASSERT_EQ(sqlite3_open(db.string().c_str(), &h), SQLITE_OK);
  EXPECT_EQ(Text(h, "SELECT S, I, B, D, F FROM T ORDER BY rowid"),
            "t:Grüße, Łódź, 東京|n:-2147483648|n:9007199254740993|t:2024-02-29 23:59:59.999|n:0.1\n"
            "t:x|n:2147483647|NULL|t:1999-12-31 00:00:00.001|NULL\n");
  sqlite3_close(h);

  adotest::Counters now = InProcessCounts();
  EXPECT_EQ(now.RepeatedLookups - before_.RepeatedLookups, 0) << "a DISPID was looked up twice";
  EXPECT_EQ(now.EmptyRecordsets - before_.EmptyRecordsets, 0)
      << "a recordset was built for a statement without rows";
  ExpectNothingLeft();
}

TEST_F(AdoAutomationTest, AutomationErrorsKeepCodeSourceAndDescription) {
  for (const char* mode : {"", ";FailMode=raw", ";FailMode=deferred"}) {
    SCOPED_TRACE(mode[0] ? mode : "through EXCEPINFO");
    ado::ComInitializer com;
    ado::Connection c;
    c.SetConnectionString(ServerString(
        dir_ / "e.db", std::string("Create=yes;Fail=BeginTrans;FailCode=-2147217871;"
                                   "FailSource=Test Source;FailText=Zeitüberschreitung") +
                           mode));
    c.Open();
    try {
      c.BeginTrans();
      FAIL() << "BeginTrans did not fail";
    } catch (const ado::EAdoError& e) {
      EXPECT_EQ(e.ErrorCode(), -2147217871);
      EXPECT_EQ(e.ErrorSource(), "Test Source");
      EXPECT_EQ(e.Message(), "Zeitüberschreitung");
      EXPECT_EQ(mrv::ExceptionDetailBlock(e),
                "Error EAdoError.\r\nError code: -2147217871.\r\nSource: Test "
                "Source.\r\n\"Zeitüberschreitung\"");
    }
    EXPECT_FALSE(c.InTransaction());
    c.BeginTrans();  // only the first call was to fail
    c.RollbackTrans();
  }
  ExpectNothingLeft();
}
