// Record transfer into a real PostgreSQL server through its ODBC driver (MRV_PG_CONN) and
// through the native provider, whose batches travel by COPY (MRV_PG_NATIVE_CONN); both are set
// by scripts/pg-start, and each run is skipped when its variable is unset. The tables live in a
// schema of their own, created with the transfer's create-table helper; signatures are checked
// against the server's md5() and date-times to the millisecond against calendar texts computed in
// the test.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <functional>

#include "Ado.h"
#include "DbTransferTestFiles.h"
#include "DbTransfer_un.h"

namespace fs = std::filesystem;
using namespace mrv;
using namespace transfertest;

namespace {

class PostgresTransferTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const char* base = std::getenv(GetParam());
    if (!base || !*base) GTEST_SKIP() << GetParam() << " is not set";
    base_ = base;
    // A schema and folder per test, so that tests run side by side do not meet.
    // The provider goes first: the server cuts names after 63 bytes.
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::size_t slash = test.find('/');
    schema_ = "mrv_xfer_" + test.substr(slash + 1) + "_" + test.substr(0, slash);
    for (char& c : schema_)
      c = std::isalnum(static_cast<unsigned char>(c))
              ? static_cast<char>(std::tolower(static_cast<unsigned char>(c)))
              : '_';
    {
      ado::Connection c;
      try {
        c.SetConnectionString(base_);
      } catch (const ado::EAdoError& e) {
        if (!e.ComponentUnavailable()) throw;
        base_.clear();
        GTEST_SKIP() << e.what();
      }
      c.Open();
      c.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
      c.Execute("CREATE SCHEMA " + schema_);
    }
    conn_ = base_ + ";ConnSettings=SET search_path TO " + schema_;
    dir_ = fs::temp_directory_path() / schema_;
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    info_.OnStatus = [this](const std::string& s) { status_.push_back(s); };
  }
  void TearDown() override {
    if (base_.empty()) return;
    fs::remove_all(dir_);
    ado::Connection c;
    c.SetConnectionString(base_);
    c.Open();
    c.Execute("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }
  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    ado::Connection c;
    c.SetConnectionString(conn_);
    c.Open();
    ado::Command cmd;
    cmd.SetActiveConnection(c);
    cmd.SetCommandText(sql);
    ado::Recordset rs = cmd.Execute();
    std::vector<std::vector<std::string>> rows;
    for (; !rs.Eof(); rs.MoveNext()) {
      std::vector<std::string> row;
      for (int i = 0; i < rs.FieldCount(); ++i)
        row.push_back(rs.Fields(i).Value().IsNull() ? "<null>" : rs.Fields(i).Value().AsText());
      rows.push_back(row);
    }
    return rows;
  }

  std::string base_, conn_, schema_;
  fs::path dir_;
  TDbConversionInfo info_;
  std::vector<std::string> status_;
};

}  // namespace

