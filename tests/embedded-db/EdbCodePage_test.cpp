// Windows-1252 text kept byte for byte: the five bytes the code page leaves unassigned, text that
// a code page cannot decode, and names and passwords that hold such bytes in real files.
#include <gtest/gtest.h>

#include <filesystem>

#include "EdbCodePage.h"
#include "EdbFormatWriter.h"
#include "EdbMain.h"

using namespace edb;
namespace fs = std::filesystem;

TEST(EdbCodePage, UnassignedWindows1252BytesAreTheC1ControlsBothWays) {
  const struct {
    const char* ansi;
    const char* utf8;
  } c1[] = {{"\x81", "\xC2\x81"},
            {"\x8D", "\xC2\x8D"},
            {"\x8F", "\xC2\x8F"},
            {"\x90", "\xC2\x90"},
            {"\x9D", "\xC2\x9D"}};
  for (const auto& c : c1) {
    EXPECT_EQ(EdbAnsiToUtf8(c.ansi, 1252), c.utf8);
    EXPECT_EQ(EdbUtf8ToAnsi(c.utf8, 1252), c.ansi);
  }
  // Every byte survives the round trip through UTF-8.
  std::string all;
  for (int b = 1; b < 256; ++b) all += char(b);
  const std::string utf8 = EdbAnsiToUtf8(all, 1252);
  EXPECT_EQ(utf8.find("\xEF\xBF\xBD"), std::string::npos);
  EXPECT_EQ(EdbUtf8ToAnsi(utf8, 1252), all);
}

TEST(EdbCodePage, DecodableTellsTextThatWouldNeedReplacementCharacters) {
  EXPECT_TRUE(EdbAnsiDecodable("caf\xE9 \x81\x9D", 1252));  // 1252 assigns every byte
  EXPECT_TRUE(EdbAnsiDecodable("plain", 65001));
  EXPECT_TRUE(EdbAnsiDecodable("caf\xC3\xA9 \xEF\xBF\xBD", 65001));  // a real U+FFFD is fine
  EXPECT_FALSE(EdbAnsiDecodable("caf\xE9", 65001));                  // Windows-1252 as UTF-8
  EXPECT_FALSE(EdbAnsiDecodable("\xC3", 65001));                     // cut sequence
  EXPECT_TRUE(EdbAnsiDecodable("\x93\xFA", 932));
  EXPECT_FALSE(EdbAnsiDecodable("\x93", 932));  // lead byte without its trail byte
  EXPECT_THROW(EdbAnsiDecodable("\xE9", 12345), EEdbComponentError);
}

namespace {

class EdbCodePageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::temp_directory_path() /
            (std::string("edbcp_") +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".abs");
    fs::remove(path_);
  }
  void TearDown() override { fs::remove(path_); }
  fs::path path_;
};

}  // namespace

TEST_F(EdbCodePageFile, TableNameWithAnUnassignedByteOpens) {
  {
    TEdbFormatWriter w;
    w.CreateDatabase(path_.string());
    TEdbTableWriter& t = w.CreateTable("T\x9D", {EdbMakeFieldDef("V", aftString, 10)});
    TEdbRecordBuilder r = t.NewRecord();
    r.SetAnsiString(0,
                    "a\x8F"
                    "b");
    t.Insert(r);
    w.Close();
  }
  TEdbDatabase db;
  db.SetDatabaseFileName(path_.string());
  db.SetDatabaseName("CodePageNames");
  db.SetCodePage(1252);
  db.Open();
  const std::vector<std::string> names = db.GetTableNames();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0], "T\xC2\x9D");
  TEdbTable table;
  table.SetDatabaseName("CodePageNames");
  table.SetTableName(names[0]);  // the listed name opens the table
  table.Open();
  ASSERT_FALSE(table.Eof());
  EXPECT_EQ(table.FieldByName("V").AsString(),
            "a\xC2\x8F"
            "b");
  EXPECT_EQ(table.FieldByName("V").AnsiBytes(),
            "a\x8F"
            "b");
  table.Close();
  db.Close();
}

TEST_F(EdbCodePageFile, PasswordWithAnUnassignedByteIsAccepted) {
  {
    TEdbFormatWriter w;
    TEdbPassword pw;
    pw.Text = "pw\x81x";  // the ANSI bytes the engine hashes
    w.CreateDatabase(path_.string(), pw);
    w.CreateTable("T", {EdbMakeFieldDef("V", aftString, 10)});
    w.Close();
  }
  TEdbDatabase db;
  db.SetDatabaseFileName(path_.string());
  db.SetDatabaseName("CodePagePassword");
  db.SetCodePage(1252);
  db.SetPassword("pw\xC2\x81x");  // callers hand the password over as UTF-8
  EXPECT_NO_THROW(db.Open());
  EXPECT_TRUE(db.Connected());
  db.Close();
}
