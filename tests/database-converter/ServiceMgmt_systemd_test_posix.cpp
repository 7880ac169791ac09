// The systemd half of the service control, run against a fake `systemctl` placed first on PATH.
// The fake answers `show` from a list of "ActiveState SubState [Job]" lines, one line per poll
// after the last start or stop request (the last line repeats), and fails on request.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "ServiceMgmt_un.h"

using namespace mrv;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* kFakeSystemctl = R"SH(#!/bin/sh
dir=$(cd "$(dirname "$0")" && pwd)
printf '%s\n' "$*" >> "$dir/calls.log"
verb=; unit=; rest=
for a in "$@"; do
  if [ -n "$rest" ]; then unit=$a; continue; fi
  case "$a" in
    --) rest=1 ;;
    -*) ;;
    *) [ -z "$verb" ] && verb=$a ;;
  esac
done
case "$verb" in
  show)
    if [ -f "$dir/show.err" ]; then cat "$dir/show.err" >&2; exit 1; fi
    if [ -f "$dir/notfound" ]; then
      printf 'LoadState=not-found\nActiveState=inactive\nSubState=dead\n'; exit 0
    fi
    n=$(cat "$dir/polls" 2>/dev/null || echo 0); n=$((n + 1)); echo "$n" > "$dir/polls"
    line=$(sed -n "${n}p" "$dir/states"); [ -n "$line" ] || line=$(tail -n 1 "$dir/states")
    set -- $line
    printf 'Id=%s\nLoadState=loaded\nActiveState=%s\nSubState=%s\n' "$unit" "$1" "$2"
    [ -n "$3" ] && printf 'Job=%s\n' "$3"
    exit 0 ;;
  start|stop)
    if [ -f "$dir/$verb.err" ]; then cat "$dir/$verb.err" >&2; exit "$(cat "$dir/$verb.rc")"; fi
    echo 0 > "$dir/polls" ;;
  *) echo "unknown verb" >&2; exit 64 ;;
esac
)SH";

struct TResult {
  std::uint8_t Outcome = 255;
  std::string ErrorText;
  std::int64_t ElapsedMs = 0;
};

class SystemdServiceControl : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("mrv-systemctl-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    Write("systemctl", kFakeSystemctl);
    fs::permissions(dir_ / "systemctl", fs::perms::owner_all);
    const char* path = getenv("PATH");
    oldPath_ = path ? path : "/usr/bin:/bin";
    setenv("PATH", (dir_.string() + ":" + oldPath_).c_str(), 1);
    Write("booted", "");  // systemd counts as running while this file exists
    previous_ =
        TServiceController::SetBackend(CreateSystemdServiceBackend((dir_ / "booted").string()));
  }

  void TearDown() override {
    TServiceController::SetBackend(previous_);
    setenv("PATH", oldPath_.c_str(), 1);
    fs::remove_all(dir_);
  }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
  }

  void States(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    Write("states", text);
    fs::remove(dir_ / "polls");
  }

  std::string Calls() {
    std::ifstream in(dir_ / "calls.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  TResult Operate(std::uint8_t operation, std::uint32_t timeout, const std::string& name = "MRVSVC",
                  const std::vector<std::string>* arguments = nullptr) {
    auto promise = std::make_shared<std::promise<TResult>>();
    const auto started = Clock::now();
    auto finished = [promise, started](TServiceControllerThread&, std::int32_t,
                                       const std::string& text, std::uint8_t outcome) {
      promise->set_value(
          {outcome, text,
           std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()});
    };
    if (operation == soStop)
      TServiceController::StopServiceAsync(name, timeout, false, finished);
    else
      TServiceController::StartServiceAsync(name, timeout, arguments, false, finished);
    auto future = promise->get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    return future.get();
  }

  fs::path dir_;
  std::string oldPath_;
  std::shared_ptr<TServiceBackend> previous_;
};

