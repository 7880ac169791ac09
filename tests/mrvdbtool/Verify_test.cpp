// Verification: the row-set digest itself, then convert --verify and verify as the built tool
// against a real SQLite file and (when MRV_PG_CONN / MRV_MARIADB_CONN are set, by
// scripts/pg-start and scripts/mariadb-start) real PostgreSQL and MariaDB servers: a fresh
// run verifies, one altered value (a text, a millisecond) fails it, row order and target IDs do
// not matter, and rows kept in a target are left out after the run that kept them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "Ado.h"
#include "ToolProcess.h"
#include "ToolSample.h"
#include "ToolVerify.h"

namespace fs = std::filesystem;
using mrvtool::TCanonicalRow;
using mrvtool::TRowSetDigest;

TEST(RowSetDigest, OrderFreeButSensitiveToEveryValue) {
  auto row = [](const char* a, bool nullB, double when) {
    TCanonicalRow r;
    r.Text(a);
    if (nullB)
      r.Null();
    else
      r.Text("");
    r.DateTime(when);
    return r.Str();
  };
  TRowSetDigest x, y;
  x.AddRow(row("a", true, 46000.5));
  x.AddRow(row("b", false, 46000.5));
  y.AddRow(row("b", false, 46000.5));
  y.AddRow(row("a", true, 46000.5));
  EXPECT_EQ(x, y);
  EXPECT_EQ(x.Rows(), 2);

  TRowSetDigest nullVsEmpty, oneMs, duplicate;
  nullVsEmpty.AddRow(row("a", false, 46000.5));
  nullVsEmpty.AddRow(row("b", false, 46000.5));
  EXPECT_NE(x, nullVsEmpty);
  oneMs.AddRow(row("a", true, 46000.5 + 1.0 / 86400000));
  oneMs.AddRow(row("b", false, 46000.5));
  EXPECT_NE(x, oneMs);
  duplicate.AddRow(row("a", true, 46000.5));
  duplicate.AddRow(row("a", true, 46000.5));
  EXPECT_NE(duplicate.Hex(), TRowSetDigest().Hex()) << "a pair of equal rows does not cancel out";
  // Half a millisecond of floating-point noise is the same millisecond.
  TRowSetDigest noise;
  noise.AddRow(row("a", true, 46000.5 + 0.2 / 86400000));
  noise.AddRow(row("b", false, 46000.5));
  EXPECT_EQ(x, noise);
}

