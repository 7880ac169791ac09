#pragma once
// Stand-ins for the conversion run's tests: a private temporary folder, a recording transfer,
// a scripted service manager with real operation threads, a thread-safe status log.

#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DbConversionInfo_un.h"
#include "DbTransferIntf_un.h"
#include "ServiceControlIntf_un.h"

namespace mrvtest {

// A one-shot event a test can wait for.
class TEvent {
 public:
  void Set() {
    std::lock_guard<std::mutex> g(m_);
    set_ = true;
    cv_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [this] { return set_; });
  }
  bool IsSet() {
    std::lock_guard<std::mutex> g(m_);
    return set_;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool set_ = false;
};

// A fresh folder used as the temporary folder (TMPDIR; TMP and TEMP on Windows) for the test's
// lifetime; removed afterwards.
class TPrivateTempDir {
 public:
  TPrivateTempDir() {
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path();
    std::random_device random;
    for (;;) {
      const fs::path candidate = base / ("runtest" + std::to_string(random()));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) {
        path_ = candidate.string();
        break;
      }
    }
    for (const char* name : kVariables) {
      const char* old = std::getenv(name);
      saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      SetVariable(name, path_.c_str());
    }
  }
  ~TPrivateTempDir() {
    for (const auto& [name, value] : saved_) SetVariable(name, value ? value->c_str() : nullptr);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  // The folder as the file duplication hands it out: with a trailing separator.
  std::string Folder() const {
    return path_ + static_cast<char>(std::filesystem::path::preferred_separator);
  }
  // A file inside the folder (not in the temp-copy pattern) with `size` bytes of a pattern.
  std::string MakeFile(const std::string& name, size_t size) const {
    const std::string p = Folder() + name;
    std::ofstream out(p, std::ios::binary);
    std::string chunk(64 * 1024, '\0');
    for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>('a' + i % 23);
    for (size_t left = size; left > 0;) {
      const size_t n = left < chunk.size() ? left : chunk.size();
      out.write(chunk.data(), static_cast<std::streamsize>(n));
      left -= n;
    }
    return p;
  }
  // Names "mrv*.tmp" in a folder.
  static std::vector<std::string> TempCopies(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
      const std::string n = entry.path().filename().string();
      if (n.size() >= 7 && n.compare(0, 3, "mrv") == 0 && n.compare(n.size() - 4, 4, ".tmp") == 0)
        names.push_back(n);
    }
    return names;
  }
  std::vector<std::string> TempCopies() const { return TempCopies(path_); }

  static void SetVariable(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
#endif
  }