TEST_P(PostgresTransferTest, GreylistingAndDhaArriveWithSignaturesAndMilliseconds) {
  for (TDatabaseKind k : {dkGrey, dkDha})
    EXPECT_EQ(CreateTargetTables(conn_, k).size(), k == dkDha ? 2u : 1u);
  EXPECT_TRUE(CreateTargetTables(conn_, dkGrey).empty()) << "existing tables are left alone";

  SourceTable grey = GreySourceTable();
  for (int i = 0; i < 2345; ++i) {
    SourceRow r;
    r.Texts = {"s" + std::to_string(i),
               i % 100 == 5 ? "fe80::" + std::to_string(i)
                            : "192.0." + std::to_string(i % 250) + "." + std::to_string(i / 250),
               "from" + std::to_string(i) + "@a.example",
               "to" + std::to_string(i % 77) + "@b.example"};
    r.Stamps = {{730120 + i, int32_t(int64_t(i) * 7919013 % 86400000)},
                {738000 + i % 500, 86399999 - i}};
    grey.Rows.push_back(r);
  }
  WriteSource(dir_ / "g.abs", {grey});
  SourceTable hist{"DhaHistory", {{"IpAddress", false, 45}, {"AttemptTime", true}}, {}};
  SourceTable black{"DhaBlacklist", {{"IpAddress", false, 45}, {"LastUpdateTime", true}}, {}};
  for (int i = 0; i < 1200; ++i)
    hist.Rows.push_back({{"10.9.8." + std::to_string(i % 256)}, {{700000 + i, i}}});
  for (int i = 0; i < 300; ++i)
    black.Rows.push_back({{"10.7.6." + std::to_string(i % 256)}, {{710000 + i, 999 * i}}});
  WriteSource(dir_ / "d.abs", {hist, black});

  for (TDatabaseKind k : {dkGrey, dkDha}) {
    info_.Task(k).Selected = true;
    info_.Task(k).TargetConnectionString = conn_;
  }
  TDbTransfer g(info_, dkGrey), d(info_, dkDha);
  g.ConnectTarget();
  d.ConnectTarget();
  g.CheckSource((dir_ / "g.abs").string());
  d.CheckSource((dir_ / "d.abs").string());
  g.Transfer((dir_ / "g.abs").string());
  d.Transfer((dir_ / "d.abs").string());
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();

  auto rows = Query(
      "SELECT GREY_SIGNATURE, GREY_IP, GREY_SENDER, GREY_RECIPIENT, "
      "to_char(GREY_CREATED, 'YYYY-MM-DD HH24:MI:SS.MS'), to_char(GREY_LASTHIT, 'YYYY-MM-DD "
      "HH24:MI:SS.MS'), GREY_SIGNATURE_24 = md5(regexp_replace(GREY_IP, '\\.[^.]*$', '') || "
      "chr(9) || GREY_SENDER || chr(9) || GREY_RECIPIENT) FROM GREY ORDER BY GREY_ID");
  ASSERT_EQ(rows.size(), grey.Rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const SourceRow& s = grey.Rows[i];
    std::vector<std::string> expected = {
        *s.Texts[0],           *s.Texts[1], *s.Texts[2], *s.Texts[3], StampText(s.Stamps[0]),
        StampText(s.Stamps[1])};
    rows[i].resize(7);
    ASSERT_EQ(std::vector<std::string>(rows[i].begin(), rows[i].begin() + 6), expected) << i;
    ASSERT_TRUE(rows[i][6] == "1" || rows[i][6] == "t" || rows[i][6] == "true")
        << i << ": " << rows[i][6];
  }
  auto dha = Query(
      "SELECT (SELECT COUNT(*) FROM DhaHistory), (SELECT COUNT(*) FROM DhaBlacklist), "
      "(SELECT to_char(AttemptTime, 'YYYY-MM-DD HH24:MI:SS.MS') FROM DhaHistory ORDER "
      "BY Id DESC LIMIT 1)");
  EXPECT_EQ(dha[0][0], "1200");
  EXPECT_EQ(dha[0][1], "300");
  EXPECT_EQ(dha[0][2], StampText({700000 + 1199, 1199}));
  EXPECT_EQ(d.InsertedCount(), 1500);

  // A second run finds the rows and, told to delete them, clears both tables in batches.
  TDbConversionInfo again;
  again.Task(dkDha).TargetConnectionString = conn_;
  std::vector<std::string> lines;
  again.OnStatus = [&](const std::string& s) { lines.push_back(s); };
  TDbTransfer d2(again, dkDha);
  d2.ConnectTarget();
  ASSERT_TRUE(again.IsOk()) << again.GetError();
  EXPECT_EQ(lines.back(), "Finished clearing the DHA Protection database.");
  auto left =
      Query("SELECT (SELECT COUNT(*) FROM DhaHistory) + (SELECT COUNT(*) FROM DhaBlacklist)");
  EXPECT_EQ(left[0][0], "0");
}

