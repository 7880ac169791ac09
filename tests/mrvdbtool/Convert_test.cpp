// mrvdbtool convert and test-connection, run as the built executable: sample databases into a
// real SQLite file, the answers for a target that holds data without a terminal, missing
// target tables, passwords kept out of the output, settings from an installation folder, and
// Ctrl+C cancelling a run; the summary of what each run did, on stdout and as JSON.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#endif

#include "EdbFormatWriter.h"
#include "ProcessRun.h"
#include "ToolSample.h"
#include "ToolTestSupport.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int Exit = -1;
  std::string Out, Err;
};

// The tool's output with CR LF line ends made LF (Windows text-mode streams add CRs); a lone CR,
// as a progress bar would write, stays.
std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    size_t j = i;
    while (j < text.size() && text[j] == '\r') ++j;
    if (j > i && j < text.size() && text[j] == '\n') i = j;  // drop the CRs before a line end
    out.push_back(text[i]);
  }
  return out;
}

using tooltest::Count;

// The summary's counts for `table`: source rows, rows before, deleted, inserted, rows after.
std::vector<std::string> SummaryCounts(const std::string& out, const std::string& table) {
  const size_t head = out.find("\nDatabase ");
  if (head == std::string::npos) return {};
  const size_t row = out.find(" " + table + " ", head);
  if (row == std::string::npos) return {};
  std::istringstream line(out.substr(row, out.find('\n', row) - row));
  std::string name;
  std::vector<std::string> counts(5);
  line >> name;
  for (std::string& c : counts) line >> c;
  return counts;
}
using Counts = std::vector<std::string>;

class ConvertCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        fs::temp_directory_path() /
        (std::string("mrvcli_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  Result Run(const std::string& args) {
    const fs::path out = dir_ / "out.txt", err = dir_ / "err.txt";
    Result r;
    r.Exit = testsupport::RunProgram(MRVDBTOOL_EXE, args, {}, out, err);
    r.Out = ReadFile(out);
    r.Err = ReadFile(err);
    return r;
  }
  std::string Target() const {
    return "Provider=SQLite;Data Source=" + (dir_ / "ext.db").string() + ";Create=yes";
  }
  std::string Sources() const {
    const fs::path s = dir_ / "src";
    return "--aswl \"" + (s / "aswl.abs").string() + "\" --greylist \"" +
           (s / "greylist.abs").string() + "\" --dha \"" + (s / "dha.abs").string() +
           "\" --honeypot \"" + (s / "honeypot.abs").string() + "\"";
  }

  fs::path dir_;
};

}  // namespace

