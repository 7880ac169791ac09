// Record transfer into a real SQLite file: every row and value of the four databases, the
// target-not-empty answers and the clearing, failures in the middle of a table, cancellation,
// missing target tables, broken and encrypted sources, and the Greylisting signature.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

#include "DbTransferTestFiles.h"
#include "DbTransfer_un.h"

namespace fs = std::filesystem;
using namespace mrv;
using namespace transfertest;

namespace {

class TransferTest : public TransferFixture {};

Stamp StampOf(int i) { return {730120 + i % 9000, int32_t(int64_t(i) * 7919013 % 86400000)}; }

SourceTable AswlTable(int rows) {
  SourceTable t{"ASWL",
                {{"ASWL_SENDER_EMAIL"},
                 {"ASWL_SENDER_DOMAIN"},
                 {"ASWL_RECIPIENT_EMAIL"},
                 {"ASWL_LASTHIT", true}},
                {}};
  for (int i = 0; i < rows; ++i) {
    SourceRow r;
    r.Texts = {"s" + std::to_string(i) + "@d\xE9j\xE0.example", "d\xE9j\xE0.example",
               i % 7 == 3 ? Text() : Text("rcpt" + std::to_string(i) + "@x.org")};
    r.Stamps = {StampOf(i)};
    t.Rows.push_back(r);
  }
  return t;
}

SourceTable AddressTable(const std::string& name, const std::string& dateField, int rows,
                         int salt) {
  SourceTable t{name, {{"IpAddress", false, 45}, {dateField, true}}, {}};
  for (int i = 0; i < rows; ++i) {
    SourceRow r;
    r.Texts = {i % 50 == 7 ? std::string("2001:db8::") + std::to_string(i)
                           : "10." + std::to_string(salt) + "." + std::to_string(i / 250) + "." +
                                 std::to_string(i % 250)};
    r.Stamps = {StampOf(i + salt)};
    t.Rows.push_back(r);
  }
  return t;
}

// GREY rows with a stored GREY_SIGNATURE_24, except the four rows whose signature is computed
// and pinned below.
struct GreyCase {
  Text Ip, Sender, Recipient;
  const char* Md5;
};
const GreyCase kComputed[] = {
    {"10.0.0.1", "S", "R", "8bebfcec0744ba73519cd38228a848c6"},
    {"192.168.1.23", "sender@example.com", "recipient@example.org",
     "158a14510dafa4b9a19257ba572b87a6"},
    {"2001:db8::1", "a", "b", "2c18a24ca012db405c2a897b586346ad"},
    {"10.1.2.3", "Jos\xE9@caf\xE9.fr", "r", "88a9db91ddbe5e8d44affbefd9af4fa5"},
    // Bytes Windows-1252 leaves unassigned: the digest is over the file's own bytes.
    {"10.0.0.9", "s\x81@x", "r\x9D", "d3ee55d40aa7e8ea14a20479ff8666a1"},
};
constexpr int kComputedCount = static_cast<int>(std::size(kComputed));

SourceTable GreyTable(int rows, bool withSignature24) {
  SourceTable t{"GREY", {{"GREY_SIGNATURE", false, 32}}, {}};
  if (withSignature24) t.Fields.push_back({"GREY_SIGNATURE_24", false, 32});
  for (const char* f : {"GREY_IP", "GREY_SENDER", "GREY_RECIPIENT"}) t.Fields.push_back({f});
  t.Fields.push_back({"GREY_CREATED", true});
  t.Fields.push_back({"GREY_LASTHIT", true});
  for (int i = 0; i < rows; ++i) {
    SourceRow r;
    char sig[40];
    std::snprintf(sig, sizeof sig, "%032x", i * 2654435761u);
    r.Texts.push_back(std::string(sig));
    const bool computed = i < kComputedCount;
    // Computed where the stored value is NULL (even rows) or an empty text (odd rows).
    if (withSignature24)
      r.Texts.push_back(computed ? (i % 2 ? Text("") : Text())
                                 : Text("stored" + std::to_string(i)));
    if (computed) {
      r.Texts.push_back(kComputed[i].Ip);
      r.Texts.push_back(kComputed[i].Sender);
      r.Texts.push_back(kComputed[i].Recipient);
    } else {
      r.Texts.push_back("172.16." + std::to_string(i % 256) + "." + std::to_string(i / 256));
      r.Texts.push_back("from" + std::to_string(i) + "@a.example");
      r.Texts.push_back("to" + std::to_string(i) + "@b.example");
    }
    r.Stamps = {StampOf(i), StampOf(i + 17)};
    t.Rows.push_back(r);
  }
  return t;
}

// Every target row against its source row, in order: texts (decoded to UTF-8) and date-times
// to the millisecond.
void ExpectRows(SqliteFile& db, const std::string& sql, const SourceTable& src, size_t firstRow = 0,
                size_t count = SIZE_MAX) {
  auto rows = db.Query(sql);
  count = std::min(count, src.Rows.size() - firstRow);
  ASSERT_EQ(rows.size(), count) << sql;
  for (size_t i = 0; i < count; ++i) {
    const SourceRow& s = src.Rows[firstRow + i];
    size_t c = 0;
    for (const Text& t : s.Texts) {
      Text expected = t ? Text(Latin1ToUtf8(*t)) : Text();
      ASSERT_EQ(rows[i][c], expected) << "row " << i << " column " << c << " of " << sql;
      ++c;
    }
    for (const Stamp& st : s.Stamps) {
      ASSERT_EQ(rows[i][c], Text(StampText(st))) << "row " << i << " column " << c;
      ++c;
    }
  }
}

}  // namespace