TEST_F(SystemdServiceControl, QueriesMapUnitStates) {
  States({"active running"});
  EXPECT_TRUE(TServiceController::ServiceExists("MRVSVC"));
  EXPECT_TRUE(TServiceController::IsServiceRunning("MRVSVC"));
  EXPECT_TRUE(TServiceController::ServiceExists("mail-filter.target"));
  const std::string calls = Calls();
  EXPECT_NE(calls.find("show -- MRVSVC.service\n"), std::string::npos) << calls;
  EXPECT_NE(calls.find("show -- mail-filter.target\n"), std::string::npos) << calls;

  for (const char* stopped : {"inactive dead", "failed failed"}) {
    States({stopped});
    EXPECT_FALSE(TServiceController::IsServiceRunning("MRVSVC")) << stopped;
  }
  for (const char* running :
       {"deactivating stop-sigterm", "activating start", "reloading reload"}) {
    States({running});
    EXPECT_TRUE(TServiceController::IsServiceRunning("MRVSVC")) << running;
  }

  Write("notfound", "");
  EXPECT_FALSE(TServiceController::ServiceExists("MRVSVC"));
  try {
    TServiceController::IsServiceRunning("MRVSVC");
    ADD_FAILURE() << "no exception";
  } catch (const EServiceControllerException& e) {
    EXPECT_STREQ(e.what(),
                 "Could not open service \"MRVSVC\". Error 1060 \"The specified service does not "
                 "exist as an installed service\".");
  }
}

TEST_F(SystemdServiceControl, MissingOrUnusableSystemd) {
  // systemd runs but cannot answer: a manager error.
  Write("show.err",
        "System has not been booted with systemd as init system (PID 1). Can't operate.\n");
  try {
    TServiceController::ServiceExists("MRVSVC");
    ADD_FAILURE() << "no exception";
  } catch (const EServiceControllerException& e) {
    EXPECT_STREQ(e.what(),
                 "Could not open the Service Control Manager. Error 1 \"System has not been booted "
                 "with systemd as init system (PID 1). Can't operate\".");
  }

  // No systemd running: no service exists, but its state cannot be asked for.
  fs::remove(dir_ / "booted");
  EXPECT_FALSE(TServiceController::ServiceExists("MRVSVC"));
  EXPECT_THROW(TServiceController::IsServiceRunning("MRVSVC"), EServiceControllerException);
  EXPECT_THROW(TServiceController::ServiceExists("bad name"), EServiceControllerException);

  // No systemctl at all.
  Write("booted", "");
  setenv("PATH", (dir_ / "empty").c_str(), 1);
  EXPECT_FALSE(TServiceController::ServiceExists("MRVSVC"));
  try {
    TServiceController::IsServiceRunning("MRVSVC");
    ADD_FAILURE() << "no exception";
  } catch (const EServiceControllerException& e) {
    EXPECT_STREQ(e.what(),
                 "Could not open the Service Control Manager. Error 2 \"No such file or "
                 "directory\".");
  }
  const TResult stop = Operate(soStop, 1000);
  EXPECT_EQ(stop.Outcome, soError);
  EXPECT_EQ(stop.ErrorText, "System Error.  Code: 2.\r\nNo such file or directory");
}