 private:
#ifdef _WIN32
  static constexpr const char* kVariables[] = {"TMP", "TEMP"};
#else
  static constexpr const char* kVariables[] = {"TMPDIR"};
#endif
  std::string path_;
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// True when the Windows build runs under Wine, whose file copy reports no progress and ignores
// the cancel flag.
inline bool RunningUnderWine() {
#ifdef _WIN32
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

// A source file whose size can be taken but whose copy fails: on Linux a file that cannot be
// read from its start, on Windows a file held open without sharing.
class TUnreadableSource {
 public:
  explicit TUnreadableSource(const TPrivateTempDir& tmp) {
#ifdef _WIN32
    path_ = tmp.MakeFile("locked.abs", 100);
    handle_ = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
#else
    (void)tmp;
    path_ = "/proc/self/mem";
#endif
  }
  ~TUnreadableSource() {
#ifdef _WIN32
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#endif
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#endif
};

// Status lines from any thread.
class TStatusLog {
 public:
  void Attach(mrv::TDbConversionInfo& info) {
    info.OnStatus = [this](const std::string& t) {
      std::lock_guard<std::mutex> g(m_);
      lines_.push_back(t);
    };
  }
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> g(m_);
    return lines_;
  }
  bool Has(const std::string& line) {
    for (const auto& l : Lines())
      if (l == line) return true;
    return false;
  }

 private:
  std::mutex m_;
  std::vector<std::string> lines_;
};

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A transfer that logs its steps as status lines and checks that the copy it is handed holds the
// source's bytes. Like the real one it does nothing when the run is no longer ok.
class TFakeTransfer : public mrv::IDbTransfer {
 public:
  struct TShared {
    std::function<void(mrv::TDatabaseKind)> onConnect;  // extra work inside ConnectTarget
    std::function<void(const std::string&)>
        onTransfer;                         // extra work inside Transfer, given the copy
    std::vector<std::string> transferred;   // kinds' names whose copy was transferred
    std::vector<std::string> copyMismatch;  // copies that differed from the source
  };
  TFakeTransfer(mrv::TDbConversionInfo& info, mrv::TDatabaseKind kind, TShared& shared)
      : info_(info), kind_(kind), shared_(shared) {}
  void ConnectTarget() override {
    if (!info_.IsOk()) return;
    info_.ReportStatusFmt("connect %s", mrv::DatabaseDisplayNames[kind_]);
    if (shared_.onConnect) shared_.onConnect(kind_);
  }
  void CheckSource(const std::string& path) override {
    if (!info_.IsOk()) return;
    info_.ReportStatusFmt("check %s", mrv::DatabaseDisplayNames[kind_]);
    if (ReadAll(path) != ReadAll(info_.Tasks[kind_].SourcePath))
      shared_.copyMismatch.push_back(mrv::DatabaseDisplayNames[kind_]);
  }
  void Transfer(const std::string& path) override {
    if (!info_.IsOk()) return;
    info_.ReportStatusFmt("transfer %s", mrv::DatabaseDisplayNames[kind_]);
    shared_.transferred.push_back(mrv::DatabaseDisplayNames[kind_]);
    if (shared_.onTransfer) shared_.onTransfer(path);
  }

 private:
  mrv::TDbConversionInfo& info_;
  mrv::TDatabaseKind kind_;
  TShared& shared_;
};

inline mrv::TDbTransferFactory FakeTransferFactory(TFakeTransfer::TShared& shared) {
  return [&shared](mrv::TDbConversionInfo& info, mrv::TDatabaseKind kind) {
    return std::make_unique<TFakeTransfer>(info, kind, shared);
  };
}

// A service manager whose operations run on real threads and end as scripted.
class TScriptedServices : public mrv::IServiceControl {
 public:
  struct TScript {
    std::uint8_t outcome = mrv::soReached;
    std::string errorText;
    bool untilCancelled = false;  // the operation only ends when cancelled
  };
  bool exists = true;
  std::atomic<bool> running{true};
  TScript stop, start;
  int stops = 0, starts = 0;
  std::vector<std::uint32_t> timeouts;  // of every stop and start, in order
  TEvent operationWaiting;              // set when an untilCancelled operation has begun

  ~TScriptedServices() override {
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }
  bool ServiceExists(const std::string&) override { return exists; }
  bool IsServiceRunning(const std::string&) override { return running; }
  std::int32_t StopServiceAsync(const std::string&, std::uint32_t timeout, bool,
                                TFinished done) override {
    ++stops;
    timeouts.push_back(timeout);
    return Launch(stop, false, std::move(done));
  }
  std::int32_t StartServiceAsync(const std::string&, std::uint32_t timeout,
                                 const std::vector<std::string>*, bool, TFinished done) override {
    ++starts;
    timeouts.push_back(timeout);
    return Launch(start, true, std::move(done));
  }
  bool CancelOperation(std::int32_t id) override {
    std::unique_lock<std::mutex> l(m_);
    if (id != runningId_) return true;
    cancelRequested_ = true;
    cv_.notify_all();
    cv_.wait(l, [this] { return runningId_ == 0; });  // blocks until the thread has gone
    return false;
  }

 private:
  std::int32_t Launch(const TScript& script, bool isStart, TFinished done) {
    std::lock_guard<std::mutex> g(m_);
    const std::int32_t id = ++lastId_;
    runningId_ = id;
    cancelRequested_ = false;
    threads_.emplace_back([this, script, isStart, done] {
      std::uint8_t outcome = script.outcome;
      if (script.untilCancelled) {
        operationWaiting.Set();
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [this] { return cancelRequested_; });
        outcome = mrv::soCancelled;
      }
      if (outcome == mrv::soReached) running = isStart;
      done(outcome == mrv::soError ? script.errorText : std::string(), outcome);
      std::lock_guard<std::mutex> g2(m_);
      runningId_ = 0;
      cv_.notify_all();
    });
    return id;
  }

  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::thread> threads_;
  std::int32_t lastId_ = 0, runningId_ = 0;
  bool cancelRequested_ = false;
};

}  // namespace mrvtest