TEST(DbTransferSignature, Md5OfPrefixSenderRecipientInLowercaseHex) {
  EXPECT_EQ(ComputeSignature24("10.0.0.1", "S", "R"), "8bebfcec0744ba73519cd38228a848c6");
  EXPECT_EQ(ComputeSignature24("192.168.1.23", "sender@example.com", "recipient@example.org"),
            "158a14510dafa4b9a19257ba572b87a6");
  EXPECT_EQ(ComputeSignature24("2001:db8::1", "a", "b"), "2c18a24ca012db405c2a897b586346ad");
  EXPECT_EQ(ComputeSignature24("10.1.2.3", "Jos\xE9@caf\xE9.fr", "r"),
            "88a9db91ddbe5e8d44affbefd9af4fa5");
}

TEST_F(TransferTest, AllFourDatabasesArriveRowForRowWithTheirStatusLines) {
  const SourceTable aswl = AswlTable(2500);
  const SourceTable grey = GreyTable(1203, true);
  const SourceTable hist = AddressTable("DhaHistory", "AttemptTime", 1500, 1);
  const SourceTable black = AddressTable("DhaBlacklist", "LastUpdateTime", 700, 2);
  const SourceTable honey = AddressTable("HoneypotBlacklist", "LastUpdateTime", 0, 3);
  WriteSource(dir_ / "aswl.abs", {aswl});
  WriteSource(dir_ / "greylist.abs", {grey});
  WriteSource(dir_ / "dha.abs", {hist, black});
  WriteSource(dir_ / "honeypot.abs", {honey});

  const char* files[] = {"aswl.abs", "greylist.abs", "dha.abs", "honeypot.abs"};
  std::vector<std::unique_ptr<TDbTransfer>> transfers;
  for (int k = 0; k < 4; ++k) {
    Select(TDatabaseKind(k));
    transfers.push_back(std::make_unique<TDbTransfer>(info_, TDatabaseKind(k), 1252));
  }
  for (auto& t : transfers) t->ConnectTarget();
  for (int k = 0; k < 4; ++k) transfers[k]->CheckSource((dir_ / files[k]).string());
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  for (int k = 0; k < 4; ++k) transfers[k]->Transfer((dir_ / files[k]).string());
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();

  EXPECT_EQ(transfers[0]->InsertedCount(), 2500);
  EXPECT_EQ(transfers[1]->InsertedCount(), 1203);
  EXPECT_EQ(transfers[2]->InsertedCount(), 2200) << "counted across both DHA tables";
  EXPECT_EQ(transfers[3]->InsertedCount(), 0);

  SqliteFile db(target_);
  ExpectRows(db,
             "SELECT ASWL_SENDER_EMAIL, ASWL_SENDER_DOMAIN, ASWL_RECIPIENT_EMAIL, ASWL_LASTHIT "
             "FROM ASWL ORDER BY ASWL_ID",
             aswl);
  ExpectRows(db,
             "SELECT GREY_SIGNATURE, GREY_SIGNATURE_24, GREY_IP, GREY_SENDER, GREY_RECIPIENT, "
             "GREY_CREATED, GREY_LASTHIT FROM GREY WHERE GREY_ID > " +
                 std::to_string(kComputedCount) + " ORDER BY GREY_ID",
             grey, kComputedCount);
  auto computed = db.Query("SELECT GREY_SIGNATURE_24, GREY_SENDER FROM GREY ORDER BY GREY_ID");
  for (int i = 0; i < kComputedCount; ++i) {
    EXPECT_EQ(computed[i][0], Text(kComputed[i].Md5)) << i;
    EXPECT_EQ(computed[i][1], Text(Latin1ToUtf8(*kComputed[i].Sender))) << i;
  }
  ExpectRows(db, "SELECT IpAddress, AttemptTime FROM DhaHistory ORDER BY Id", hist);
  ExpectRows(db, "SELECT IpAddress, LastUpdateTime FROM DhaBlacklist ORDER BY Id", black);
  EXPECT_EQ(db.Count("HoneypotBlacklist"), 0);

  const std::vector<std::string> aswlLines = {
      "Connecting to the target Automatic Sender Whitelist database",
      "Connected to the target Automatic Sender Whitelist database."};
  EXPECT_EQ(std::vector<std::string>(status_.begin(), status_.begin() + 2), aswlLines);
  EXPECT_TRUE(HasStatus("Converting the Greylisting database..."));
  EXPECT_TRUE(HasStatus("Finished converting the DHA Protection database."));
  // 2500 rows: the last batch of 500 is committed at the end and reported; 0 rows: nothing.
  EXPECT_TRUE(HasStatus("Finished converting the Automatic Sender Whitelist database."));
  EXPECT_FALSE(HasStatus("Finished converting the Honeypot database."));
  EXPECT_FALSE(HasStatus("The target Greylisting database is not empty."));
  // The empty Honeypot table reports its progress once, as (InsertedCount, 0).
  EXPECT_EQ(progress_.back(), std::make_pair(int64_t(0), int64_t(0)));
  EXPECT_EQ(std::count(progress_.begin(), progress_.end(), std::make_pair(int64_t(0), int64_t(0))),
            1);
}

