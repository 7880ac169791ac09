// Database and table objects: open sequences, properties, the walk, field lookup and the value
// each field type hands out, over files made by the format writer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "EdbBlobWriter.h"
#include "EdbFormatWriter.h"
#include "EdbMain.h"

using namespace edb;
namespace fs = std::filesystem;

namespace {

std::string TempPath(const std::string& stem) {
  static std::atomic<int> n{0};
  fs::path p =
      fs::temp_directory_path() /
      ("edbmain_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
       "_" + std::to_string(++n) + "_" + stem);
  return p.string();
}

std::string Bytes(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = char((i * 31 + seed * 7 + i / 97) & 0xFF);
  return s;
}

TEdbFieldDef BlobDef(const char* name, uint8_t adv, uint8_t alg, uint8_t mode) {
  TEdbFieldDef f = EdbMakeFieldDef(name, adv);
  f.BlobCompressionAlgorithm = alg;
  f.BlobCompressionMode = mode;
  f.BlobBlockSize = 4096;
  return f;
}

enum : int {
  kId,
  kS,
  kW,
  kI16,
  kB,
  kC,
  kL,
  kF,
  kX,
  kBo,
  kCu,
  kD,
  kT,
  kDt,
  kM,
  kBl,
  kBz,
  kFieldCount
};

const std::string kLargeBlob = Bytes(10000, 1);
const std::string kSmallBlob = Bytes(300, 2);
const std::string kMemo = "memo \xE9 text " + std::string(5000, 'm');  // ANSI, compressed

// A file with table T (every kind of field, three rows) and an empty table E.
std::string MakeDatabase(const std::string& password = "") {
  const std::string path = TempPath("db.abs");
  TEdbFormatWriter w;
  TEdbBlobStoreWriter blobs;
  TEdbPassword pw;
  pw.Text = password;
  w.CreateDatabase(path, pw);
  w.SetBlobStore(&blobs);
  auto& t = w.CreateTable(
      "T",
      {EdbMakeFieldDef("ID", aftAutoinc), EdbMakeFieldDef("S", aftString, 20),
       EdbMakeFieldDef("W", aftWideString, 10), EdbMakeFieldDef("I16", aftSmallInt),
       EdbMakeFieldDef("B", aftByte), EdbMakeFieldDef("C", aftCardinal),
       EdbMakeFieldDef("L", aftLargeInt), EdbMakeFieldDef("F", aftFloat),
       EdbMakeFieldDef("X", aftExtended), EdbMakeFieldDef("Bo", aftLogical),
       EdbMakeFieldDef("Cu", aftCurrency), EdbMakeFieldDef("D", aftDate),
       EdbMakeFieldDef("T", aftTime), EdbMakeFieldDef("DT", aftDateTime),
       BlobDef("M", aftMemo, 1, 6), BlobDef("BL", aftBlob, 0, 0), BlobDef("BZ", aftBlob, 2, 9)},
      {"S"});
  auto r = t.NewRecord();
  r.SetAnsiString(kS,
                  "Gr\xFC\xDF"
                  "e");
  r.SetWideString(kW, u"\u0416uk");
  r.SetInt(kI16, -5);
  r.SetInt(kB, 200);
  r.SetInt(kC, 4000000000LL);
  r.SetInt(kL, -9000000000000000LL);
  r.SetDouble(kF, 2.5);
  r.SetDouble(kX, -2.5);
  r.SetBool(kBo, true);
  r.SetDouble(kCu, 12.34);
  r.SetDate(kD, 739958);
  r.SetTime(kT, 3600000);
  r.SetDateTime(kDt, 693593, -21600000);
  r.SetBlob(kM, kMemo);
  r.SetBlob(kBl, kLargeBlob);
  r.SetBlob(kBz, kSmallBlob);
  t.Insert(r);
  auto r2 = t.NewRecord();  // all NULL; an empty text and an empty BLOB are stored as NULL
  r2.SetAnsiString(kS, "");
  r2.SetBlob(kBl, "");
  t.Insert(r2);
  auto r3 = t.NewRecord();  // a stored text whose first byte is zero: empty, not null
  std::memset(r3.FieldBytes(kS), 0, 21);
  r3.SetBlob(kBz, "x");
  t.Insert(r3);
  w.CreateTable("E", {EdbMakeFieldDef("Id", aftAutoinc), EdbMakeFieldDef("V", aftString, 5)});
  w.Close();
  return path;
}

struct Fixture : ::testing::Test {
  static std::string path;
  static void SetUpTestSuite() { path = MakeDatabase(); }
  static void TearDownTestSuite() { fs::remove(path); }
};
std::string Fixture::path;

using EdbMainDatabase = Fixture;
using EdbMainTable = Fixture;

template <class F>
int CodeOf(F f) {
  try {
    f();
  } catch (const EEdbException& e) {
    return e.NativeError();
  }
  return 0;
}

template <class F>
std::string ComponentError(F f) {
  try {
    f();
  } catch (const EEdbComponentError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("other: ") + e.what();
  }
  return "";
}

}  // namespace

