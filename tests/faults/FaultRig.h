// The rig of the fault matrix: the built mrvdbtool run as a child process against a scripted
// systemd unit (a `systemctl` first on PATH that keeps the unit's state in files), a private
// TMPDIR and working folder, real SQLite files and a real PostgreSQL database. Every case ends
// with the same checks: exit code, final message, unit state, no copies left, target rows, and
// the source file byte for byte.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace faults {

namespace fs = std::filesystem;

constexpr std::int64_t kBatch = 1000;  // rows per committed target transaction

struct TRunResult {
  int Exit = -1;    // exit status; 128 + signal when a signal ended the tool
  std::string Out;  // stdout, CR LF made LF
  std::string Err;  // stderr, CR LF made LF
  // The last status line before the table of a successful run (or the last line at all).
  std::string LastStatus() const;
};

struct TRunOptions {
  bool Terminal = false;         // stdin, stdout and stderr on a pseudo terminal the tool controls
  bool DropDacOverride = false;  // run without the capabilities that let root read any file
};

// One running tool process.
class TToolRun {
 public:
  TToolRun(const std::vector<std::string>& args, const std::vector<std::string>& env,
           const fs::path& cwd, const fs::path& errFile, const TRunOptions& options);
  ~TToolRun();
  TToolRun(const TToolRun&) = delete;
  TToolRun& operator=(const TToolRun&) = delete;

  // Reads output until `text` has appeared (true) or the tool has ended (false).
  bool WaitForText(const std::string& text);
  // Keeps reading output until `ready` answers true (true) or the tool has ended (false).
  bool WaitUntil(const std::function<bool()>& ready);
  // Fills the output pipe so that only `room` more bytes fit: the tool's next write that
  // does not fit blocks until Release. Not for terminal runs.
  void Choke(std::size_t room);
  // True once the tool has filled the choked pipe (its next write blocks).
  bool WaitUntilChoked();
  // Waits (a little while at most) until the tool's main thread waits on a lock: a signal's
  // handling has reached the output the choked thread holds.
  void WaitForMainThreadOnLock();
  void Release();
  void Signal(int sig, bool wholeGroup);
  void Type(const std::string& keys);  // terminal runs: keys typed at the terminal
  TRunResult Finish();

 private:
  bool Pump(int waitMs);  // reads what is there; false once output has ended
  pid_t pid_ = -1;
  int out_ = -1;      // read end of stdout (pipe or terminal master)
  int outFill_ = -1;  // write end kept for choking
  std::size_t filler_ = 0, capacity_ = 0;
  bool terminal_ = false;
  fs::path errFile_;
  std::string text_;
};

class FaultMatrix : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Sample databases with `rows` rows per table (`extra`: more options of the sample command);
  // the file of `kind_` is the source.
  void MakeSource(int rows, const std::vector<std::string>& extra = {});
  fs::path Source() const { return root_ / "src" / (kind_ + ".abs"); }
  fs::path Temp() const { return root_ / "tmp"; }

  // The scripted unit.
  void SetUnit(const std::string& state) { Put("unit/state", state + "\n"); }
  void Put(const std::string& name, const std::string& text);
  std::string UnitState();  // "ActiveState SubState" once every queued job has ended
  std::string UnitCalls();
  bool Stopped() { return UnitCalls().find("stop -- MRVSVC.service") != std::string::npos; }

  std::vector<std::string> Convert(const std::string& target,
                                   const std::vector<std::string>& extra) const;
  std::unique_ptr<TToolRun> Start(const std::vector<std::string>& args,
                                  const TRunOptions& options = {});
  TRunResult Run(const std::vector<std::string>& args, const TRunOptions& options = {});

  // A tmpfs of `bytes` bytes mounted on `dir` (private to this test process); false when this
  // process may not mount.
  bool MountSmall(const fs::path& dir, std::uint64_t bytes);

  // The closing checks every case makes: exit code, the run's final status line, no copies
  // left, the source byte for byte.
  void ExpectEnd(const TRunResult& r, int exit, const std::string& finalStatus) const;
  // A run ended by an error whose message on stderr starts with `message`.
  void ExpectFailed(const TRunResult& r, const std::string& message) const;
  void ExpectNoCopies() const;
  void ExpectSourceUnchanged() const;

  // The source's addresses in transfer order (a clean run into a file of its own), and a check
  // that `ips` (the target's rows after its earlier ones) are whole batches of them.
  const std::vector<std::string>& ReferenceIps();
  void ExpectWholeBatches(const std::vector<std::string>& ips);

  // The summary printed after the run: the source table's row reads `before`, `deleted`,
  // `inserted` and, as rows after, `now` (what the test counted in the target). After an error
  // or a cancel the line on what the targets hold follows the table.
  void ExpectSummary(const TRunResult& r, std::int64_t before, std::int64_t deleted,
                     std::int64_t inserted, std::int64_t now) const;

  fs::path root_;
  fs::path target_;                // the SQLite target file
  std::string kind_ = "honeypot";  // the source database: its option and file name
  std::string sourceBytes_;
  std::vector<fs::path> mounts_;
  std::vector<std::string> reference_;
};

// SQLite target helpers.
std::string SqliteTarget(const fs::path& file);
void SqliteExec(const fs::path& file, const std::string& sql);
std::int64_t SqliteCount(const fs::path& file, const std::string& table = "HoneypotBlacklist");
void SqliteCreateHoneypot(const fs::path& file, int presetRows);
std::vector<std::string> SqliteIps(const fs::path& file, std::int64_t skip);

// PostgreSQL target helpers: a database of its own per case, through psql.
class TPgDatabase {
 public:
  explicit TPgDatabase(
      const std::string& name);  // creates it afresh; Ready() false without a cluster
  ~TPgDatabase();
  bool Ready() const { return ready_; }
  std::string Target() const;  // the tool's connection string
  std::string Sql(const std::string& sql, bool* ok = nullptr) const;  // psql -At output
  std::int64_t Count(const std::string& table = "HoneypotBlacklist") const;
  void CreateHoneypot(int presetRows) const;
  std::vector<std::string> Ips(std::int64_t skip) const;

 private:
  std::string Psql(const std::string& db, const std::string& sql, bool* ok) const;
  bool ready_ = false;
  std::string name_, server_, port_, user_, password_, maintenance_;
};

std::string ReadAll(const fs::path& file);

}  // namespace faults