TEST_F(TransferTest, GreylistingWithoutTheSignatureFieldComputesEverySignature) {
  WriteSource(dir_ / "g.abs", {GreyTable(kComputedCount, false)});
  Select(dkGrey);
  TDbTransfer t(info_, dkGrey, 1252);
  RunAll(t, dir_ / "g.abs");
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  auto rows = SqliteFile(target_).Query("SELECT GREY_SIGNATURE_24 FROM GREY ORDER BY GREY_ID");
  ASSERT_EQ(rows.size(), std::size(kComputed));
  for (int i = 0; i < kComputedCount; ++i) EXPECT_EQ(rows[i][0], Text(kComputed[i].Md5)) << i;
}

TEST_F(TransferTest, TargetNotEmptyAnswersDeleteKeepAndCancel) {
  WriteSource(dir_ / "a.abs", {AswlTable(10)});
  auto prefill = [&](int n) {
    SqliteFile db(target_);
    db.Exec("DELETE FROM ASWL; BEGIN;");
    for (int i = 0; i < n; ++i)
      db.Exec("INSERT INTO ASWL(ASWL_SENDER_EMAIL) VALUES('old" + std::to_string(i) + "')");
    db.Exec("COMMIT;");
  };
  Select(dkAswl);

  {  // Unassigned event: delete, in committed batches, with progress up to the total.
    prefill(2345);
    TDbTransfer t(info_, dkAswl);
    RunAll(t, dir_ / "a.abs");
    ASSERT_TRUE(info_.IsOk()) << info_.GetError();
    EXPECT_EQ(SqliteFile(target_).Count("ASWL"), 10);
    EXPECT_TRUE(HasStatus("The target Automatic Sender Whitelist database is not empty."));
    EXPECT_TRUE(HasStatus("Clearing the Automatic Sender Whitelist database..."));
    EXPECT_TRUE(HasStatus("Finished clearing the Automatic Sender Whitelist database."));
    const std::vector<std::pair<int64_t, int64_t>> clearing(progress_.begin(),
                                                            progress_.begin() + 4);
    EXPECT_EQ(clearing, (std::vector<std::pair<int64_t, int64_t>>{
                            {0, 2345}, {1000, 2345}, {2000, 2345}, {2345, 2345}}));
  }
  {  // Keep: the new rows go beside the old ones.
    prefill(5);
    status_.clear();
    std::vector<TDatabaseKind> asked;
    info_.OnTargetNotEmpty = [&](TDatabaseKind k, TTargetNotEmptyAnswer& a) {
      EXPECT_EQ(a, taDelete);
      asked.push_back(k);
      a = taKeep;
    };
    TDbTransfer t(info_, dkAswl);
    RunAll(t, dir_ / "a.abs");
    ASSERT_TRUE(info_.IsOk()) << info_.GetError();
    EXPECT_EQ(asked, std::vector<TDatabaseKind>{dkAswl});
    EXPECT_EQ(SqliteFile(target_).Count("ASWL"), 15);
    EXPECT_FALSE(HasStatus("Clearing the Automatic Sender Whitelist database..."));
  }
  {  // Cancel: the run is cancelled and nothing is touched.
    prefill(5);
    info_.OnTargetNotEmpty = [](TDatabaseKind, TTargetNotEmptyAnswer& a) { a = taCancel; };
    TDbTransfer t(info_, dkAswl);
    RunAll(t, dir_ / "a.abs");
    EXPECT_TRUE(info_.Cancelled);
    EXPECT_FALSE(info_.IsOk());
    EXPECT_EQ(info_.GetError(), "");
    EXPECT_EQ(SqliteFile(target_).Count("ASWL"), 5);
  }
}

