// The question about rows already in a target (its answers, its text, and the built tool asking
// it whenever standard input is a terminal, with the output going to a file), and the
// connection string taken from a file or from MRV_TARGET.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifndef _WIN32
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

#include "Ado.h"
#include "ToolProcess.h"
#include "ToolQuestion.h"
#include "ToolSample.h"

namespace fs = std::filesystem;
using mrvtool::ParseExistingRowsAnswer;

TEST(ExistingRowsQuestion, AnswersInAnyCaseAndWholeWords) {
  EXPECT_EQ(ParseExistingRowsAnswer("d"), mrv::taDelete);
  EXPECT_EQ(ParseExistingRowsAnswer("DELETE"), mrv::taDelete);
  EXPECT_EQ(ParseExistingRowsAnswer(" Keep \r"), mrv::taKeep);
  EXPECT_EQ(ParseExistingRowsAnswer("K"), mrv::taKeep);
  EXPECT_EQ(ParseExistingRowsAnswer("Cancel"), mrv::taCancel);
  for (const char* other : {"", "x", "ke", "keeps", "delete it", "yes"})
    EXPECT_FALSE(ParseExistingRowsAnswer(other).has_value()) << other;
  EXPECT_EQ(mrvtool::ExistingRowsQuestion(mrv::dkGrey, 1234567),
            "The target Greylisting database already holds 1,234,567 rows. [d]elete them, [k]eep "
            "them or [c]ancel the conversion? ");
  EXPECT_NE(mrvtool::ExistingRowsQuestion(mrv::dkDha, 1).find("holds 1 row. [d]elete it,"),
            std::string::npos);
}

namespace {

class TargetSourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = mrvtool::test::FreshTestFolder("mrvquestion_");
    mrvtool::TSampleOptions opts;
    opts.Rows = 40;
    mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);
    const mrvtool::test::TToolResult r =
        mrvtool::test::RunTool("convert " + Honeypot() + " --target \"" + Target() +
                                   ";Create=yes\" --no-service --create-schema",
                               dir_);
    ASSERT_EQ(r.Exit, 0) << r.Out << r.Err;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Target() const { return "Provider=SQLite;Data Source=" + (dir_ / "ext.db").string(); }
  std::string Honeypot() const {
    return "--honeypot \"" + (dir_ / "src" / "honeypot.abs").string() + "\"";
  }
  std::int64_t Rows() const {
    ado::Connection c;
    c.SetConnectionString(Target());
    c.Open();
    ado::Command cmd;
    cmd.SetActiveConnection(c);
    cmd.SetCommandText("SELECT COUNT(*) FROM HoneypotBlacklist");
    return cmd.Execute().Fields(0).Value().AsInt64();
  }
  fs::path dir_;
};

}  // namespace

TEST_F(TargetSourcesTest, ConnectionStringFromFileOrEnvironment) {
  std::ofstream(dir_ / "target.txt") << Target() << "\r\n";
  mrvtool::test::TToolResult r = mrvtool::test::RunTool(
      "verify " + Honeypot() + " --target-file \"" + (dir_ / "target.txt").string() + "\"", dir_);
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  r = mrvtool::test::RunTool(
      "convert " + Honeypot() + " --target-file \"" + (dir_ / "none.txt").string() + "\" --dry-run",
      dir_);
  EXPECT_EQ(r.Exit, 1);
  EXPECT_NE(r.Err.find("Cannot read the file"), std::string::npos) << r.Err;
#ifndef _WIN32
  setenv("MRV_TARGET", Target().c_str(), 1);
  r = mrvtool::test::RunTool("convert " + Honeypot() + " --no-service --dry-run --existing keep",
                             dir_);
  unsetenv("MRV_TARGET");
  EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("keep 40, insert 40"), std::string::npos) << r.Out;
#endif
}

#ifndef _WIN32
// Standard input a terminal, standard output a file: the question is asked on standard error
// and the answer, typed in capitals, is taken.
TEST_F(TargetSourcesTest, AskedOnATerminalWhateverTheOutputIs) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  const std::string out = (dir_ / "out.txt").string(), err = (dir_ / "err.txt").string();
  std::vector<std::string> args = {
      MRVDBTOOL_EXE, "convert", "--honeypot",  (dir_ / "src" / "honeypot.abs").string(),
      "--target",    Target(),  "--no-service"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, slave.c_str(), O_RDWR | O_NOCTTY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&fa);
  const char answer[] = "KEEP\n";  // waits in the terminal's input until the question reads it
  ASSERT_EQ(write(master, answer, sizeof answer - 1), static_cast<ssize_t>(sizeof answer - 1));
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << mrvtool::test::ReadToolOutput(out) << mrvtool::test::ReadToolOutput(err);
  EXPECT_NE(mrvtool::test::ReadToolOutput(err).find("The target Honeypot database already holds 40 "
                                                    "rows. [d]elete them, [k]eep them or [c]ancel"),
            std::string::npos)
      << mrvtool::test::ReadToolOutput(err);
  EXPECT_EQ(Rows(), 80);
}
#endif