TEST_F(ConvertCommandTest, SampleDatabasesIntoSqliteAndTheAnswersForExistingRows) {
  mrvtool::TSampleOptions opts;
  opts.Rows = 1500;
  mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);
  const std::string base = "convert " + Sources() + " --target \"" + Target() + "\" --no-service";

  Result r = Run(base + " --create-schema");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Conversion finished successfully."), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find('\r'), std::string::npos) << "plain lines on a pipe, no progress bar";
  EXPECT_EQ(SummaryCounts(r.Out, "DhaBlacklist"), (Counts{"1500", "0", "0", "1500", "1500"}))
      << r.Out;
  for (const char* t : {"ASWL", "GREY", "DhaHistory", "DhaBlacklist", "HoneypotBlacklist"})
    EXPECT_EQ(Count(dir_ / "ext.db", t), 1500) << t;

  // No terminal and no --existing: the run stops with a clear message, nothing is touched.
  r = Run(base);
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("The target Automatic Sender Whitelist database is not empty and there is "
                       "no terminal"),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(Count(dir_ / "ext.db", "ASWL"), 1500);

  const fs::path json = dir_ / "summary.json";
  r = Run(base + " --existing cancel --summary-json \"" + json.string() + "\"");
  EXPECT_EQ(r.Exit, 3) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("Conversion cancelled."), std::string::npos);
  EXPECT_EQ(SummaryCounts(r.Out, "ASWL"), (Counts{"-", "1500", "0", "0", "1500"})) << r.Out;
  EXPECT_NE(r.Out.find("\nThe targets are unchanged: nothing was deleted or inserted; run the same "
                       "command again when ready.\n"),
            std::string::npos)
      << r.Out;
  std::string text = ReadFile(json);
  EXPECT_EQ(text.rfind("{\"outcome\":\"cancelled\",\"exitCode\":3,\"tables\":[{\"database\":"
                       "\"Automatic Sender Whitelist\",\"table\":\"ASWL\",\"sourceRows\":null,"
                       "\"rowsBefore\":1500,\"deleted\":0,\"inserted\":0,\"rowsAfter\":1500,",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find(",\"targetNow\":\"The targets are unchanged"), std::string::npos) << text;

  r = Run("convert --honeypot \"" + (dir_ / "src" / "honeypot.abs").string() + "\" --target \"" +
          Target() + "\" --no-service --existing keep --summary-json \"" + json.string() + "\"");
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_EQ(Count(dir_ / "ext.db", "HoneypotBlacklist"), 3000);
  EXPECT_EQ(SummaryCounts(r.Out, "HoneypotBlacklist"),
            (Counts{"1500", "1500", "0", "1500", "3000"}))
      << r.Out;
  EXPECT_EQ(r.Out.find("The targets "), std::string::npos) << "no advice after success\n" << r.Out;
  text = ReadFile(json);
  EXPECT_EQ(
      text.rfind("{\"outcome\":\"success\",\"exitCode\":0,\"tables\":[{\"database\":\"Honeypot\","
                 "\"table\":\"HoneypotBlacklist\",\"sourceRows\":1500,\"rowsBefore\":1500,"
                 "\"deleted\":0,\"inserted\":1500,\"rowsAfter\":3000,\"seconds\":",
                 0),
      0u)
      << text;
  EXPECT_EQ(text.find("targetNow"), std::string::npos) << text;

  r = Run(base + " --existing delete");
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_NE(r.Out.find("Finished clearing the Honeypot database."), std::string::npos);
  EXPECT_EQ(Count(dir_ / "ext.db", "HoneypotBlacklist"), 1500);
  EXPECT_EQ(SummaryCounts(r.Out, "HoneypotBlacklist"),
            (Counts{"1500", "3000", "3000", "1500", "1500"}))
      << r.Out;
  EXPECT_EQ(SummaryCounts(r.Out, "DhaHistory"), (Counts{"1500", "1500", "1500", "1500", "1500"}))
      << r.Out;
}

TEST_F(ConvertCommandTest, MissingTablesSecretsAndInstallFolder) {
  mrvtool::TSampleOptions opts;
  opts.Rows = 20;
  mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);

  // Without --create-schema a fresh target has no tables.
  Result r = Run("convert --aswl \"" + (dir_ / "src" / "aswl.abs").string() + "\" --target \"" +
                 Target() + "\" --no-service");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Err.rfind("The Automatic Sender Whitelist (ASWL) table was not found in the target "
                        "External Database.",
                        0),
            0u)
      << r.Err;

  // A password in the connection string appears nowhere.
  r = Run("convert --aswl \"" + (dir_ / "src" / "aswl.abs").string() +
          "\" --target \"Driver={No Such Driver};Server=x;Uid=sa;Pwd=TopSecret77\" --no-service");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Could not connect to the target Automatic Sender Whitelist database."),
            std::string::npos);
  EXPECT_EQ((r.Out + r.Err).find("TopSecret77"), std::string::npos) << r.Out << r.Err;
  r = Run("test-connection \"Driver={No Such Driver};Pwd=TopSecret77\"");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Err.rfind("Test failed, could not connect to the database.\nError message: ", 0), 0u)
      << r.Err;
  EXPECT_EQ((r.Out + r.Err).find("TopSecret77"), std::string::npos) << r.Err;
  r = Run("test-connection \"" + Target() + "\"");
  EXPECT_EQ(r.Exit, 0);
  EXPECT_EQ(r.Out, "Connection test was successful.\n");

  // Files and connection strings from the product's configuration file.
  std::ofstream(dir_ / "mrvent.ini")
      << "[GreylistingDatabase]\r\nEmbeddedPath=" << (dir_ / "src").string()
      << "\r\nExternalConnectionString=" << Target() << "\r\n";
  r = Run("convert --install-folder \"" + dir_.string() + "\" --no-service --create-schema");
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_EQ(Count(dir_ / "ext.db", "GREY"), 20);
  EXPECT_EQ(r.Out.find("Automatic Sender Whitelist"), std::string::npos)
      << "only what is configured";
}