namespace {

class VerifyToolTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = mrvtool::test::FreshTestFolder("mrvverify_"); }
  void TearDown() override { fs::remove_all(dir_); }

  void WriteSources(std::int64_t rows) {
    mrvtool::TSampleOptions opts;
    opts.Rows = rows;
    mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);
  }
  std::string Sources() const {
    const fs::path s = dir_ / "src";
    return "--aswl \"" + (s / "aswl.abs").string() + "\" --greylist \"" +
           (s / "greylist.abs").string() + "\" --dha \"" + (s / "dha.abs").string() +
           "\" --honeypot \"" + (s / "honeypot.abs").string() + "\"";
  }
  mrvtool::test::TToolResult Tool(const std::string& args) {
    return mrvtool::test::RunTool(args, dir_);
  }
  static void Exec(const std::string& conn, const std::string& sql) {
    ado::Connection c;
    c.SetConnectionString(conn);
    c.Open();
    c.Execute(sql);
    c.Close();
  }
  static std::string Text(const std::string& conn, const std::string& sql) {
    ado::Connection c;
    c.SetConnectionString(conn);
    c.Open();
    ado::Command cmd;
    cmd.SetActiveConnection(c);
    cmd.SetCommandText(sql);
    ado::Recordset rs = cmd.Execute();
    return rs.Fields(0).Value().AsText();
  }
  static bool Line(const std::string& out, const std::string& table, const std::string& result) {
    for (size_t p = out.find(table + " "); p != std::string::npos;
         p = out.find(table + " ", p + 1)) {
      const std::string line = out.substr(p, out.find('\n', p) - p);
      if (line.size() >= result.size() &&
          line.compare(line.size() - result.size(), result.size(), result) == 0)
        return true;
    }
    return false;
  }

  // A run with --verify, a tampered value, and the standalone verification. `addMillisecond`
  // moves the first DhaHistory date-time by one millisecond in the target's dialect.
  void RunAndTamper(const std::string& target, const std::string& addMillisecond) {
    const std::string targetOption = " --target \"" + target + "\"";
    mrvtool::test::TToolResult r = Tool("convert " + Sources() + targetOption +
                                        " --no-service --create-schema --existing delete --verify");
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("Verification passed"), std::string::npos) << r.Out;
    for (const char* t : {"ASWL", "GREY", "DhaHistory", "DhaBlacklist", "HoneypotBlacklist"})
      EXPECT_TRUE(Line(r.Out, t, "same")) << t << "\n" << r.Out;
    r = Tool("verify " + Sources() + targetOption);
    EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;

    // One text value altered.
    const std::string firstGrey = "(SELECT MIN(GREY_ID) FROM GREY)";
    const std::string sender =
        Text(target, "SELECT GREY_SENDER FROM GREY WHERE GREY_ID = " + firstGrey);
    Exec(target, "UPDATE GREY SET GREY_SENDER = 'x" + sender + "' WHERE GREY_ID = " + firstGrey);
    r = Tool("verify " + Sources() + targetOption);
    EXPECT_EQ(r.Exit, 4) << r.Out << r.Err;
    EXPECT_TRUE(Line(r.Out, "GREY", "DIFFERENT")) << r.Out;
    EXPECT_TRUE(Line(r.Out, "ASWL", "same")) << r.Out;
    EXPECT_NE(r.Out.find("Verification failed: 1 table differs from the source."),
              std::string::npos)
        << r.Out;
    Exec(target, "UPDATE GREY SET GREY_SENDER = '" + sender + "' WHERE GREY_ID = " + firstGrey);
    EXPECT_EQ(Tool("verify " + Sources() + targetOption).Exit, 0);

    // One date-time moved by a millisecond.
    Exec(target, addMillisecond);
    r = Tool("verify " + Sources() + targetOption);
    EXPECT_EQ(r.Exit, 4) << r.Out;
    EXPECT_TRUE(Line(r.Out, "DhaHistory", "DIFFERENT")) << r.Out;
  }

  fs::path dir_;
};

}  // namespace

