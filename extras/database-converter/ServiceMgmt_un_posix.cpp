// Service control over systemd: `systemctl` is run directly (fork/exec, no shell) and its
// unit states are mapped onto the Windows state sequence:
//   active, reloading, refreshing -> running;   activating -> start pending;
//   deactivating -> stop pending;               inactive, failed -> stopped;
//   anything else -> unknown (outside every expected sequence, so the operation fails).
// A unit that is inactive or failed while a job is queued for it (a start waiting for its
// dependencies) is start pending, not stopped: its state only changes once the job runs.
// A change of the unit's sub-state counts as checkpoint progress; systemd gives no wait hint.
// A unit whose LoadState is "not-found" does not exist (error 1060, as on Windows).
// A machine without a running systemd (no `systemctl`, or no /run/systemd/system, as in many
// containers) has no services at all: ServiceExists answers false there instead of raising, so
// that a run which only stops a service that exists goes ahead; every other call still raises.
//
// `systemctl` runs in a process group of its own, so that Ctrl+C at the terminal, which goes to
// the tool's whole group, cannot kill it half way through a request (the tool itself turns
// Ctrl+C into a cancel); signal dispositions the tool ignores are reset for it.
//
// Service name to unit name: a name without a '.' gets ".service" appended ("MRVSVC" ->
// "MRVSVC.service"); a name with a suffix is used as given. Names that are empty, start with
// '-' or hold characters outside [A-Za-z0-9:_.@\-] are rejected (error EINVAL).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <system_error>

#include "BaseText.h"
#include "ServiceMgmt_un.h"

extern char** environ;