TEST_F(TransferTest, UnknownAnswerRaisesNotImplemented) {
  SqliteFile(target_).Exec("INSERT INTO GREY(GREY_IP) VALUES('1.2.3.4')");
  Select(dkGrey);
  info_.OnTargetNotEmpty = [](TDatabaseKind, TTargetNotEmptyAnswer& a) {
    a = static_cast<TTargetNotEmptyAnswer>(7);
  };
  TDbTransfer t(info_, dkGrey);
  try {
    t.ConnectTarget();
    FAIL() << "no exception";
  } catch (const EDbTransfer& e) {
    EXPECT_STREQ(e.what(), "Not implemented.");
  }
}

TEST_F(TransferTest, DhaClearingReportsEachTableAndFinishesOnce) {
  SqliteFile db(target_);
  db.Exec(
      "INSERT INTO DhaHistory(IpAddress) VALUES('1.1.1.1'),('1.1.1.2');"
      "INSERT INTO DhaBlacklist(IpAddress) VALUES('2.2.2.2');");
  Select(dkDha);
  TDbTransfer t(info_, dkDha);
  t.ConnectTarget();
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  EXPECT_EQ(CountStatus("Clearing the DHA Protection database..."), 2);
  EXPECT_EQ(CountStatus("Finished clearing the DHA Protection database."), 1);
  EXPECT_EQ(status_.back(), "Finished clearing the DHA Protection database.");
  EXPECT_EQ(db.Count("DhaHistory") + db.Count("DhaBlacklist"), 0);
}

