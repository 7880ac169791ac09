// The fault matrix's rig: child processes, terminals, choked pipes, private mounts and the
// scripted unit.
#include "FaultRig.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace faults {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(60);  // a wait that never ends fails the case
constexpr char kFiller = '\x01';                      // bytes that choke a pipe; never output

std::string NoCrLf(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') && text[i] != kFiller)
      out += text[i];
  return out;
}

// Mounts made by a case stay inside this process (and its children): one private mount
// namespace for the whole test program, entered before the first case runs.
bool g_privateMounts = false;
class PrivateMounts : public ::testing::Environment {
 public:
  void SetUp() override {
    g_privateMounts = ::unshare(CLONE_NEWNS) == 0 &&
                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
  }
};
[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new PrivateMounts);

}  // namespace

std::string ReadAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string TRunResult::LastStatus() const {
  std::string text = Out;
  const size_t table = text.find("\n\nDatabase ");
  if (table != std::string::npos) text.resize(table + 1);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  const size_t nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

// ---- one tool process ----------------------------------------------------------------------

TToolRun::TToolRun(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const fs::path& cwd, const fs::path& errFile, const TRunOptions& options)
    : terminal_(options.Terminal), errFile_(errFile) {
  std::vector<std::string> argStore = args, envStore = env;
  std::vector<char*> argv, envp;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string cwdText = cwd.string(), errText = errFile.string();

  int childOut = -1;
  std::string slave;
  if (terminal_) {
    out_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(out_);
    ::unlockpt(out_);
    slave = ::ptsname(out_);
  } else {
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    out_ = p[0];
    childOut = p[1];
    capacity_ = static_cast<size_t>(::fcntl(out_, F_SETPIPE_SZ, 4096));
    // A second, non-blocking description of the write end, for choking.
    outFill_ = ::open(("/proc/self/fd/" + std::to_string(childOut)).c_str(),
                      O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  }

  pid_ = ::fork();
  if (pid_ == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) ::signal(s, SIG_DFL);
    if (terminal_) {
      // A session of its own with the terminal as its controlling terminal: ^C typed there
      // reaches the tool's process group, as at a console.
      ::setsid();
      const int fd = ::open(slave.c_str(), O_RDWR);
      if (fd < 0) ::_exit(126);
      ::ioctl(fd, TIOCSCTTY, 0);
      ::dup2(fd, 0);
      ::dup2(fd, 1);
      ::dup2(fd, 2);  // questions and notices appear on the terminal too
    } else {
      ::setpgid(0, 0);  // its own process group, as a shell job
      const int in = ::open("/dev/null", O_RDONLY);
      ::dup2(in, 0);
      ::dup2(childOut, 1);
    }
    const int err = ::open(errText.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!terminal_) ::dup2(err, 2);
    if (::chdir(cwdText.c_str()) != 0) ::_exit(126);
    if (options.DropDacOverride) {
      ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
      ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (childOut >= 0) ::close(childOut);
}

TToolRun::~TToolRun() {
  if (pid_ > 0) {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
  if (outFill_ >= 0) ::close(outFill_);
}

bool TToolRun::Pump(int waitMs) {
  pollfd p{out_, POLLIN, 0};
  if (::poll(&p, 1, waitMs) <= 0) return true;
  char buf[4096];
  const ssize_t n = ::read(out_, buf, sizeof buf);
  if (n > 0) {
    text_.append(buf, static_cast<size_t>(n));
    return true;
  }
  if (n < 0 && errno == EINTR) return true;
  return false;  // end of output (EIO on a terminal whose other side has closed)
}

bool TToolRun::WaitUntil(const std::function<bool()>& ready) {
  const auto end = Clock::now() + kPatience;
  while (Clock::now() < end) {
    if (ready()) return true;
    if (!Pump(20)) return ready();
  }
  return false;
}

bool TToolRun::WaitForText(const std::string& text) {
  return WaitUntil([&] { return NoCrLf(text_).find(text) != std::string::npos; });
}

void TToolRun::Choke(size_t room) {
  while (true) {  // take what is there first
    int pending = 0;
    ::ioctl(out_, FIONREAD, &pending);
    if (pending == 0) break;
    Pump(0);
  }
  const std::string fill(capacity_ - room, kFiller);
  const ssize_t n = ::write(outFill_, fill.data(), fill.size());
  filler_ = n > 0 ? static_cast<size_t>(n) : 0;
}

bool TToolRun::WaitUntilChoked() {
  const auto end = Clock::now() + kPatience;
  while (Clock::now() < end) {
    int pending = 0;
    ::ioctl(out_, FIONREAD, &pending);
    if (static_cast<size_t>(pending) >= capacity_) return true;
    if (::waitpid(pid_, nullptr, WNOHANG | WNOWAIT) == pid_) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

void TToolRun::WaitForMainThreadOnLock() {
  const std::string file =
      "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/syscall";
  const std::string futex = std::to_string(SYS_futex) + " ";
  int seen = 0;
  for (int i = 0; i < 400 && seen < 3; ++i) {
    seen = ReadAll(file).rfind(futex, 0) == 0 ? seen + 1 : 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void TToolRun::Release() {
  if (outFill_ >= 0) ::close(outFill_);
  outFill_ = -1;
  Pump(0);
}

void TToolRun::Signal(int sig, bool wholeGroup) { ::kill(wholeGroup ? -pid_ : pid_, sig); }

void TToolRun::Type(const std::string& keys) {
  if (::write(out_, keys.data(), keys.size()) < 0) ADD_FAILURE() << "typing failed";
}

TRunResult TToolRun::Finish() {
  if (outFill_ >= 0) ::close(outFill_);
  outFill_ = -1;
  TRunResult r;
  const auto end = Clock::now() + kPatience;
  while (Pump(50) && Clock::now() < end) {
  }
  if (Clock::now() >= end) {
    ADD_FAILURE() << "the tool did not end; killed";
    ::kill(-pid_, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  r.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.Out = NoCrLf(text_);
  r.Err = NoCrLf(ReadAll(errFile_));
  return r;
}

// ---- the fixture ---------------------------------------------------------------------------

void FaultMatrix::SetUp() {
  root_ =
      fs::temp_directory_path() / ("mrvfault-" + std::to_string(::getpid()) + "-" +
                                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::remove_all(root_);
  for (const char* d : {"bin", "unit", "src", "tmp", "work", "target"})
    fs::create_directories(root_ / d);
  fs::copy_file(FAULT_SYSTEMCTL, root_ / "bin" / "systemctl");
  fs::permissions(root_ / "bin" / "systemctl",
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  SetUnit("active running");
  target_ = root_ / "target" / "ext.db";
}

void FaultMatrix::TearDown() {
  for (auto it = mounts_.rbegin(); it != mounts_.rend(); ++it) ::umount2(it->c_str(), MNT_DETACH);
  std::error_code ec;
  fs::permissions(Source(), fs::perms::owner_read | fs::perms::owner_write, ec);
  fs::remove_all(root_, ec);
}

void FaultMatrix::Put(const std::string& name, const std::string& text) {
  std::ofstream(root_ / name, std::ios::binary) << text;
}

std::string FaultMatrix::UnitState() {
  const auto end = Clock::now() + kPatience;
  std::string state;
  do {
    const std::string cmd = "MRV_FAKE_UNIT_DIR='" + (root_ / "unit").string() + "' '" +
                            (root_ / "bin" / "systemctl").string() + "' show -- MRVSVC.service";
    FILE* p = ::popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p)) out += buf;
    if (p) ::pclose(p);
    auto value = [&](const std::string& key) {
      const size_t at = out.find(key + "=");
      if (at == std::string::npos) return std::string();
      const size_t b = at + key.size() + 1;
      return out.substr(b, out.find('\n', b) - b);
    };
    state = value("ActiveState") + " " + value("SubState");
    if (ReadAll(root_ / "unit" / "pending").empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (Clock::now() < end);
  return state;
}

std::string FaultMatrix::UnitCalls() { return ReadAll(root_ / "unit" / "calls.log"); }

void FaultMatrix::MakeSource(int rows, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"sample", (root_ / "src").string(), "--rows",
                                   std::to_string(rows)};
  args.insert(args.end(), extra.begin(), extra.end());
  const TRunResult r = Run(args);
  ASSERT_EQ(r.Exit, 0) << r.Err;
  sourceBytes_ = ReadAll(Source());
  ASSERT_FALSE(sourceBytes_.empty());
}

std::vector<std::string> FaultMatrix::Convert(const std::string& target,
                                              const std::vector<std::string>& extra) const {
  std::vector<std::string> args = {"convert", "--" + kind_, Source().string(), "--target", target};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

std::unique_ptr<TToolRun> FaultMatrix::Start(const std::vector<std::string>& args,
                                             const TRunOptions& options) {
  std::vector<std::string> full = {MRVDBTOOL_EXE};
  full.insert(full.end(), args.begin(), args.end());
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    for (const char* drop :
         {"PATH=", "TMPDIR=", "MRV_FAKE_UNIT_DIR=", "MRV_INSTALL_FOLDER=", "TERM="})
      if (v.rfind(drop, 0) == 0) goto skip;
    env.push_back(v);
  skip:;
  }
  const char* path = std::getenv("PATH");
  env.push_back("PATH=" + (root_ / "bin").string() + ":" + (path ? path : "/usr/bin:/bin"));
  env.push_back("TMPDIR=" + Temp().string());
  env.push_back("MRV_FAKE_UNIT_DIR=" + (root_ / "unit").string());
  env.push_back("TERM=dumb");
  return std::make_unique<TToolRun>(full, env, root_ / "work", root_ / "err.txt", options);
}

TRunResult FaultMatrix::Run(const std::vector<std::string>& args, const TRunOptions& options) {
  return Start(args, options)->Finish();
}

bool FaultMatrix::MountSmall(const fs::path& dir, std::uint64_t bytes) {
  if (!g_privateMounts) return false;
  fs::create_directories(dir);
  const std::string opts = "size=" + std::to_string(bytes) + ",mode=0777";
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0) return false;
  mounts_.push_back(dir);
  return true;
}

void FaultMatrix::ExpectEnd(const TRunResult& r, int exit, const std::string& finalStatus) const {
  EXPECT_EQ(r.Exit, exit) << "stdout:\n" << r.Out << "stderr:\n" << r.Err;
  EXPECT_NE(r.Out.find("\n" + finalStatus + "\n"), std::string::npos) << r.Out;
  for (const char* other : {"Conversion finished successfully.", "Conversion cancelled.",
                            "Conversion was aborted due to an error."})
    if (finalStatus != other) {
      EXPECT_EQ(r.Out.find(other), std::string::npos) << r.Out;
    }
  ExpectNoCopies();
  ExpectSourceUnchanged();
}

void FaultMatrix::ExpectFailed(const TRunResult& r, const std::string& message) const {
  ExpectEnd(r, 1, "Conversion was aborted due to an error.");
  EXPECT_EQ(r.Err.rfind(message, 0), 0u) << r.Err;
}

const std::vector<std::string>& FaultMatrix::ReferenceIps() {
  if (reference_.empty()) {
    const fs::path ref = root_ / "reference.db";
    SqliteCreateHoneypot(ref, 0);
    const TRunResult r = Run(Convert(SqliteTarget(ref), {"--no-service"}));
    EXPECT_EQ(r.Exit, 0) << r.Out << r.Err;
    reference_ = SqliteIps(ref, 0);
  }
  return reference_;
}

void FaultMatrix::ExpectWholeBatches(const std::vector<std::string>& ips) {
  const std::vector<std::string>& ref = ReferenceIps();
  EXPECT_TRUE(ips.size() % kBatch == 0 || ips.size() == ref.size()) << ips.size() << " rows";
  ASSERT_LE(ips.size(), ref.size());
  EXPECT_TRUE(std::equal(ips.begin(), ips.end(), ref.begin()))
      << "rows other than the source's first ones";
}

void FaultMatrix::ExpectSummary(const TRunResult& r, std::int64_t before, std::int64_t deleted,
                                std::int64_t inserted, std::int64_t now) const {
  const size_t table = r.Out.find("\n\nDatabase ");
  ASSERT_NE(table, std::string::npos) << "no summary\n" << r.Out;
  const size_t row = r.Out.find(" HoneypotBlacklist ", table);
  ASSERT_NE(row, std::string::npos) << r.Out;
  std::istringstream line(r.Out.substr(row, r.Out.find('\n', row) - row));
  std::string name, source, counts[4];
  line >> name >> source >> counts[0] >> counts[1] >> counts[2] >> counts[3];
  EXPECT_EQ(counts[0], std::to_string(before)) << "rows before\n" << r.Out;
  EXPECT_EQ(counts[1], std::to_string(deleted)) << "deleted\n" << r.Out;
  EXPECT_EQ(counts[2], std::to_string(inserted)) << "inserted\n" << r.Out;
  EXPECT_EQ(counts[3], std::to_string(now)) << "rows after\n" << r.Out;
  if (r.Exit == 0) return;
  const std::string next =
      deleted == 0 && inserted == 0
          ? std::string("\nThe targets are unchanged: nothing was deleted or inserted; ")
          : "\nThe targets now hold " + std::to_string(now) + " rows (" + std::to_string(deleted) +
                " deleted, " + std::to_string(inserted) +
                " inserted by this run in whole batches of 1000); ";
  EXPECT_NE(r.Out.find(next, table), std::string::npos) << r.Out;
}

void FaultMatrix::ExpectNoCopies() const {
  for (const fs::path& folder : {Temp(), root_ / "work"}) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      const std::string name = e.path().filename().string();
      EXPECT_FALSE(name.rfind("mrv", 0) == 0 && name.size() > 4 &&
                   name.compare(name.size() - 4, 4, ".tmp") == 0)
          << "copy left behind: " << e.path();
    }
  }
}

void FaultMatrix::ExpectSourceUnchanged() const {
  EXPECT_TRUE(ReadAll(Source()) == sourceBytes_) << "the source file changed";
}

}  // namespace faults