TEST_F(ConvertCommandTest, SampleNeverReplacesFilesWithoutForce) {
  fs::create_directories(dir_ / "data");
  std::ofstream(dir_ / "data" / "dha.abs") << "the real database";
  Result r = Run("sample \"" + (dir_ / "data").string() + "\" --rows 5");
  EXPECT_EQ(r.Exit, 1);
  EXPECT_EQ(r.Out, "");
  EXPECT_NE(r.Err.find("dha.abs already exists; nothing was written.\nRun again with --force to "
                       "replace the files."),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(ReadFile(dir_ / "data" / "dha.abs"), "the real database");
  EXPECT_FALSE(fs::exists(dir_ / "data" / "aswl.abs")) << "nothing written before the check";

  r = Run("sample \"" + (dir_ / "data").string() + "\" --rows 5 --force");
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_NE(ReadFile(dir_ / "data" / "dha.abs"), "the real database");
  for (const char* f : {"aswl.abs", "greylist.abs", "honeypot.abs"})
    EXPECT_TRUE(fs::exists(dir_ / "data" / f)) << f;
}

TEST_F(ConvertCommandTest, BytesFromAFileNeverReachTheTerminalRaw) {
  // A "database" that begins with escape sequences: clear the screen, retitle the window.
  std::string bytes =
      "\x1b[2J\x1b]0;owned\x07\x9b"
      "31m";
  bytes.resize(4096, '\0');
  std::ofstream(dir_ / "evil.abs", std::ios::binary) << bytes;
  const std::string evil = (dir_ / "evil.abs").string();
  auto raw = [](const std::string& text) {
    return text.find_first_of(std::string("\x1b\x07\x9b", 3)) != std::string::npos;
  };
  for (const std::string& command :
       {"tables \"" + evil + "\"", "schema \"" + evil + "\"", "dump \"" + evil + "\" T",
        "convert --honeypot \"" + evil + "\" --target \"" + Target() +
            "\" --create-schema --no-service"}) {
    const Result r = Run(command);
    EXPECT_EQ(r.Exit, 1) << command;
    EXPECT_FALSE(raw(r.Out + r.Err)) << command << "\n" << r.Out << r.Err;
    if (command.rfind("convert", 0) != 0) {  // convert names the file instead of quoting it
      EXPECT_NE(r.Err.find("Found signature: '\\x1B[2J\\x1B]0;owned\\x07\\x9B3'"),
                std::string::npos)
          << command << "\n"
          << r.Err;
    }
  }

  // Names inside a valid file are escaped the same way.
  {
    using namespace edb;
    TEdbFormatWriter w;
    w.CreateDatabase((dir_ / "names.abs").string());
    TEdbTableWriter& t = w.CreateTable("T\x1b[2J", {EdbMakeFieldDef("F\x1b]0;x\x07", aftInteger)});
    TEdbRecordBuilder b = t.NewRecord();
    b.SetInt(0, 1);
    t.Insert(b);
    w.Close();
  }
  const Result r = Run("schema \"" + (dir_ / "names.abs").string() + "\"");
  EXPECT_EQ(r.Exit, 0) << r.Err;
  EXPECT_FALSE(raw(r.Out)) << r.Out;
  EXPECT_NE(r.Out.find("T\\x1B[2J: 1 records\n  F\\x1B]0;x\\x07\t"), std::string::npos) << r.Out;
}

#ifndef _WIN32
TEST_F(ConvertCommandTest, InterruptCancelsTheRun) {
  {
    using namespace edb;
    TEdbFormatWriter w;
    w.CreateDatabase((dir_ / "honeypot.abs").string());
    TEdbTableWriter& t =
        w.CreateTable("HoneypotBlacklist", {EdbMakeFieldDef("IpAddress", aftString, 45),
                                            EdbMakeFieldDef("LastUpdateTime", aftDateTime)});
    for (int i = 0; i < 400000; ++i) {
      TEdbRecordBuilder b = t.NewRecord();
      b.SetAnsiString(0, "10.0." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256));
      b.SetDateTime(1, 739000, i);
      t.Insert(b);
    }
    w.Close();
  }
  const fs::path out = dir_ / "out.txt";
  const std::string src = (dir_ / "honeypot.abs").string(), target = Target(), o = out.string();
  std::vector<std::string> args = {MRVDBTOOL_EXE, "convert", "--honeypot",   src,
                                   "--target",    target,    "--no-service", "--create-schema"};
  const pid_t pid = testsupport::SpawnProgram(args, o);
  ASSERT_GT(pid, 0);
  bool converting = false;
  for (int i = 0; i < 600 && !converting; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    converting = ReadFile(out).find("Converting the Honeypot database...") != std::string::npos;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGINT);
  kill(pid, SIGINT);  // the second press is ignored while the run winds down
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(converting) << ReadFile(out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3) << ReadFile(out);
  const std::string text = ReadFile(out);
  EXPECT_NE(text.find("Cancelling operation..."), std::string::npos) << text;
  EXPECT_NE(text.find("Conversion cancelled."), std::string::npos) << text;
  EXPECT_LT(Count(dir_ / "ext.db", "HoneypotBlacklist"), 400000);
  EXPECT_EQ(Count(dir_ / "ext.db", "HoneypotBlacklist") % 1000, 0) << "only whole batches stay";
}
#endif