TEST_F(TransferTest, ClearingStopsWhenADeleteRemovesNothing) {
  SqliteFile db(target_);
  db.Exec("INSERT INTO HoneypotBlacklist(IpAddress) VALUES('3.3.3.3'),('3.3.3.4');");
  Select(dkHoneypot);
  // Runs ConnectTarget on a thread; a clearing loop that never ends is broken by a cancel so
  // that the test fails instead of hanging.
  auto connectWithWatchdog = [&] {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      TDbTransfer t(info_, dkHoneypot);
      t.ConnectTarget();
      done = true;
    });
    for (int i = 0; i < 300 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!done) info_.Cancelled = true;
    worker.join();
    ASSERT_FALSE(info_.Cancelled) << "clearing repeated a statement that deleted nothing";
  };

  // Rows removed by someone else between the count and the clearing: not an error.
  info_.OnTargetNotEmpty = [&](TDatabaseKind, TTargetNotEmptyAnswer&) {
    SqliteFile(target_).Exec("DELETE FROM HoneypotBlacklist");
  };
  connectWithWatchdog();
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  EXPECT_TRUE(HasStatus("Finished clearing the Honeypot database."));

  // Rows that cannot be deleted: the clearing error, instead of repeating for ever.
  db.Exec(
      "INSERT INTO HoneypotBlacklist(IpAddress) VALUES('3.3.3.3'),('3.3.3.4');"
      "CREATE TRIGGER keep BEFORE DELETE ON HoneypotBlacklist BEGIN SELECT RAISE(IGNORE); "
      "END;");
  info_.OnTargetNotEmpty = nullptr;
  connectWithWatchdog();
  const std::string err = info_.GetError();
  EXPECT_EQ(
      err.rfind("Could not clear the target Honeypot table.\r\n\r\nError EDbTransfer.\r\n", 0), 0u)
      << err;
  EXPECT_NE(err.find("2 rows remain in table HoneypotBlacklist"), std::string::npos) << err;
  EXPECT_EQ(db.Count("HoneypotBlacklist"), 2);
}

TEST_F(TransferTest, InsertFailureRollsBackOnlyTheOpenBatch) {
  const SourceTable aswl = AswlTable(2500);
  WriteSource(dir_ / "a.abs", {aswl});
  SqliteFile db(target_);
  db.Exec(
      "CREATE UNIQUE INDEX one_sender ON ASWL(ASWL_SENDER_EMAIL);"
      "INSERT INTO ASWL(ASWL_SENDER_EMAIL) VALUES('" +
      Latin1ToUtf8(*aswl.Rows[1500].Texts[0]) + "');");
  Select(dkAswl);
  info_.OnTargetNotEmpty = [](TDatabaseKind, TTargetNotEmptyAnswer& a) { a = taKeep; };
  TDbTransfer t(info_, dkAswl);
  t.ConnectTarget();
  t.CheckSource((dir_ / "a.abs").string());
  ASSERT_TRUE(info_.IsOk()) << info_.GetError();
  EXPECT_THROW(t.Transfer((dir_ / "a.abs").string()), std::exception);
  EXPECT_EQ(t.InsertedCount(), 1500);
  EXPECT_EQ(db.Count("ASWL"), 1001) << "the first batch stays, the open one is rolled back";
  ExpectRows(db,
             "SELECT ASWL_SENDER_EMAIL, ASWL_SENDER_DOMAIN, ASWL_RECIPIENT_EMAIL, ASWL_LASTHIT "
             "FROM ASWL WHERE ASWL_ID > 1 ORDER BY ASWL_ID",
             aswl, 0, 1000);
  ASSERT_GE(status_.size(), 2u);
  EXPECT_EQ(status_[status_.size() - 2], "Error occured, rolling back data...");
  EXPECT_EQ(status_.back(), "Finished rolling back.");
}

