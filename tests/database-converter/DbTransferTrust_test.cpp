// Record transfer kept exact and safe: progress for every row, batches of exactly 1000 rows,
// source text that the chosen code page cannot decode, target tables (and a SQLite file) made
// only once every source has been checked, and passwords masked in what a target reports.
#include <gtest/gtest.h>

#include <fstream>

#include "AdoConnectionTestThread_un.h"
#include "DbTransferTestFiles.h"
#include "DbTransfer_un.h"
#include "EchoBackend.h"

namespace fs = std::filesystem;
using namespace mrv;
using namespace transfertest;

namespace {

class TransferTrustTest : public TransferFixture {
 protected:
  void TearDown() override {
    testsupport::Restore();
    TransferFixture::TearDown();
  }
};

// ASWL rows with plain ASCII text; `odd` (when given) replaces the sender domain of one row.
SourceTable PlainAswl(int rows, int oddRow = -1, const std::string& odd = "") {
  SourceTable t{"ASWL",
                {{"ASWL_SENDER_EMAIL"},
                 {"ASWL_SENDER_DOMAIN"},
                 {"ASWL_RECIPIENT_EMAIL"},
                 {"ASWL_LASTHIT", true}},
                {}};
  for (int i = 0; i < rows; ++i)
    t.Rows.push_back(
        {{"s" + std::to_string(i) + "@a.example", i == oddRow ? odd : "a.example", "r@b.example"},
         {{730120 + i, i}}});
  return t;
}

}  // namespace

TEST_F(TransferTrustTest, ProgressForEveryRowAndNoFinalCommitAfterWholeBatches) {
  WriteSource(dir_ / "a.abs", {PlainAswl(2000)});
  Select(dkAswl);
  TDbTransfer t(info_, dkAswl);
  RunAll(t, dir_ / "a.abs");
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  EXPECT_EQ(SqliteFile(target_).Count("ASWL"), 2000);
  // One report before each row, one after the last.
  std::vector<std::pair<int64_t, int64_t>> expected;
  for (int64_t i = 0; i <= 2000; ++i) expected.emplace_back(i, 2000);
  EXPECT_EQ(progress_, expected);
  // Both batches were committed as they filled; nothing is left for a final commit line.
  EXPECT_EQ(status_.back(), "Converting the Automatic Sender Whitelist database...");
  EXPECT_FALSE(HasStatus("Finished converting the Automatic Sender Whitelist database."));
}

TEST_F(TransferTrustTest, TextTheCodePageCannotDecodeStopsTheTransfer) {
  // Windows-1252 text read as UTF-8: the row would arrive with replacement characters.
  WriteSource(dir_ / "a.abs", {PlainAswl(1500, 1234, "d\xE9j\xE0.example")});
  Select(dkAswl);
  TDbTransfer t(info_, dkAswl, 65001);
  t.ConnectTarget();
  t.CheckSource((dir_ / "a.abs").string());
  try {
    t.Transfer((dir_ / "a.abs").string());
    ADD_FAILURE() << "the transfer went on";
  } catch (const EDbTransfer& e) {
    EXPECT_STREQ(e.what(),
                 "The ASWL_SENDER_DOMAIN field of record 1235 in the ASWL table of the source "
                 "Automatic Sender Whitelist database holds text that code page 65001 cannot "
                 "decode.");
  }
  EXPECT_EQ(SqliteFile(target_).Count("ASWL"), 1000) << "the open batch is rolled back";
  EXPECT_EQ(status_.back(), "Finished rolling back.");
  // Read as Windows-1252, the same file converts.
  TDbConversionInfo again;
  again.Task(dkAswl) = info_.Task(dkAswl);
  TDbTransfer t2(again, dkAswl, 1252);
  SqliteFile(target_).Exec("DELETE FROM ASWL");
  t2.Transfer((dir_ / "a.abs").string());
  EXPECT_TRUE(again.IsOk()) << again.GetError();
  EXPECT_EQ(SqliteFile(target_).Count("ASWL"), 1500);
}

