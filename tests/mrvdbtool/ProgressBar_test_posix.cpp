// The whole-run progress bar: its stages, share and table name as the run's status lines and
// progress move it, and the built mrvdbtool drawing it on standard error when that is a
// terminal (standard output a file stays a clean log), not with --progress=never or --quiet.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "ProcessRun.h"
#include "ToolProcess.h"
#include "ToolProgressBar.h"
#include "ToolSample.h"

namespace {

TEST(ProgressBarTest, OneBarAcrossTheStagesOfEveryDatabase) {
  std::FILE* out = std::tmpfile();
  mrvtool::TProgressBar bar(out, 2);  // two databases: two copies, two conversions
  bar.Status("Database conversion started.", 0);
  EXPECT_EQ(bar.Stage(), 0);
  bar.Status("Creating temporary copy of the Honeypot database...", 0);
  bar.Status("Creating temporary copy of the Greylisting database...", 0);
  EXPECT_EQ(bar.Stage(), 2);
  bar.Status("Clearing the Honeypot database...", 0);
  bar.Status("Clearing the Honeypot database...", 0);  // repeated per table: one stage
  EXPECT_EQ(bar.Stages(), 5) << "a clearing stage is added when it begins";
  EXPECT_EQ(bar.Stage(), 3);
  bar.Status("Converting the Honeypot database...", 1000);
  bar.Progress(500, 1000, "HoneypotBlacklist", 2000);
  EXPECT_DOUBLE_EQ(bar.Overall(), 3.5 / 5);
  const std::string line = bar.Line(2000);
  EXPECT_NE(line.find(" 70%  stage 4 of 5  converting Honeypot / HoneypotBlacklist  500 rows/s"),
            std::string::npos)
      << line;
  EXPECT_NE(line.find("remaining 0:01"), std::string::npos) << line;
  bar.Progress(3000, 1000, "DhaBlacklist", 2000);  // counted across tables: held to the stage
  EXPECT_DOUBLE_EQ(bar.Overall(), 4.0 / 5);
  std::fclose(out);
}

// Runs convert on the samples with standard error a pseudo terminal and standard output a
// file; answers stdout and what reached the terminal.
struct TPtyRun {
  int Exit = -1;
  std::string Out, Terminal;
};

TPtyRun RunOnTerminal(const std::filesystem::path& dir, const std::vector<std::string>& extra) {
  TPtyRun r;
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  grantpt(master);
  unlockpt(master);
  const std::string slave = ptsname(master);
  const std::string out = (dir / "out.txt").string();
  const std::filesystem::path src = dir / "src";
  std::vector<std::string> args = {
      MRVDBTOOL_EXE,  "convert",
      "--no-service", "--create-schema",
      "--existing",   "delete",
      "--target",     "Provider=SQLite;Data Source=" + (dir / "ext.db").string() + ";Create=yes"};
  for (const char* k : {"aswl", "greylist", "dha", "honeypot"})
    args.insert(args.end(), {std::string("--") + k, (src / (std::string(k) + ".abs")).string()});
  args.insert(args.end(), extra.begin(), extra.end());
  const pid_t pid = testsupport::SpawnProgram(args, out, slave);
  EXPECT_GT(pid, 0);
  // Read the terminal until the tool has closed its side (EIO), so that it never blocks.
  char buf[4096];
  for (;;) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n > 0)
      r.Terminal.append(buf, static_cast<size_t>(n));
    else if (n < 0 && errno == EINTR)
      continue;
    else
      break;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(master);
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.Out = mrvtool::test::ReadToolOutput(out);
  return r;
}

TEST(ProgressBarTest, DrawnOnStandardErrorWhenItIsATerminal) {
  const std::filesystem::path dir = mrvtool::test::FreshTestFolder("mrvbar_");
  mrvtool::TSampleOptions opts;
  opts.Rows = 1500;
  mrvtool::WriteSampleDatabases((dir / "src").string(), opts);

  TPtyRun r = RunOnTerminal(dir, {});
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Terminal;
  EXPECT_EQ(r.Out.find('\r'), std::string::npos) << "no bar in the log\n" << r.Out;
  EXPECT_EQ(r.Out.find("[#"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\nConversion finished successfully.\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Terminal.find("stage 8 of 8  converting Honeypot / HoneypotBlacklist"),
            std::string::npos)
      << r.Terminal;
  EXPECT_NE(r.Terminal.find("stage 1 of 8  copying Automatic Sender Whitelist"), std::string::npos);
  EXPECT_NE(r.Terminal.find("converting DHA Protection / DhaBlacklist"), std::string::npos);
  EXPECT_NE(r.Terminal.find("100%"), std::string::npos);

  r = RunOnTerminal(dir, {"--progress=never"});
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Terminal;
  EXPECT_EQ(r.Terminal.find("stage "), std::string::npos) << r.Terminal;
  EXPECT_NE(r.Out.find("Conversion finished successfully."), std::string::npos);

  r = RunOnTerminal(dir, {"--quiet"});
  ASSERT_EQ(r.Exit, 0) << r.Out << r.Terminal;
  EXPECT_EQ(r.Terminal.find("stage "), std::string::npos) << r.Terminal;
  EXPECT_EQ(r.Out.find("Converting the"), std::string::npos) << "no status lines\n" << r.Out;
  EXPECT_NE(r.Out.find("HoneypotBlacklist"), std::string::npos) << "the summary remains\n" << r.Out;
  std::filesystem::remove_all(dir);
}

}  // namespace