TEST_F(TransferTest, NullAddressOfAComputedSignatureEndsTheTransfer) {
  SourceTable grey = GreyTable(1005, true);
  grey.Rows[1003].Texts[1] = Text();  // computed signature ...
  grey.Rows[1003].Texts[3] = Text();  // ... of a null sender
  WriteSource(dir_ / "g.abs", {grey});
  Select(dkGrey);
  TDbTransfer t(info_, dkGrey);
  t.ConnectTarget();
  EXPECT_THROW(t.Transfer((dir_ / "g.abs").string()), std::exception);
  EXPECT_EQ(SqliteFile(target_).Count("GREY"), 1000);
  EXPECT_EQ(status_.back(), "Finished rolling back.");
}

TEST_F(TransferTest, CancelDuringTheCopyRollsBackTheOpenBatch) {
  WriteSource(dir_ / "d.abs", {AddressTable("DhaHistory", "AttemptTime", 2500, 1),
                               AddressTable("DhaBlacklist", "LastUpdateTime", 30, 2)});
  Select(dkDha);
  onProgress_ = [&](int64_t done, int64_t) {
    if (done == 1500) info_.Cancelled = true;
  };
  TDbTransfer t(info_, dkDha);
  t.ConnectTarget();
  t.CheckSource((dir_ / "d.abs").string());
  info_.Cancelled = false;
  EXPECT_NO_THROW(t.Transfer((dir_ / "d.abs").string()));
  EXPECT_TRUE(info_.Cancelled);
  // The row in progress is inserted, then the loop stops; its batch is rolled back and the
  // second table is not copied.
  EXPECT_EQ(t.InsertedCount(), 1501);
  SqliteFile db(target_);
  EXPECT_EQ(db.Count("DhaHistory"), 1000);
  EXPECT_EQ(db.Count("DhaBlacklist"), 0);
  ASSERT_GE(status_.size(), 2u);
  EXPECT_EQ(status_[status_.size() - 2], "Rolling back data...");
  EXPECT_EQ(status_.back(), "Finished rolling back.");
}

TEST_F(TransferTest, MissingTargetTablesAreReportedPerTable) {
  SqliteFile(target_).Exec("DROP TABLE DhaHistory;");
  Select(dkDha);
  TDbTransfer t(info_, dkDha);
  t.ConnectTarget();
  const std::string err = info_.GetError();
  EXPECT_EQ(err.rfind(std::string("The DHA Protection (DhaHistory) table was not found in the "
                                  "target External Database. Make sure that the database schema "
                                  "is already prepared for the conversion.\r\nLearn more about "
                                  "creating External Databases in \r\nthe External Databases guide "
                                  "(external-databases.html beside this program).\r\n\r\n"
                                  "Error EAdoError.\r\n"),
                      0),
            0u)
      << err;
}