TEST_F(EdbMainDatabase, DefaultsAndComponentErrors) {
  TEdbDatabase db;
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(db.ReadOnly());
  EXPECT_FALSE(db.Exclusive());
  EXPECT_FALSE(db.MultiUser());
  EXPECT_EQ(db.MaxConnections(), 500);
  EXPECT_TRUE(db.KeepConnection());
  EXPECT_FALSE(db.SilentMode());
  EXPECT_EQ(db.PageSize(), 4096);
  EXPECT_EQ(ComponentError([&] { db.Open(); }), "Database name missing");
  db.SetDatabaseName("OpenTest");
  db.SetDatabaseFileName(path + ".missing");
  EXPECT_EQ(ComponentError([&] { db.Open(); }),
            "Database file '" + path + ".missing' does not exist");
  EXPECT_FALSE(db.Connected());

  TEdbDatabase other;
  EXPECT_EQ(ComponentError([&] { other.SetDatabaseName("opentest"); }),
            "Duplicate database name 'opentest'");
}

TEST_F(EdbMainDatabase, NameAndFileChangesWhileOpen) {
  TEdbDatabase db;
  db.SetDatabaseName("Chg");
  db.SetDatabaseFileName(path);
  db.Open();
  ASSERT_TRUE(db.Connected());
  EXPECT_EQ(db.GetTableNames(), (std::vector<std::string>{"T", "E"}));
  EXPECT_EQ(ComponentError([&] { db.SetDatabaseName("Other"); }),
            "Cannot perform this operation on an open database");
  EXPECT_TRUE(db.Connected());
  db.SetDatabaseName("Chg");  // the current value: nothing happens
  db.SetDatabaseFileName(path);
  EXPECT_TRUE(db.Connected());
  db.SetDatabaseFileName(path + ".2");  // a new file closes the database
  EXPECT_FALSE(db.Connected());
  db.Close();  // closing twice does nothing
}