namespace mrv {

namespace {

constexpr const char* kNotFoundText =
    "The specified service does not exist as an installed service";

struct TCommandResult {
  int SpawnError = 0;  // errno when the program could not be started
  int ExitCode = 0;    // exit status, or 128 + signal number
  std::string Out;
  std::string Err;
};

class TFd {
 public:
  TFd() = default;
  ~TFd() { Reset(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int& Ref() { return fd_; }
  int Get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Runs `systemctl` (found on PATH) with the given arguments and collects its output.
TCommandResult RunSystemctl(const std::vector<std::string>& arguments) {
  TCommandResult result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    result.SpawnError = errno;
    return result;
  }
  TFd outRead, outWrite, errRead, errWrite;
  outRead.Ref() = outPipe[0];
  outWrite.Ref() = outPipe[1];
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    result.SpawnError = errno;
    return result;
  }
  errRead.Ref() = errPipe[0];
  errWrite.Ref() = errPipe[1];

  std::vector<std::string> argv{"systemctl"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (auto& argument : argv) pointers.push_back(argument.data());
  pointers.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults, none;
  sigemptyset(&defaults);
  for (const int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int spawned =
      posix_spawnp(&pid, "systemctl", &actions, &attributes, pointers.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  outWrite.Reset();
  errWrite.Reset();
  if (spawned != 0) {
    result.SpawnError = spawned;
    return result;
  }

  pollfd fds[2] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}};
  std::string* sinks[2] = {&result.Out, &result.Err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open;
      }
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.'))
    text.pop_back();
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  return begin == std::string::npos ? std::string() : text.substr(begin);
}

// Error code and text of a failed run: errno when it could not start, else the exit status.
std::pair<int, std::string> FailureOf(const TCommandResult& run) {
  if (run.SpawnError != 0) return {run.SpawnError, std::generic_category().message(run.SpawnError)};
  std::string text = Trimmed(run.Err);
  if (text.empty()) text = base::Format("systemctl exited with code %d", run.ExitCode);
  return {run.ExitCode, text};
}

bool Failed(const TCommandResult& run) { return run.SpawnError != 0 || run.ExitCode != 0; }

bool ValidUnitName(const std::string& name) {
  if (name.empty() || name.front() == '-') return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == ':' || c == '_' || c == '.' || c == '@' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string UnitName(const std::string& name) {
  return name.find('.') == std::string::npos ? name + ".service" : name;
}

struct TUnitState {
  std::string LoadState, ActiveState, SubState;
  bool JobQueued = false;  // systemctl prints Job= only while a job is queued for the unit
};

TUnitState ParseShow(const std::string& out) {
  std::map<std::string, std::string> values;
  std::size_t at = 0;
  while (at < out.size()) {
    std::size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = Trimmed(line.substr(eq + 1));
    at = end + 1;
  }
  const std::string job = values["Job"];
  return {values["LoadState"], values["ActiveState"], values["SubState"],
          !job.empty() && job != "0"};
}

TCommandResult ShowUnit(const std::string& unit) {
  return RunSystemctl({"--property=LoadState,ActiveState,SubState,Job", "show", "--", unit});
}

std::uint32_t MapState(const TUnitState& state) {
  const std::string& active = state.ActiveState;
  if (active == "active" || active == "reloading" || active == "refreshing") return ssRunning;
  if (active == "activating") return ssStartPending;
  if (active == "deactivating") return ssStopPending;
  if (active == "inactive" || active == "failed")
    return state.JobQueued ? ssStartPending : ssStopped;
  return ssUnknown;
}

[[noreturn]] void RaiseSystem(const std::pair<int, std::string>& failure) {
  throw EServiceSystemError(failure.first, failure.second);
}

class TSystemdServiceHandle : public TServiceHandle {
 public:
  explicit TSystemdServiceHandle(std::string unit) : unit_(std::move(unit)) {}

  TServiceStatus QueryStatus() override {
    const TCommandResult run = ShowUnit(unit_);
    if (Failed(run)) RaiseSystem(FailureOf(run));
    const TUnitState state = ParseShow(run.Out);
    if (state.LoadState == "not-found") RaiseSystem({kErrorServiceDoesNotExist, kNotFoundText});
    if (!first_ && state.SubState != lastSubState_) ++checkPoint_;
    first_ = false;
    lastSubState_ = state.SubState;
    return {MapState(state), checkPoint_, 0};
  }

  void RequestStop() override { Request("stop"); }

  void RequestStart(const std::vector<std::string>& arguments) override {
    if (!arguments.empty())
      throw EServiceControllerThreadError("Start arguments cannot be passed to a systemd unit.");
    Request("start");
  }

  void Close() override {}

 private:
  void Request(const char* verb) {
    const TCommandResult run = RunSystemctl({"--no-block", "--no-ask-password", verb, "--", unit_});
    if (Failed(run)) RaiseSystem(FailureOf(run));
  }

  std::string unit_;
  bool first_ = true;
  std::string lastSubState_;
  std::uint32_t checkPoint_ = 0;
};

class TSystemdServiceBackend : public TServiceBackend {
 public:
  explicit TSystemdServiceBackend(std::string bootedMarker)
      : bootedMarker_(std::move(bootedMarker)) {}

  bool ServiceExists(const std::string& name) override {
    try {
      return Show(name).LoadState != "not-found";
    } catch (const EServiceControllerException&) {
      if (ValidUnitName(name) && !ManagerPresent()) return false;
      throw;
    }
  }

  bool IsServiceRunning(const std::string& name) override {
    const TUnitState state = Show(name);
    if (state.LoadState == "not-found")
      throw EServiceControllerException(
          base::Format("Could not open service \"%s\". Error %d \"%s\".", name.c_str(),
                       kErrorServiceDoesNotExist, kNotFoundText));
    return MapState(state) != ssStopped;
  }

  std::unique_ptr<TServiceHandle> OpenForOperation(const std::string& name,
                                                   std::uint8_t /*operation*/) override {
    if (!ValidUnitName(name)) RaiseSystem({EINVAL, std::generic_category().message(EINVAL)});
    const std::string unit = UnitName(name);
    const TCommandResult run = ShowUnit(unit);
    if (Failed(run)) RaiseSystem(FailureOf(run));
    if (ParseShow(run.Out).LoadState == "not-found")
      RaiseSystem({kErrorServiceDoesNotExist, kNotFoundText});
    return std::make_unique<TSystemdServiceHandle>(unit);
  }

 private:
  // Whether systemd runs here: systemctl can be started and the booted marker exists.
  bool ManagerPresent() const {
    if (access(bootedMarker_.c_str(), F_OK) != 0) return false;
    return RunSystemctl({"--version"}).SpawnError == 0;
  }

  // The unit's state; raises the controller's messages when systemd cannot be asked.
  TUnitState Show(const std::string& name) {
    if (!ValidUnitName(name))
      throw EServiceControllerException(
          base::Format("Could not open service \"%s\". Error %d \"%s\".", name.c_str(), EINVAL,
                       std::generic_category().message(EINVAL).c_str()));
    const TCommandResult run = ShowUnit(UnitName(name));
    if (Failed(run)) {
      const auto failure = FailureOf(run);
      throw EServiceControllerException(
          base::Format("Could not open the Service Control Manager. Error %d \"%s\".",
                       failure.first, failure.second.c_str()));
    }
    return ParseShow(run.Out);
  }

  std::string bootedMarker_;
};

}  // namespace

std::shared_ptr<TServiceBackend> CreateSystemServiceBackend() {
  return CreateSystemdServiceBackend("/run/systemd/system");
}

std::shared_ptr<TServiceBackend> CreateSystemdServiceBackend(const std::string& bootedMarker) {
  return std::make_shared<TSystemdServiceBackend>(bootedMarker);
}

}  // namespace mrv