TEST_F(TransferTest, BrokenSourcesGiveTheirMessages) {
  Select(dkGrey);
  {  // Not a database file at all.
    std::ofstream(dir_ / "junk.abs") << "this is not a database";
    TDbTransfer t(info_, dkGrey);
    t.CheckSource((dir_ / "junk.abs").string());
    EXPECT_EQ(info_.GetError(),
              "Could not open the source Greylisting database.\r\nPlease make sure that the file "
              "is a valid Mrv database.");
  }
  {  // A database without the table.
    TDbConversionInfo info;
    info.Task(dkGrey).TargetConnectionString = TargetString();
    WriteSource(dir_ / "other.abs", {AswlTable(1)});
    TDbTransfer t(info, dkGrey);
    t.CheckSource((dir_ / "other.abs").string());
    EXPECT_EQ(info.GetError().rfind("Could not access the main table of the source Greylisting "
                                    "database.\r\nPlease make sure that the file is a valid Mrv "
                                    "Greylisting database.\r\n\r\nError ",
                                    0),
              0u)
        << info.GetError();
  }
  {  // A table without a required field (the second DHA table).
    TDbConversionInfo info;
    SourceTable black{"DhaBlacklist", {{"IpAddress"}, {"LastUpdated", true}}, {}};
    WriteSource(dir_ / "dha.abs", {AddressTable("DhaHistory", "AttemptTime", 1, 1), black});
    TDbTransfer t(info, dkDha);
    t.CheckSource((dir_ / "dha.abs").string());
    EXPECT_EQ(info.GetError(),
              "Invalid source DHA Protection database.\r\nPlease make sure that it is a valid Mrv "
              "DHA Protection database file.");
  }
}

TEST_F(TransferTest, EncryptedSourceOpensWithItsPasswordOnly) {
  Select(dkHoneypot);
  const SourceTable table = AddressTable("HoneypotBlacklist", "LastUpdateTime", 30, 3);
  const std::string path = (dir_ / "honeypot.abs").string();
  WriteSource(path, {table}, "K\xE4se");                    // the ANSI bytes of "Käse"
  info_.Task(dkHoneypot).SourcePath = "live/honeypot.abs";  // named in the messages, not the copy
  auto check = [&](std::optional<std::string> password) {
    TDbConversionInfo info;
    info.Task(dkHoneypot) = info_.Task(dkHoneypot);
    info.Task(dkHoneypot).SourcePassword = std::move(password);
    TDbTransfer t(info, dkHoneypot, 1252);
    t.CheckSource(path);
    return info.GetError();
  };
  // Without a password setting (the wizard) the general message stays as it always was.
  EXPECT_EQ(check(std::nullopt),
            "Could not open the source Honeypot database.\r\nPlease make sure "
            "that the file is a valid Mrv database.");
  EXPECT_EQ(check(""),
            "Could not open the source Honeypot database.\r\nThe file \"live/honeypot.abs\" is "
            "encrypted and no password was given for it.");
  EXPECT_EQ(check("Kase"),
            "Could not open the source Honeypot database.\r\nThe password given for the "
            "encrypted file \"live/honeypot.abs\" is wrong.");
  EXPECT_EQ(check("K\xC3\xA4se"), "") << "the password is UTF-8";

  // The transfer opens its copy with the password too.
  info_.Task(dkHoneypot).SourcePassword = "K\xC3\xA4se";
  TDbTransfer t(info_, dkHoneypot, 1252);
  RunAll(t, path);
  ASSERT_EQ(info_.GetError(), "");
  SqliteFile db(target_);
  ExpectRows(db, "SELECT IpAddress, LastUpdateTime FROM HoneypotBlacklist ORDER BY Id", table);
}

TEST_F(TransferTest, PasswordsNeverReachMessages) {
  info_.Task(dkAswl).TargetConnectionString =
      "Driver={No Such Driver 9};Server=db.example;Uid=admin;Pwd=Sup3rSecret";
  TDbTransfer t(info_, dkAswl);
  t.ConnectTarget();
  const std::string err = info_.GetError();
  EXPECT_EQ(err.rfind("Could not connect to the target Automatic Sender Whitelist database.\r\n\r\n"
                      "Make sure the database has been created,\r\nand the database server is up "
                      "and running.\r\n\r\nError EAdoError.\r\n",
                      0),
            0u)
      << err;
  EXPECT_EQ(err.find("Sup3rSecret"), std::string::npos) << err;
  for (const std::string& s : status_) EXPECT_EQ(s.find("Sup3rSecret"), std::string::npos) << s;
}