TEST_P(PostgresTransferTest, RefusedRowInTheMiddleOfABatchRollsBackOnlyThatBatchAndIsNamed) {
  ASSERT_EQ(CreateTargetTables(conn_, dkGrey).size(), 1u);
  {
    ado::Connection c;
    c.SetConnectionString(conn_);
    c.Open();
    c.Execute("CREATE UNIQUE INDEX grey_signature_unique ON GREY(GREY_SIGNATURE)");
  }
  // Row 1500 (of 2500) repeats the signature of row 6, which the first batch committed.
  SourceTable grey{"GREY",
                   {{"GREY_SIGNATURE", false, 32},
                    {"GREY_SIGNATURE_24", false, 32},
                    {"GREY_IP", false, 45},
                    {"GREY_SENDER"},
                    {"GREY_RECIPIENT"},
                    {"GREY_CREATED", true},
                    {"GREY_LASTHIT", true}},
                   {}};
  for (int i = 0; i < 2500; ++i)
    grey.Rows.push_back(
        {{"sig" + std::to_string(i == 1499 ? 5 : i), "s24", "10.0.0.1", "a@b", "c@d"},
         {{730000 + i, i}, {730000 + i, 2 * i}}});
  WriteSource(dir_ / "g.abs", {grey});
  info_.Task(dkGrey).Selected = true;
  info_.Task(dkGrey).TargetConnectionString = conn_;
  TDbTransfer g(info_, dkGrey);
  g.CheckSource((dir_ / "g.abs").string());
  std::string message;
  try {
    g.Transfer((dir_ / "g.abs").string());
    ADD_FAILURE() << "the duplicate signature was accepted";
  } catch (const ado::EAdoError& e) {
    message = e.Message();
  }

  // The same row inserted on its own is refused with the text the batch's failure starts with.
  std::string single;
  {
    ado::Connection c;
    c.SetConnectionString(conn_);
    c.Open();
    try {
      c.Execute("INSERT INTO GREY(GREY_SIGNATURE) VALUES('sig5')");
    } catch (const ado::EAdoError& e) {
      single = e.Message();
    }
  }
  ASSERT_FALSE(single.empty());
  EXPECT_EQ(message, single + "\r\nRow 1500 of the GREY table was refused.");
  EXPECT_EQ(g.InsertedCount(), 1499) << "rows before the refused one, as when inserting row by row";
  ASSERT_EQ(g.InsertedPerTable().size(), 1u);
  EXPECT_EQ(g.InsertedPerTable()[0], 1499);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM GREY")[0][0], "1000");
  EXPECT_EQ(
      Query(
          "SELECT COUNT(*) FROM GREY WHERE GREY_SIGNATURE IN ('sig0', 'sig999', 'sig1000')")[0][0],
      "2")
      << "the first batch stays, the second is rolled back";
  ASSERT_GE(status_.size(), 2u);
  EXPECT_EQ(status_[status_.size() - 2], "Error occured, rolling back data...");
  EXPECT_EQ(status_.back(), "Finished rolling back.");
}

TEST_P(PostgresTransferTest, SessionKilledMidBatchKeepsOnlyCommittedBatches) {
  EXPECT_EQ(CreateTargetTables(conn_, dkHoneypot).size(), 1u);
  SourceTable honeypot{
      "HoneypotBlacklist", {{"IpAddress", false, 45}, {"LastUpdateTime", true}}, {}};
  for (int i = 0; i < 2500; ++i)
    honeypot.Rows.push_back(
        {{"10.5." + std::to_string(i / 256) + "." + std::to_string(i % 256)}, {{720000 + i, i}}});
  WriteSource(dir_ / "h.abs", {honeypot});
  // The transfer's session is told apart from every other one, the other provider's run of this
  // test included, by an application name made from its schema's (short: the server cuts names
  // after 63 bytes).
  const std::string victim = "mrv_victim_" + std::to_string(std::hash<std::string>{}(schema_));
  info_.Task(dkHoneypot).Selected = true;
  info_.Task(dkHoneypot).TargetConnectionString = base_ + ";ConnSettings={SET search_path TO " +
                                                  schema_ + ";SET application_name TO " + victim +
                                                  "}";
  info_.OnProgress = [&, victim](int64_t done, int64_t) {
    if (done != 1500) return;
    ado::Connection killer;
    killer.SetConnectionString(base_);
    killer.Open();
    killer.Execute(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = '" +
        victim + "'");
  };
  TDbTransfer t(info_, dkHoneypot);
  t.ConnectTarget();
  t.CheckSource((dir_ / "h.abs").string());
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  EXPECT_THROW(t.Transfer((dir_ / "h.abs").string()), std::exception);
  ASSERT_GE(status_.size(), 2u);
  EXPECT_EQ(status_[status_.size() - 2], "Error occured, rolling back data...");
  EXPECT_EQ(status_.back(), "Finished rolling back.");
  EXPECT_EQ(Query("SELECT COUNT(*) FROM HoneypotBlacklist")[0][0], "1000");
}

INSTANTIATE_TEST_SUITE_P(Providers, PostgresTransferTest,
                         ::testing::Values("MRV_PG_CONN", "MRV_PG_NATIVE_CONN"),
                         [](const auto& info) {
                           return std::string(info.index == 0 ? "Odbc" : "Native");
                         });