TEST_F(TransferTrustTest, CreateSchemaMakesAMissingSqliteFileOnlyWhenTransferring) {
  WriteSource(dir_ / "a.abs", {PlainAswl(10)});
  const fs::path plain = dir_ / "new-plain.db", keyed = dir_ / "new-keyed.db";
  for (const auto& [file, conn] :
       {std::pair{plain, plain.string()},
        std::pair{keyed, "Provider=SQLite;Data Source=" + keyed.string()}}) {
    TDbConversionInfo info;
    std::vector<std::string> lines;
    info.OnStatus = [&](const std::string& s) { lines.push_back(s); };
    info.Task(dkAswl).Selected = true;
    info.Task(dkAswl).TargetConnectionString = conn;
    TDbTransfer t(info, dkAswl);
    t.SetCreateSchema(true);
    t.ConnectTarget();
    t.CheckSource((dir_ / "a.abs").string());
    ASSERT_TRUE(info.IsOk()) << info.GetError();
    EXPECT_FALSE(fs::exists(file)) << "nothing is created before the transfer";
    t.Transfer((dir_ / "a.abs").string());
    ASSERT_TRUE(info.IsOk()) << info.GetError();
    EXPECT_EQ(SqliteFile(file).Count("ASWL"), 10);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "Created table ASWL in the target Automatic Sender Whitelist database."),
              lines.end());
  }
}

TEST_F(TransferTrustTest, CreateSchemaLeavesTheTargetAloneWhenASourceIsRefused) {
  SqliteFile(target_).Exec("DROP TABLE DhaBlacklist;");
  std::ofstream(dir_ / "junk.abs") << "this is not a database";
  Select(dkDha);
  TDbTransfer t(info_, dkDha);
  t.SetCreateSchema(true);
  t.ConnectTarget();
  ASSERT_TRUE(info_.IsOk()) << "a missing table is not an error: " << info_.GetError();
  t.CheckSource((dir_ / "junk.abs").string());
  ASSERT_FALSE(info_.IsOk());
  t.Transfer((dir_ / "junk.abs").string());
  EXPECT_TRUE(SqliteFile(target_)
                  .Query("SELECT name FROM sqlite_master WHERE name = "
                         "'DhaBlacklist'")
                  .empty());
  // Without the option the missing table is reported, as before.
  TDbConversionInfo plain;
  plain.Task(dkDha) = info_.Task(dkDha);
  TDbTransfer t2(plain, dkDha);
  t2.ConnectTarget();
  EXPECT_NE(plain.GetError().find("The DHA Protection (DhaBlacklist) table was not found"),
            std::string::npos);
}

TEST_F(TransferTrustTest, PasswordsEchoedByTheTargetAreMasked) {
  const std::string conn = "Provider=SQLite;Data Source=t.db;Uid=u;Password=pa";
  const std::string masked =
      "unexpected failure at open of Provider=SQLite;Data Source=t.db;Uid=u;Password=*** "
      "password ***.";
  testsupport::EchoEveryConnection(conn + " password pa.", false);
  info_.Task(dkGrey).Selected = true;
  info_.Task(dkGrey).TargetConnectionString = conn;
  TDbTransfer t(info_, dkGrey);
  t.ConnectTarget();
  const std::string error = info_.GetError();
  EXPECT_NE(error.find(masked), std::string::npos) << error;
  EXPECT_EQ(error.find("=pa"), std::string::npos) << error;

  // The connection test reports failures at creation and at open the same way.
  for (bool atCreate : {true, false}) {
    testsupport::EchoEveryConnection(conn + " password pa.", atCreate);
    TAdoConnectionTestThread test(conn);
    test.Execute();
    std::string expected = masked;
    if (atCreate) expected.replace(expected.find("open"), 4, "create");
    EXPECT_EQ(test.ErrorMessage(), expected);
  }
}

TEST_F(TransferTrustTest, SignatureIsComputedFromTheFilesOwnBytes) {
  // In code page 932 two byte pairs stand for the same character; decoding and encoding again
  // would hash the other pair.
  SourceTable grey =
      GreySourceTable({{{"sig", "10.0.0.1", "\xED\x40@x", "r"}, {{730120, 0}, {730121, 0}}}});
  WriteSource(dir_ / "g.abs", {grey});
  Select(dkGrey);
  TDbTransfer t(info_, dkGrey, 932);
  RunAll(t, dir_ / "g.abs");
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  EXPECT_EQ(SqliteFile(target_).Query("SELECT GREY_SIGNATURE_24 FROM GREY")[0][0],
            Text("a18cb9eb8b48f960b4aa9f96e3a0cdf1"));
}