TEST_F(ConvertCommandTest, CreateSchemaChangesTheTargetOnlyAfterEverySourcePassedItsChecks) {
  mrvtool::TSampleOptions opts;
  opts.Rows = 40;
  mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);
  const fs::path greylist = dir_ / "src" / "greylist.abs";
  const fs::path good = dir_ / "greylist.good";
  fs::copy_file(greylist, good);
  std::ofstream(greylist, std::ios::trunc) << "not a database";

  // A SQLite file that does not exist yet, named by its path alone: not created while a source
  // is refused.
  const fs::path file = dir_ / "fresh.db";
  Result r = Run("convert " + Sources() + " --target \"" + file.string() +
                 "\" --no-service --create-schema");
  EXPECT_EQ(r.Exit, 1) << r.Out << r.Err;
  EXPECT_NE(r.Err.find("Could not open the source Greylisting database."), std::string::npos)
      << r.Err;
  EXPECT_FALSE(fs::exists(file));

  // With every source sound, the file is created (also when named by a connection string).
  // (remove first: MinGW's copy_file does not overwrite even when asked to)
  fs::remove(greylist);
  fs::copy_file(good, greylist);
  for (const std::string& target :
       {file.string(), "Provider=SQLite;Data Source=" + (dir_ / "fresh2.db").string()}) {
    r = Run("convert " + Sources() + " --target \"" + target + "\" --no-service --create-schema");
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
    const fs::path made = target == file.string() ? file : dir_ / "fresh2.db";
    for (const char* t : {"ASWL", "GREY", "DhaHistory", "DhaBlacklist", "HoneypotBlacklist"})
      EXPECT_EQ(Count(made, t), 40) << t;
    EXPECT_NE(r.Out.find("Created table GREY in the target Greylisting database."),
              std::string::npos);
  }
}
