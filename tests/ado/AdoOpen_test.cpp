// Opening targets: storage format of the built-in SQLite backend and open failures, which
// must explain themselves without revealing a password.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "Ado.h"
#include "AdoTestTargets.h"

namespace {

TEST(AdoSqlite, StoresDateTimesAsIsoTextWithMilliseconds) {
  adotest::TempDir dir;
  ado::Connection conn;
  conn.SetConnectionString("Provider=SQLite;Data Source=" + (dir.Path() / "t.db").string() +
                           ";Create=yes");
  conn.Open();
  EXPECT_EQ(conn.BackendName(), "SQLite");
  EXPECT_EQ(conn.GetDialect().GetEngine(), ado::Engine::Sqlite);
  EXPECT_TRUE(ado::CreateTableIfMissing(conn, {"DhaHistory",
                                               "Id",
                                               {{"IpAddress", ado::ColumnKind::VarChar, 45},
                                                {"AttemptTime", ado::ColumnKind::DateTime, 0}}}));
  EXPECT_FALSE(ado::CreateTableIfMissing(conn, {"DhaHistory", "Id", {}}));
  // A statement that changes nothing reports 0, not the count of an earlier change.
  EXPECT_EQ(conn.Execute("INSERT INTO DhaHistory(IpAddress) VALUES('a'), ('b')"), 2);
  EXPECT_EQ(conn.Execute("DELETE FROM DhaHistory WHERE IpAddress = 'none'"), 0);
  EXPECT_EQ(conn.Execute("CREATE INDEX IF NOT EXISTS ix ON DhaHistory(IpAddress)"), 0);
  EXPECT_EQ(conn.Execute("DELETE FROM DhaHistory"), 2);

  ado::Command cmd;
  cmd.SetActiveConnection(conn);
  cmd.SetCommandType(ado::adCmdText);
  cmd.SetCommandText("INSERT INTO DhaHistory(IpAddress, AttemptTime)\r\nVALUES(?, ?);");
  auto ip = cmd.CreateParameter("@IPAddress", ado::adVarChar, ado::adParamInput, 45);
  auto at = cmd.CreateParameter("@AttemptTime", ado::adDate, ado::adParamInput, 0);
  cmd.Parameters().Append(ip);
  cmd.Parameters().Append(at);
  ip->SetValue("10.1.2.3");
  // 45000.5 + 7 ms, built independently of the encoder.
  at->SetValue(ado::Variant::FromDateTime(45000.5 + 7.0 / 86400000.0));
  cmd.Execute();

  cmd.SetCommandText("SELECT typeof(AttemptTime), AttemptTime, Id FROM DhaHistory");
  while (cmd.Parameters().Count() > 0) cmd.Parameters().Delete(0);
  ado::Recordset rs = cmd.Execute();
  EXPECT_EQ(rs.Fields(0).Value().AsText(), "text");
  EXPECT_EQ(rs.Fields(1).Value().AsText(), "2023-03-15 12:00:00.007");
  EXPECT_EQ(rs.Fields(2).Value().AsInt32(), 3);  // the key numbers itself, never reusing 1 and 2
}

TEST(AdoSqlite, PlainPathAndOpenFailures) {
  adotest::TempDir dir;
  const std::string missing = (dir.Path() / "missing.db").string();
  ado::Connection conn;
  conn.SetConnectionString(missing);
  // Without Create=yes a missing file is an error, not a new empty database.
  try {
    conn.Open();
    ADD_FAILURE() << "opened a missing file";
  } catch (const ado::EAdoError& e) {
    EXPECT_NE(e.Message().find("missing.db"), std::string::npos) << e.what();
    EXPECT_EQ(e.ErrorSource(), ado::kSourceSqlite);
  }
  EXPECT_FALSE(conn.IsOpen());
  EXPECT_FALSE(std::filesystem::exists(missing));

  const auto junk = dir.Path() / "junk.sqlite";
  std::ofstream(junk) << std::string(4096, 'x');
  conn.SetConnectionString(junk.string());
  EXPECT_THROW(conn.Open(), ado::EAdoError);
  EXPECT_FALSE(conn.IsOpen());

  // Nothing runs on a connection that never opened.
  ado::Command cmd;
  cmd.SetActiveConnection(conn);
  cmd.SetCommandText("SELECT 1");
  EXPECT_THROW(cmd.Execute(), ado::EAdoError);
  EXPECT_THROW(conn.BeginTrans(), ado::EAdoError);
}

TEST(AdoOdbc, OpenFailuresKeepThePasswordOut) {
  ado::Connection conn;
  conn.SetConnectionString("Driver={Mrv No Such Driver};Server=h;Uid=u;Pwd=Zebra-Secret-1");
  EXPECT_EQ(conn.BackendName(), "ODBC");
  try {
    conn.Open();
    ADD_FAILURE() << "opened with a driver that does not exist";
  } catch (const ado::EAdoError& e) {
    EXPECT_FALSE(e.Message().empty());
    EXPECT_EQ(e.ErrorSource(), ado::kSourceOdbc);
    EXPECT_EQ(std::string(e.what()).find("Zebra-Secret-1"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(conn.IsOpen());
}

TEST(AdoOdbc, PostgreSqlWrongPasswordIsAnOpenFailure) {
  const char* pg = std::getenv("MRV_PG_CONN");
  if (!pg) GTEST_SKIP() << "MRV_PG_CONN is not set; PostgreSQL tests skipped";
  std::string text = pg;
  auto pos = text.find("Pwd=");
  ASSERT_NE(pos, std::string::npos);
  text = text.substr(0, pos) + "Pwd=Wrong-Pass-77";
  ado::Connection conn;
  conn.SetConnectionString(text);
  try {
    conn.Open();
    ADD_FAILURE() << "opened with a wrong password";
  } catch (const ado::EAdoError& e) {
    EXPECT_FALSE(e.Message().empty());
    EXPECT_EQ(std::string(e.what()).find("Wrong-Pass-77"), std::string::npos) << e.what();
  }
  // The right string reports the engine the dialect is chosen from.
  ado::Connection good;
  good.SetConnectionString(pg);
  good.Open();
  EXPECT_EQ(good.GetDialect().GetEngine(), ado::Engine::PostgreSql);
  EXPECT_EQ(good.DbmsName(), "PostgreSQL");
}

}  // namespace