TEST_F(EdbMainTable, EveryFieldKindConverts) {
  TEdbDatabase db;
  db.SetDatabaseName("Kinds");
  db.SetDatabaseFileName(path);
  db.Open();
  TEdbTable t;
  t.SetDatabaseName("KINDS");  // aliases compare case-insensitively
  t.SetTableName("t");
  t.Open();
  EXPECT_EQ(t.RecordCount(), 3);
  ASSERT_FALSE(t.Eof());
  EXPECT_EQ(t.FieldCount(), kFieldCount);

  auto v = [&](int i) { return t.Fields(i).AsVariant(); };
  EXPECT_EQ(v(kId).AsInteger(), 1);
  EXPECT_EQ(v(kS).AsText(),
            "Gr\xC3\xBC\xC3\x9F"
            "e");
  EXPECT_EQ(v(kW).AsText(), "\xD0\x96uk");
  EXPECT_EQ(v(kI16).AsInteger(), -5);
  EXPECT_EQ(v(kB).AsInteger(), 200);
  EXPECT_EQ(v(kC).AsInteger(), 4000000000LL);
  EXPECT_EQ(v(kL).AsInteger(), -9000000000000000LL);
  EXPECT_EQ(v(kF).AsDouble(), 2.5);
  EXPECT_EQ(v(kX).AsDouble(), -2.5);
  EXPECT_TRUE(v(kBo).AsBoolean());
  EXPECT_EQ(v(kCu).AsDouble(), 12.34);
  EXPECT_EQ(v(kD).ToString(), "2026-12-08");
  EXPECT_EQ(v(kT).ToString(), "01:00:00.000");
  EXPECT_EQ(v(kDt).ToString(), "1899-12-29T06:00:00.000");
  EXPECT_EQ(v(kDt).AsDateTime(), -1.25);
  EXPECT_EQ(v(kM).AsText(), "memo \xC3\xA9 text " + std::string(5000, 'm'));
  const auto bl = v(kBl).AsBytes();
  EXPECT_EQ(std::string(bl.begin(), bl.end()), kLargeBlob);
  const auto bz = v(kBz).AsBytes();
  EXPECT_EQ(std::string(bz.begin(), bz.end()), kSmallBlob);

  t.Next();
  ASSERT_FALSE(t.Eof());
  EXPECT_EQ(v(kId).AsInteger(), 2);
  for (int i = kS; i < kFieldCount; ++i) {
    EXPECT_TRUE(v(i).IsNull()) << i;
    EXPECT_TRUE(t.Fields(i).IsNull()) << i;
  }
  t.Next();
  ASSERT_FALSE(t.Eof());
  EXPECT_EQ(v(kS).Type(), TEdbVarType::Text);
  EXPECT_EQ(v(kS).AsText(), "");
  EXPECT_EQ(v(kBz).AsBytes(), std::vector<uint8_t>{'x'});
  t.Next();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(v(kId).AsInteger(), 3);  // the last record stays current
  t.Next();
  EXPECT_TRUE(t.Eof());
  // Closing the database closes its table first.
  db.Close();
  EXPECT_FALSE(t.Active());
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST_F(EdbMainTable, LookupEmptyTableAndReopen) {
  TEdbDatabase db;
  db.SetDatabaseName("Lookup");
  db.SetDatabaseFileName(path);
  db.Open();
  TEdbTable t;
  EXPECT_EQ(ComponentError([&] { t.Open(); }), "DatabaseName property is blank");
  t.SetDatabaseName("Lookup");
  t.SetTableName("Missing");
  EXPECT_EQ(CodeOf([&] { t.Open(); }), errc::kTableNotFound);
  EXPECT_FALSE(t.Active());
  EXPECT_TRUE(db.Connected());

  t.SetTableName("T");
  t.Open();
  EXPECT_EQ(t.FieldDefs().IndexOf("dt"), kDt);
  EXPECT_EQ(t.FieldDefs().IndexOf("nope"), -1);
  EXPECT_EQ(&t.FieldByName("bo"), &t.Fields(kBo));
  EXPECT_EQ(ComponentError([&] { t.FieldByName("nope"); }), "Field 'nope' not found");
  EXPECT_TRUE(t.FieldDefs()[kS].Required);
  EXPECT_FALSE(t.FieldDefs()[kId].Required);
  EXPECT_EQ(t.FieldDefs()[kS].Size, 20);
  EXPECT_EQ(t.FieldDefs()[kDt].Kind, TEdbValueKind::DateTime);
  EXPECT_STREQ(t.FieldDefs()[kDt].SqlTypeName(), "DATETIME");
  EXPECT_EQ(ComponentError([&] { t.SetTableName("E"); }),
            "Cannot perform this operation on an open dataset");
  t.Close();

  // Reopened with another table: the empty one is at Eof at once.
  t.SetTableName("E");
  t.Open();
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_TRUE(t.FieldByName("V").AsVariant().IsNull());
  t.Next();
  EXPECT_TRUE(t.Eof());
  t.Close();
  EXPECT_TRUE(db.Connected());  // KeepConnection: the file stays open

  db.SetKeepConnection(false);
  t.Open();
  t.Close();
  EXPECT_FALSE(db.Connected());
}

TEST(EdbMainPassword, AskedThroughTheHandler) {
  const std::string path = MakeDatabase("s3cret");
  {
    TEdbDatabase db;
    db.SetDatabaseName("Pw");
    db.SetDatabaseFileName(path);
    EXPECT_EQ(CodeOf([&] { db.Open(); }), errc::kIncorrectPassword);
    int asked = 0;
    db.OnPassword = [&](TEdbDatabase&, std::string& pw) {
      ++asked;
      if (asked == 1) {
        pw = "wrong";
        return true;
      }
      if (asked == 2) {
        pw = "s3cret";
        return true;
      }
      return false;
    };
    db.Open();
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(db.Connected());
    TEdbTable t;
    t.SetDatabaseName("Pw");
    t.SetTableName("T");
    t.Open();
    EXPECT_EQ(t.FieldByName("S").AsVariant().AsText(),
              "Gr\xC3\xBC\xC3\x9F"
              "e");
    EXPECT_EQ(t.FieldByName("BL").AsVariant().AsBytes().size(), kLargeBlob.size());

    // The same file under another password in this process.
    TEdbDatabase second;
    second.SetDatabaseName("Pw2");
    second.SetDatabaseFileName(path);
    second.SetPassword("other");
    EXPECT_EQ(CodeOf([&] { second.Open(); }), errc::kInvalidDatabasePassword);
  }
  {
    TEdbDatabase db;
    db.SetDatabaseName("PwGiveUp");
    db.SetDatabaseFileName(path);
    db.OnPassword = [](TEdbDatabase&, std::string&) { return false; };
    EXPECT_EQ(CodeOf([&] { db.Open(); }), errc::kIncorrectPassword);
    EXPECT_FALSE(db.Connected());
  }
  fs::remove(path);
}

TEST(EdbMainRepair, FileNotClosedCorrectlyOpensUnchanged) {
  const std::string path = MakeDatabase();
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(42);
    f.put(char(1));  // header state: not closed correctly
  }
  const auto before = fs::file_size(path);
  {
    TEdbDatabase db;
    db.SetDatabaseName("Repair");
    db.SetDatabaseFileName(path);
    db.SetSilentMode(true);
    bool asked = false;
    db.OnNeedRepair = [&](TEdbDatabase&) {
      asked = true;
      return true;
    };
    db.Open();  // silent: never asked
    EXPECT_FALSE(asked);
    EXPECT_TRUE(db.NeedsRepair());
    db.Close();
    db.SetSilentMode(false);
    db.OnNeedRepair = [&](TEdbDatabase&) {
      asked = true;
      return false;
    };
    db.Open();  // the No answer: opened unchanged
    EXPECT_TRUE(asked);
    TEdbTable t;
    t.SetDatabaseName("Repair");
    t.SetTableName("T");
    t.Open();
    EXPECT_EQ(t.RecordCount(), 3);
    db.Close();
    // A Yes answer asks for a repair this reader cannot make.
    db.OnNeedRepair = [&](TEdbDatabase&) { return true; };
    EXPECT_EQ(CodeOf([&] { db.Open(); }), errc::kCannotConvertDatabase);
    EXPECT_FALSE(db.Connected());
  }
  EXPECT_EQ(fs::file_size(path), before);
  std::ifstream f(path, std::ios::binary);
  f.seekg(42);
  EXPECT_EQ(f.get(), 1);
  f.close();
  fs::remove(path);
}

// Seeds for fuzz/fuzz_blob_read: written only when MRV_BLOB_FUZZ_SEEDS names a folder.
TEST(EdbMainSeeds, WriteBlobFuzzSeedsWhenAsked) {
  const char* dir = std::getenv("MRV_BLOB_FUZZ_SEEDS");
  if (!dir || !*dir) GTEST_SKIP() << "MRV_BLOB_FUZZ_SEEDS not set";
  fs::create_directories(dir);
  const std::string plain = MakeDatabase();
  fs::copy_file(plain, fs::path(dir) / "all_kinds.abs", fs::copy_options::overwrite_existing);
  fs::remove(plain);
  const std::string enc = MakeDatabase("pw");
  fs::copy_file(enc, fs::path(dir) / "all_kinds_encrypted.abs",
                fs::copy_options::overwrite_existing);
  fs::remove(enc);
}
