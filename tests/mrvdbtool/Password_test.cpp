// Encrypted source files through the built tool: sample --password writes them, every command
// that reads a source (tables, convert with --dry-run and --verify, verify) opens them with the
// password from --password, --password-file or MRV_SOURCE_PASSWORD, and a missing or wrong
// password ends the run with a message naming the file, leaving the target and the temporary
// folder as they were. The password never shows in any output.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "../database-converter/RunTestSupport.h"
#include "ToolProcess.h"
#include "ToolTestSupport.h"

namespace fs = std::filesystem;
using mrvtool::test::TToolResult;
using tooltest::Count;

namespace {

const char* const kPassword = "Sesam-Geheimnis-4711";
const char* const kWrong = "Wrong-Horse-0815";
const char* const kTables[] = {"ASWL", "GREY", "DhaHistory", "DhaBlacklist", "HoneypotBlacklist"};

class PasswordTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = mrvtool::test::FreshTestFolder("mrvpassword_"); }
  void TearDown() override {
    mrvtest::TPrivateTempDir::SetVariable("MRV_SOURCE_PASSWORD", nullptr);
    fs::remove_all(dir_);
  }

  // Runs the tool; no output of any run may hold either password.
  TToolResult Tool(const std::string& args) {
    TToolResult r = mrvtool::test::RunTool(args, dir_);
    for (const char* secret : {kPassword, kWrong})
      EXPECT_EQ((r.Out + r.Err).find(secret), std::string::npos) << args << "\n" << r.Out << r.Err;
    return r;
  }
  std::string Path(const char* name) const { return (dir_ / "src" / name).string(); }
  std::string Sources() const {
    return "--aswl \"" + Path("aswl.abs") + "\" --greylist \"" + Path("greylist.abs") +
           "\" --dha \"" + Path("dha.abs") + "\" --honeypot \"" + Path("honeypot.abs") + "\"";
  }
  fs::path Db() const { return dir_ / "ext.db"; }
  std::string TargetOption() const {
    return " --target \"Provider=SQLite;Data Source=" + Db().string() + ";Create=yes\"";
  }
  void WriteEncryptedSamples(int rows) {
    const TToolResult r = Tool("sample \"" + (dir_ / "src").string() + "\" --rows " +
                               std::to_string(rows) + " --password " + kPassword);
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  }
  static std::string FileText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  fs::path dir_;
};

}  // namespace

TEST_F(PasswordTest, EncryptedSamplesConvertAndVerifyWithThePassword) {
  WriteEncryptedSamples(120);

  // The inspection commands need it too.
  TToolResult r = Tool("tables \"" + Path("aswl.abs") + "\"");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("The file \"" + Path("aswl.abs") +
                       "\" is encrypted and no password was given for it."),
            std::string::npos)
      << r.Err;
  r = Tool("tables \"" + Path("aswl.abs") + "\" --password " + kPassword);
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "ASWL\n");

  // The run, checked by its own verification, with the summary as JSON.
  const fs::path json = dir_ / "summary.json";
  r = Tool("convert " + Sources() + TargetOption() + " --password " + kPassword +
           " --no-service --create-schema --existing delete --verify --summary-json \"" +
           json.string() + "\"");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Verification passed"), std::string::npos) << r.Out;
  for (const char* t : kTables) EXPECT_EQ(Count(Db(), t), 120) << t;
  EXPECT_EQ(FileText(json).find(kPassword), std::string::npos);
  EXPECT_NE(FileText(json).find("\"outcome\":\"success\""), std::string::npos);

  // The decrypted rows are the rows of the same sample written without a password.
  const fs::path plain = dir_ / "plain";
  ASSERT_EQ(Tool("sample \"" + plain.string() + "\" --rows 120").Exit, 0);
  r = Tool("verify --aswl \"" + (plain / "aswl.abs").string() + "\" --greylist \"" +
           (plain / "greylist.abs").string() + "\" --dha \"" + (plain / "dha.abs").string() +
           "\" --honeypot \"" + (plain / "honeypot.abs").string() + "\"" + TargetOption());
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;

  // The password from a file (its first line; the line break is no part of it).
  std::ofstream(dir_ / "pw.txt", std::ios::binary) << kPassword << "\r\nsecond line\r\n";
  r = Tool("verify " + Sources() + TargetOption() + " --password-file \"" +
           (dir_ / "pw.txt").string() + "\"");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  std::ofstream(dir_ / "empty.txt", std::ios::binary) << "\r\n";
  r = Tool("verify " + Sources() + TargetOption() + " --password-file \"" +
           (dir_ / "empty.txt").string() + "\"");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("holds no password"), std::string::npos) << r.Err;

  // ... and from the environment, for which --password and --password-file take precedence.
  mrvtest::TPrivateTempDir::SetVariable("MRV_SOURCE_PASSWORD", kPassword);
  r = Tool("convert " + Sources() + TargetOption() + " --no-service --existing keep --dry-run");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("A real run would start."), std::string::npos) << r.Out;
  r = Tool("dump \"" + Path("honeypot.abs") + "\" HoneypotBlacklist --format csv");
  EXPECT_EQ(r.Exit, 0) << r.Err;
  r = Tool("verify " + Sources() + TargetOption() + " --password " + kWrong);
  EXPECT_EQ(r.Exit, 1) << r.Out;
  mrvtest::TPrivateTempDir::SetVariable("MRV_SOURCE_PASSWORD", kWrong);
  r = Tool("verify " + Sources() + TargetOption() + " --password-file \"" +
           (dir_ / "pw.txt").string() + "\"");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
}

TEST_F(PasswordTest, MissingOrWrongPasswordEndsTheRunBeforeAnythingChanges) {
  WriteEncryptedSamples(50);
  TToolResult r = Tool("convert " + Sources() + TargetOption() + " --password " + kPassword +
                       " --no-service --create-schema --existing delete");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;

  mrvtest::TPrivateTempDir temp;  // the tool inherits it as its temporary folder
  const std::string noPassword =
      "Could not open the source Automatic Sender Whitelist database.\nThe file \"" +
      Path("aswl.abs") + "\" is encrypted and no password was given for it.";
  const std::string wrongPassword =
      "Could not open the source Automatic Sender Whitelist database.\nThe password "
      "given for the encrypted file \"" +
      Path("aswl.abs") + "\" is wrong.";
  for (const std::string& password : {std::string(), std::string(" --password ") + kWrong}) {
    const std::string& message = password.empty() ? noPassword : wrongPassword;
    r = Tool("convert " + Sources() + TargetOption() + password +
             " --no-service --existing keep --verify");
    EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
    EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("Conversion was aborted due to an error."), std::string::npos) << r.Out;
    for (const char* t : kTables) EXPECT_EQ(Count(Db(), t), 50) << t << ": nothing inserted";
    EXPECT_TRUE(fs::is_empty(temp.Path())) << "the temporary copies are removed";

    r = Tool("convert " + Sources() + TargetOption() + password +
             " --no-service --existing keep --dry-run");
    EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
    EXPECT_NE(r.Out.find("Problem: " + message), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("A real run would not start (4 problems)."), std::string::npos) << r.Out;

    r = Tool("verify " + Sources() + TargetOption() + password);
    EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
    EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
  }
  // A password for files that have none is not needed, and does no harm.
  ASSERT_EQ(Tool("sample \"" + (dir_ / "plain").string() + "\" --rows 5").Exit, 0);
  r = Tool("tables \"" + (dir_ / "plain" / "dha.abs").string() + "\" --password " + kWrong);
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(r.Out, "DhaHistory\nDhaBlacklist\n");
}
