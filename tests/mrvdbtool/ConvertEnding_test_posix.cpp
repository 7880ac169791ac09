// mrvdbtool convert ended from outside, run as the built executable in a process group of its
// own with a scripted `systemctl` first on PATH (a service whose state really changes) and a
// private temporary folder: SIGTERM and SIGHUP while the copy is made, Ctrl+C sent to the whole
// process group while systemctl runs, a cancelled stop and a failed restart that leave the
// service down, Ctrl+C while the target is cleared, and standard output that cannot be written
// (a full disk, a reader that has gone away).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ToolSample.h"
#include "ToolTestSupport.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

// The service's state lives in the file "state" ("active", "inactive" or "deactivating").
// `stop` writes "stop-begun" and, while "hold-stop" exists, waits for "release" first; with
// "slow-stop" the unit stays deactivating. `start` fails when "start.err" exists.
constexpr const char* kScriptedSystemctl = R"SH(#!/bin/sh
dir=$(cd "$(dirname "$0")" && pwd)
verb=
for a in "$@"; do case "$a" in -*) ;; *) [ -z "$verb" ] && verb=$a ;; esac; done
echo "$verb" >> "$dir/calls.log"
case "$verb" in
  show)
    state=$(cat "$dir/state")
    printf 'LoadState=loaded\nActiveState=%s\nSubState=x\n' "$state" ;;
  stop)
    : > "$dir/stop-begun"
    if [ -f "$dir/hold-stop" ]; then
      while [ ! -f "$dir/release" ]; do sleep 0.05; done
    fi
    if [ -f "$dir/slow-stop" ]; then echo deactivating > "$dir/state"; else echo inactive > "$dir/state"; fi ;;
  start)
    if [ -f "$dir/start.err" ]; then echo "Job for MRVSVC.service failed." >&2; exit 1; fi
    echo active > "$dir/state" ;;
  *) ;;
esac
)SH";

std::string ReadText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

using tooltest::Count;

class ConvertEndingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("mrvend_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
    fs::create_directories(dir_ / "tmp");
    std::ofstream(dir_ / "bin" / "systemctl") << kScriptedSystemctl;
    fs::permissions(dir_ / "bin" / "systemctl", fs::perms::owner_all);
    SetState("active");
  }
  void TearDown() override {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  // The four sample databases, 10 rows per table, in src/.
  void WriteSamples() {
    mrvtool::TSampleOptions opts;
    opts.Rows = 10;
    mrvtool::WriteSampleDatabases((dir_ / "src").string(), opts);
  }
  void SetState(const std::string& s) { std::ofstream(dir_ / "bin" / "state") << s << "\n"; }
  std::string State() {
    std::string s = ReadText(dir_ / "bin" / "state");
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
  }
  void Touch(const std::string& name) { std::ofstream(dir_ / "bin" / name) << ""; }
  std::string Out() { return ReadText(dir_ / "out.txt"); }
  std::string Err() { return ReadText(dir_ / "err.txt"); }
  std::string Target() const {
    return "Provider=SQLite;Data Source=" + (dir_ / "ext.db").string() + ";Create=yes";
  }
  std::vector<std::string> TempCopies() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / "tmp")) {
      const std::string n = e.path().filename().string();
      if (n.rfind("mrv", 0) == 0 && n.size() > 7 && n.substr(n.size() - 4) == ".tmp")
        names.push_back(n);
    }
    return names;
  }

  // Starts the tool in a process group of its own, with the scripted systemctl first on PATH
  // and the private temporary folder.
  // `stdoutFd`, when given, becomes standard output instead of the file.
  void Start(std::vector<std::string> args, const std::string& stdoutPath = "", int stdoutFd = -1) {
    args.insert(args.begin(), MRVDBTOOL_EXE);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string v = *e;
      if (v.rfind("PATH=", 0) != 0 && v.rfind("TMPDIR=", 0) != 0) env.push_back(v);
    }
    const char* path = getenv("PATH");
    env.push_back("PATH=" + (dir_ / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"));
    env.push_back("TMPDIR=" + (dir_ / "tmp").string());
    std::vector<char*> envp;
    for (auto& v : env) envp.push_back(v.data());
    envp.push_back(nullptr);
    const std::string out = stdoutPath.empty() ? (dir_ / "out.txt").string() : stdoutPath;
    const std::string err = (dir_ / "err.txt").string();
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0)
      posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
    else
      posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    ASSERT_EQ(posix_spawn(&pid_, argv[0], &fa, &attr, argv.data(), envp.data()), 0);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&fa);
  }

  // Waits until `done` holds or the tool has ended (false then), at most a minute.
  template <class F>
  bool WaitUntil(F done) {
    for (int i = 0; i < 1200; ++i) {
      if (done()) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitStatus_ = status;
        return done();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  bool WaitForOutput(const std::string& text) {
    return WaitUntil([&] { return Out().find(text) != std::string::npos; });
  }
  // The tool's exit code; -1 when a signal ended it.
  int Finish() {
    if (pid_ > 0) {
      waitpid(pid_, &exitStatus_, 0);
      pid_ = -1;
    }
    return WIFEXITED(exitStatus_) ? WEXITSTATUS(exitStatus_) : -1;
  }

  fs::path dir_;
  pid_t pid_ = -1;
  int exitStatus_ = 0;
};

TEST_F(ConvertEndingTest, SigtermAndSighupDuringTheCopyRestartTheServiceAndRemoveTheCopy) {
  for (const int sig : {SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig == SIGTERM ? "SIGTERM" : "SIGHUP");
    SetState("active");
    // A named pipe as the source: the copy takes as long as this test keeps writing.
    const fs::path source = dir_ / "honeypot.abs";
    fs::remove(source);
    ASSERT_EQ(mkfifo(source.c_str(), 0600), 0);
    Start({"convert", "--honeypot", source.string(), "--target", Target(), "--create-schema"});
    const int writer = open(source.c_str(), O_WRONLY);  // returns once the copy has opened it
    ASSERT_GE(writer, 0);
    const std::string chunk(4096, 'x');
    ASSERT_EQ(write(writer, chunk.data(), chunk.size()), ssize_t(chunk.size()));
    ASSERT_TRUE(WaitForOutput("Creating temporary copy of the Honeypot database..."))
        << Out() << Err();
    EXPECT_EQ(State(), "inactive");
    EXPECT_EQ(TempCopies().size(), 1u) << "the copy is under way";

    kill(pid_, sig);
    const bool cancelling = WaitForOutput("Cancelling operation...");
    close(writer);
    EXPECT_TRUE(cancelling) << Out() << Err();
    EXPECT_EQ(Finish(), 3) << Out() << Err();
    const std::string out = Out();
    EXPECT_NE(out.find("Restarting the Mrv service...\nMrv service started."), std::string::npos)
        << out;
    EXPECT_NE(out.find("Conversion cancelled."), std::string::npos) << out;
    EXPECT_EQ(State(), "active");
    EXPECT_TRUE(TempCopies().empty());
    EXPECT_EQ(Err(), "");
  }
}

TEST_F(ConvertEndingTest, CtrlCToTheProcessGroupNeverReachesSystemctl) {
  WriteSamples();
  Touch("hold-stop");
  Start({"convert", "--honeypot", (dir_ / "src" / "honeypot.abs").string(), "--target", Target(),
         "--create-schema"});
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir_ / "bin" / "stop-begun"); })) << Out() << Err();
  kill(-pid_, SIGINT);  // what the terminal does on Ctrl+C: the whole foreground group
  const bool cancelling = WaitForOutput("Cancelling operation...");
  Touch("release");
  EXPECT_TRUE(cancelling) << Out() << Err();
  EXPECT_EQ(Finish(), 3) << Out() << Err();
  // systemctl finished its request: the stop reached its end, so the run restarted the service.
  EXPECT_EQ(Err().find("Code: 130"), std::string::npos) << Err();
  EXPECT_EQ(Err().find("Could not stop"), std::string::npos) << Err();
  EXPECT_EQ(State(), "active");
  EXPECT_TRUE(TempCopies().empty());
}

TEST_F(ConvertEndingTest, AServiceLeftDownIsReportedOnStandardError) {
  WriteSamples();
  const std::vector<std::string> args = {
      "convert",  "--honeypot", (dir_ / "src" / "honeypot.abs").string(),
      "--target", Target(),     "--create-schema"};

  // Cancelled while the service is still stopping: it is not restarted.
  Touch("slow-stop");
  Start(args);
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(dir_ / "bin" / "stop-begun"); })) << Out() << Err();
  kill(pid_, SIGINT);
  EXPECT_EQ(Finish(), 3) << Out() << Err();
  EXPECT_EQ(Err(), "Could not stop the Mrv Service.\nIt might have to be started manually.\n");
  EXPECT_EQ(State(), "deactivating");
  EXPECT_TRUE(TempCopies().empty());

  // The restart fails: the error, then what the administrator has to do.
  fs::remove(dir_ / "bin" / "slow-stop");
  SetState("active");
  Touch("start.err");
  Start(args);
  EXPECT_EQ(Finish(), 1) << Out() << Err();
  EXPECT_EQ(Err(),
            "Could not restart the Mrv service.\n\n\"System Error.  Code: 1.\nJob for "
            "MRVSVC.service failed\"\nCould not automatically restart the Mrv Service.\nPlease "
            "start it manually.\n");
  EXPECT_EQ(State(), "inactive");
  EXPECT_TRUE(TempCopies().empty());
}