TEST_F(SystemdServiceControl, NamesThatCouldBeMisreadAreRejectedBeforeSystemctlRuns) {
  States({"active running"});
  for (const char* name : {"x; touch pwned", "$(touch pwned)", "--host=elsewhere", "", "a b"}) {
    EXPECT_THROW(TServiceController::ServiceExists(name), EServiceControllerException) << name;
    const TResult stop = Operate(soStop, 1000, name);
    EXPECT_EQ(stop.Outcome, soError) << name;
    EXPECT_EQ(stop.ErrorText, "System Error.  Code: 22.\r\nInvalid argument") << name;
  }
  EXPECT_EQ(Calls(), "");
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST_F(SystemdServiceControl, StopAndStartFollowPendingStates) {
  States({"deactivating stop-sigterm", "deactivating stop-sigterm", "deactivating stop-sigterm",
          "inactive dead"});
  const TResult stop = Operate(soStop, 5000);
  EXPECT_EQ(stop.Outcome, soReached);
  EXPECT_EQ(stop.ErrorText, "");
  EXPECT_NE(Calls().find("--no-block --no-ask-password stop -- MRVSVC.service\n"),
            std::string::npos);

  States({"activating start-pre", "activating start", "active running"});
  EXPECT_EQ(Operate(soStart, 5000).Outcome, soReached);
  EXPECT_NE(Calls().find("--no-block --no-ask-password start -- MRVSVC.service\n"),
            std::string::npos);

  // A unit that is active at the first poll has skipped start pending.
  States({"active running"});
  EXPECT_EQ(Operate(soStart, 5000).Outcome, soReached);

  // A start job queued behind the unit's dependencies: still inactive, but start pending.
  States({"inactive dead 97", "inactive dead 97", "failed failed 97", "activating start 97",
          "active running"});
  const TResult queued = Operate(soStart, 5000);
  EXPECT_EQ(queued.Outcome, soReached) << queued.ErrorText;
  EXPECT_NE(Calls().find("--property=LoadState,ActiveState,SubState,Job show -- MRVSVC.service\n"),
            std::string::npos);
  States({"inactive dead 97"});
  EXPECT_TRUE(TServiceController::IsServiceRunning("MRVSVC"));
}

TEST_F(SystemdServiceControl, FailuresAndDropsBackEndWithTheirTexts) {
  const std::string eventLog = "The operation failed. Please check the Windows Event Log.";
  States({"activating start", "activating start", "failed failed"});
  TResult result = Operate(soStart, 5000);
  EXPECT_EQ(result.Outcome, soError);
  EXPECT_EQ(result.ErrorText, eventLog);

  States({"deactivating stop-sigterm", "deactivating stop-sigterm", "active running"});
  result = Operate(soStop, 5000);
  EXPECT_EQ(result.Outcome, soError);
  EXPECT_EQ(result.ErrorText, eventLog);

  States({"active running"});
  Write("stop.err", "Failed to stop MRVSVC.service: Access denied\n");
  Write("stop.rc", "4");
  result = Operate(soStop, 5000);
  EXPECT_EQ(result.Outcome, soError);
  EXPECT_EQ(result.ErrorText,
            "System Error.  Code: 4.\r\nFailed to stop MRVSVC.service: Access denied");

  const std::vector<std::string> arguments{"--verbose"};
  result = Operate(soStart, 5000, "MRVSVC", &arguments);
  EXPECT_EQ(result.Outcome, soError);
  EXPECT_EQ(result.ErrorText, "Start arguments cannot be passed to a systemd unit.");

  Write("notfound", "");
  result = Operate(soStart, 5000);
  EXPECT_EQ(result.Outcome, soError);
  EXPECT_EQ(result.ErrorText,
            "System Error.  Code: 1060.\r\nThe specified service does not exist as an installed "
            "service");
}

TEST_F(SystemdServiceControl, SubStateProgressKeepsTheWaitGoingPastTheTimeOut) {
  // The sub-state changes every second poll for 200 polls (each poll sleeps 10 ms and runs the
  // fake, so well over 1500 ms in all); limit 1500 ms without progress, wide enough that a
  // loaded machine running two polls between changes does not time out.
  std::vector<std::string> lines;
  for (int i = 0; i < 200; ++i)
    lines.push_back(std::string("deactivating stop-") + ((i / 2) % 2 ? "sigkill" : "sigterm"));
  lines.push_back("inactive dead");
  States(lines);
  const TResult slow = Operate(soStop, 1500);
  EXPECT_EQ(slow.Outcome, soReached);
  EXPECT_GT(slow.ElapsedMs, 1510);

  States({"deactivating stop-sigterm"});
  const TResult stuck = Operate(soStop, 250);
  EXPECT_EQ(stuck.Outcome, soTimedOut);
  EXPECT_EQ(stuck.ErrorText, "");
  EXPECT_GE(stuck.ElapsedMs, 260);
}

}  // namespace