TEST_F(VerifyToolTest, SqliteRunTamperOrderAndKeptRows) {
  WriteSources(5003);  // more than one page of a target table
  const std::string target =
      "Provider=SQLite;Data Source=" + (dir_ / "ext.db").string() + ";Create=yes";
  const std::string targetOption = " --target \"" + target + "\"";
  mrvtool::test::TToolResult r = Tool("convert " + Sources() + targetOption +
                                      " --no-service --create-schema --existing delete --verify");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Verification passed"), std::string::npos) << r.Out;
  EXPECT_TRUE(Line(r.Out, "GREY", "same")) << r.Out;

  // One text, then one millisecond altered.
  Exec(target, "UPDATE GREY SET GREY_RECIPIENT = GREY_RECIPIENT || 'x' WHERE GREY_ID = 4711");
  r = Tool("verify " + Sources() + targetOption);
  EXPECT_EQ(r.Exit, 4) << r.Out << r.Err;
  EXPECT_TRUE(Line(r.Out, "GREY", "DIFFERENT")) << r.Out;
  EXPECT_TRUE(Line(r.Out, "DhaHistory", "same")) << r.Out;
  Exec(target,
       "UPDATE GREY SET GREY_RECIPIENT = substr(GREY_RECIPIENT, 1, length(GREY_RECIPIENT) - 1) "
       "WHERE GREY_ID = 4711");
  EXPECT_EQ(Tool("verify " + Sources() + targetOption).Exit, 0);
  const std::string when = Text(target, "SELECT AttemptTime FROM DhaHistory WHERE Id = 5002");
  ASSERT_EQ(when.size(), 23u) << when;
  std::string moved = when;
  moved.back() = when.back() == '0' ? '1' : '0';
  Exec(target, "UPDATE DhaHistory SET AttemptTime = '" + moved + "' WHERE Id = 5002");
  r = Tool("verify " + Sources() + targetOption);
  EXPECT_EQ(r.Exit, 4) << r.Out;
  EXPECT_TRUE(Line(r.Out, "DhaHistory", "DIFFERENT")) << r.Out;
  Exec(target, "UPDATE DhaHistory SET AttemptTime = '" + when + "' WHERE Id = 5002");

  // The same rows in reverse order under new IDs still verify.
  Exec(target, "CREATE TABLE Saved AS SELECT * FROM HoneypotBlacklist ORDER BY Id DESC");
  Exec(target, "DELETE FROM HoneypotBlacklist");
  Exec(target,
       "INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime) SELECT IpAddress, "
       "LastUpdateTime FROM Saved ORDER BY Id DESC");
  r = Tool("verify " + Sources() + targetOption);
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;

  // A run that keeps the rows already there verifies the rows it added; verify on its own
  // then sees twice the rows.
  const std::string honeypot = "--honeypot \"" + (dir_ / "src" / "honeypot.abs").string() + "\"";
  r = Tool("convert " + honeypot + targetOption + " --no-service --existing keep --verify");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("HoneypotBlacklist: 5003 rows were already in the target and kept"),
            std::string::npos)
      << r.Out;
  r = Tool("verify " + honeypot + targetOption);
  EXPECT_EQ(r.Exit, 4) << r.Out;
  EXPECT_NE(r.Out.find("      5003        10006"), std::string::npos) << r.Out;

  // A target that cannot be read is no pass.
  r = Tool("verify " + honeypot +
           " --target \"Provider=SQLite;Data Source=" + (dir_ / "none.db").string() + "\"");
  EXPECT_EQ(r.Exit, 4) << r.Out << r.Err;
  EXPECT_TRUE(Line(r.Out, "HoneypotBlacklist", "NOT COMPARED")) << r.Out;
}

TEST_F(VerifyToolTest, PostgreSqlRunAndTamper) {
  const char* base = std::getenv("MRV_PG_CONN");
  if (!base || !*base) GTEST_SKIP() << "MRV_PG_CONN is not set";
  Exec(base, "DROP SCHEMA IF EXISTS mrv_cli_verify CASCADE");
  Exec(base, "CREATE SCHEMA mrv_cli_verify");
  WriteSources(300);
  RunAndTamper(std::string(base) + ";ConnSettings=SET search_path TO mrv_cli_verify",
               "UPDATE DhaHistory SET AttemptTime = AttemptTime + INTERVAL '1 millisecond' "
               "WHERE Id = (SELECT MIN(Id) FROM DhaHistory)");
  Exec(base, "DROP SCHEMA IF EXISTS mrv_cli_verify CASCADE");
}

TEST_F(VerifyToolTest, MariaDbRunAndTamper) {
  const char* base = std::getenv("MRV_MARIADB_CONN");
  if (!base || !*base)
    GTEST_SKIP() << "MRV_MARIADB_CONN is not set (scripts/mariadb-start sets it)";
  // The tables go into a database of their own, named in place of the given one.
  std::string target = base;
  const size_t key = target.find("Database=");
  ASSERT_NE(key, std::string::npos) << "MRV_MARIADB_CONN names no database";
  target.replace(key, target.find(';', key) - key, "Database=mrv_cli_verify");
  Exec(base, "DROP DATABASE IF EXISTS mrv_cli_verify");
  Exec(base, "CREATE DATABASE mrv_cli_verify CHARACTER SET utf8mb4");
  WriteSources(300);
  RunAndTamper(target,
               "UPDATE DhaHistory SET AttemptTime = AttemptTime + INTERVAL 1000 MICROSECOND "
               "ORDER BY Id LIMIT 1");
  Exec(base, "DROP DATABASE IF EXISTS mrv_cli_verify");
}