TEST_F(ConvertEndingTest, CtrlCWhileClearingStopsTheClearingAndTouchesNoService) {
  WriteSamples();
  const std::string source = (dir_ / "src" / "honeypot.abs").string();
  Start({"convert", "--honeypot", source, "--target", Target(), "--create-schema", "--no-service"});
  ASSERT_EQ(Finish(), 0) << Out() << Err();
  {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "ext.db").c_str(), &h), SQLITE_OK);
    sqlite3_exec(h, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(h,
                       "INSERT INTO HoneypotBlacklist (IpAddress, LastUpdateTime) VALUES (?, "
                       "'2026-01-01 00:00:00')",
                       -1, &st, nullptr);
    for (int i = 0; i < 100000; ++i) {
      const std::string ip = "10." + std::to_string(i / 65536) + "." +
                             std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
      sqlite3_bind_text(st, 1, ip.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_step(st);
      sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    // Every deleted row costs some work, so that the clearing takes many seconds unless it is
    // stopped: the cancel always arrives while it runs.
    ASSERT_EQ(sqlite3_exec(h,
                           "CREATE TRIGGER SlowDelete AFTER DELETE ON HoneypotBlacklist BEGIN "
                           "SELECT (WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                           "WHERE x < 3000) SELECT count(*) FROM c); END",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_exec(h, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(h);
  }
  const int64_t before = Count(dir_ / "ext.db", "HoneypotBlacklist");
  ASSERT_GT(before, 100000);

  Start({"convert", "--honeypot", source, "--target", Target(), "--existing", "delete"});
  ASSERT_TRUE(WaitForOutput("Clearing the Honeypot database...")) << Out() << Err();
  kill(pid_, SIGINT);
  EXPECT_EQ(Finish(), 3) << Out() << Err();
  const std::string out = Out();
  EXPECT_NE(out.find("Conversion cancelled."), std::string::npos) << out;
  EXPECT_EQ(out.find("Finished clearing"), std::string::npos) << out;
  EXPECT_EQ(out.find("Mrv service"), std::string::npos) << out;
  EXPECT_EQ(ReadText(dir_ / "bin" / "calls.log").find("stop"), std::string::npos);
  EXPECT_EQ(ReadText(dir_ / "bin" / "calls.log").find("start"), std::string::npos);
  EXPECT_EQ(State(), "active");
  EXPECT_EQ(Err(), "");
  const int64_t after = Count(dir_ / "ext.db", "HoneypotBlacklist");
  EXPECT_GT(after, 0) << "the clearing stopped";
  EXPECT_LT(after, before);
  EXPECT_EQ((before - after) % 1000, 0) << "only whole deleting batches are committed";
  EXPECT_TRUE(TempCopies().empty());
}

TEST_F(ConvertEndingTest, EveryCommandFailsWhenStandardOutputCannotBeWritten) {
  WriteSamples();
  const std::string aswl = (dir_ / "src" / "aswl.abs").string();
  const std::vector<std::vector<std::string>> commands = {
      {"tables", aswl},
      {"schema", aswl},
      {"dump", aswl, "ASWL"},
      {"sample", (dir_ / "fresh").string(), "--rows", "3"},
      {"convert", "--aswl", aswl, "--target", Target(), "--create-schema", "--no-service"},
      {"test-connection", Target()},
      {"--help"},
      {"dump", (dir_ / "big" / "greylist.abs").string(), "GREY"},  // fails while it streams
  };
  mrvtool::TSampleOptions big;
  big.Rows = 3000;
  mrvtool::WriteSampleDatabases((dir_ / "big").string(), big);
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    Start(command, "/dev/full");
    EXPECT_EQ(Finish(), 1);
    EXPECT_NE(Err().find("Cannot write the output: No space left on device."), std::string::npos)
        << Err();
  }
  // A conversion that succeeded says so where it can be seen.
  EXPECT_EQ(Count(dir_ / "ext.db", "ASWL"), 10);
  Start({"convert", "--aswl", aswl, "--target", Target(), "--existing", "delete", "--no-service"},
        "/dev/full");
  EXPECT_EQ(Finish(), 1);
  EXPECT_EQ(Err().find("Conversion finished successfully.\n"), 0u) << Err();
}

TEST_F(ConvertEndingTest, AClosedOutputPipeIsReportedAndTheRunStillCompletes) {
  WriteSamples();
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);  // as `| head` does once it has read enough
  Start({"convert", "--greylist", (dir_ / "src" / "greylist.abs").string(), "--target", Target(),
         "--create-schema"},
        "", pipeFds[1]);
  close(pipeFds[1]);
  EXPECT_EQ(Finish(), 1) << Err();
  EXPECT_EQ(Err(), "Conversion finished successfully.\nCannot write the output: Broken pipe.\n");
  EXPECT_EQ(Count(dir_ / "ext.db", "GREY"), 10);
  EXPECT_EQ(State(), "active");
  EXPECT_TRUE(TempCopies().empty());

  ASSERT_EQ(pipe(pipeFds), 0);
  close(pipeFds[0]);
  Start({"dump", (dir_ / "src" / "greylist.abs").string(), "GREY"}, "", pipeFds[1]);
  close(pipeFds[1]);
  EXPECT_EQ(Finish(), 1) << Err();
  EXPECT_EQ(Err(), "Cannot write the output: Broken pipe.\n");
}

}  // namespace
