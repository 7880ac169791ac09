// Product settings discovery: the configuration-file reader and the derived paths and
// connection strings, driven through a real file in a temporary installation folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MrvConfigPeek_un.h"

namespace fs = std::filesystem;
using mrv::TMrvConfigPeek;
using mrv::TMrvIniFile;

namespace {

class ConfigPeekTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("mrvpeek_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    TMrvConfigPeek::SetInstallFolderOverride(dir_.string());
  }
  void TearDown() override {
    TMrvConfigPeek::SetInstallFolderOverride(std::nullopt);
    fs::remove_all(dir_);
  }
  void WriteIni(const std::string& text) {
    std::ofstream(dir_ / "mrvent.ini", std::ios::binary) << text;
  }
  fs::path dir_;
};

const std::string D(1, TMrvConfigPeek::PathDelimiter());

}  // namespace

TEST(MrvIniFile, ParsesLinesSectionsAndEntriesAsTheProductWritesThem) {
  // Mixed line breaks, control characters trimmed, comments, entries before any section,
  // a repeated section, values holding '=' and quotes, a line without '='.
  const std::string text =
      "Name=ignored\r\n"
      "[ First ]\r"
      "\t; comment=no\n"
      "  Key  =  a=b=c \t\r\n"
      "key=second wins not\n"
      "Quoted=\"C:\\x\"\n"
      "lonely line\n"
      "\x01[Other]\x02\r\n"
      "x = 1\n"
      "[first]\n"
      "Extra=from the second copy\n";
  TMrvIniFile ini = TMrvIniFile::Parse(text);
  EXPECT_EQ(ini.ReadString("first", "KEY"), "a=b=c");
  EXPECT_EQ(ini.ReadString("First", "Quoted"), "\"C:\\x\"");
  EXPECT_EQ(ini.ReadString("First", "comment"), "");
  EXPECT_EQ(ini.ReadString("First", "lonely line"), "");
  EXPECT_EQ(ini.ReadString("First", "Name"), "");
  EXPECT_EQ(ini.ReadString("OTHER", "x"), "1");
  EXPECT_EQ(ini.ReadString("First", "Extra"), "") << "only the first section of a name counts";
  EXPECT_EQ(ini.ReadString("Missing", "x"), "");
}

TEST(MrvConfigPeekFolder, ImagePathGivesTheFolderWithTrailingBackslash) {
  EXPECT_EQ(TMrvConfigPeek::FolderOfImagePath("C:\\Program Files\\Mrv\\svc.exe"),
            "C:\\Program Files\\Mrv\\");
  EXPECT_EQ(TMrvConfigPeek::FolderOfImagePath("\"C:\\Mrv\\svc.exe\" -service"), "\"C:\\Mrv\\");
  EXPECT_EQ(TMrvConfigPeek::FolderOfImagePath("D:svc.exe"), "D:\\");
  EXPECT_EQ(TMrvConfigPeek::FolderOfImagePath("svc.exe"), "\\");
}

TEST_F(ConfigPeekTest, DerivesFilesAndConnectionStringsPerDatabase) {
  WriteIni(
      "[GreylistingDatabase]\r\n"
      "EmbeddedPath=" +
      dir_.string() + D +
      "Data\r\n"
      "[AutoSenderWhitelistDatabase]\r\n"
      "ExternalConnectionString=\r\n"
      "[AutoSenderWhitelist]\r\n"
      "Path=" +
      D + "Old" + D +
      "\r\n"
      "[dhadatabase]\r\n"
      "   externalconnectionstring  =  Provider=SQLOLEDB;Data Source=db1   \r\n"
      "[HoneypotDatabase]\r\n"
      "EmbeddedPath=" +
      D +
      "\r\n"
      "ExternalConnectionString=\"quoted\"\r\n"
      "[HoneypotDatabase]\r\n"
      "EmbeddedPath=" +
      D + "elsewhere\r\n");
  EXPECT_EQ(TMrvConfigPeek::GetConfigFileName(), dir_.string() + D + "mrvent.ini");
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFileName(1),
            dir_.string() + D + "Data" + D + "greylist.abs");
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFileName(0), D + "Old" + D + "aswl.abs");
  EXPECT_EQ(TMrvConfigPeek::GetExternalConnectionString(0), "");
  EXPECT_EQ(TMrvConfigPeek::GetExternalConnectionString(2), "Provider=SQLOLEDB;Data Source=db1");
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFolder(2), "");
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFileName(2), "");
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFolder(3), D);
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFileName(3), D + "honeypot.abs");
  EXPECT_EQ(TMrvConfigPeek::GetExternalConnectionString(3), "\"quoted\"");
  EXPECT_THROW(TMrvConfigPeek::GetDatabaseFolder(4), std::logic_error);
}

TEST_F(ConfigPeekTest, MissingFileOrFolderGivesEmptyResultsButUnreadableFileRaises) {
  // No configuration file in the folder.
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFileName(1), "");
  EXPECT_EQ(TMrvConfigPeek::GetExternalConnectionString(1), "");
  // No installation folder at all.
  TMrvConfigPeek::SetInstallFolderOverride(std::string());
  EXPECT_EQ(TMrvConfigPeek::GetConfigFileName(), "");
  EXPECT_EQ(TMrvConfigPeek::GetDatabaseFileName(0), "");
  // A configuration "file" that exists but cannot be read.
  TMrvConfigPeek::SetInstallFolderOverride(dir_.string());
  fs::create_directories(dir_ / "mrvent.ini");
  EXPECT_THROW(TMrvConfigPeek::GetExternalConnectionString(0), std::runtime_error);
}

#ifndef _WIN32
TEST_F(ConfigPeekTest, EnvironmentVariableNamesTheInstallFolderOnPosix) {
  TMrvConfigPeek::SetInstallFolderOverride(std::nullopt);
  WriteIni("[HoneypotDatabase]\nExternalConnectionString=from env\n");
  ::setenv("MRV_INSTALL_FOLDER", dir_.c_str(), 1);
  EXPECT_EQ(TMrvConfigPeek::GetInstallFolder(), dir_.string() + "/");
  EXPECT_EQ(TMrvConfigPeek::GetExternalConnectionString(3), "from env");
  ::unsetenv("MRV_INSTALL_FOLDER");
  EXPECT_EQ(TMrvConfigPeek::GetInstallFolder(), "");
}
#endif
