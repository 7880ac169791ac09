#pragma once
// Stand-ins for the conversion run's tests: a private temporary folder, a recording transfer,
// a scripted service manager with real operation threads, a thread-safe status log.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
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

// A fresh folder used as TMPDIR for the test's lifetime; removed afterwards.
class TPrivateTempDir {
 public:
  TPrivateTempDir() {
    char pattern[] = "/tmp/runtestXXXXXX";
    path_ = ::mkdtemp(pattern);
    const char* old = std::getenv("TMPDIR");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    ::setenv("TMPDIR", path_.c_str(), 1);
  }
  ~TPrivateTempDir() {
    if (hadOld_)
      ::setenv("TMPDIR", old_.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    std::system(("rm -rf '" + path_ + "'").c_str());
  }
  const std::string& Path() const { return path_; }
  // A file inside the folder (not in the temp-copy pattern) with `size` bytes of a pattern.
  std::string MakeFile(const std::string& name, size_t size) const {
    const std::string p = path_ + "/" + name;
    std::ofstream out(p, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(static_cast<char>('a' + i % 23));
    return p;
  }
  // Names "mrv*.tmp" in a folder.
  static std::vector<std::string> TempCopies(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(folder.c_str())) {
      while (dirent* e = ::readdir(d)) {
        const std::string n = e->d_name;
        if (n.size() >= 7 && n.compare(0, 3, "mrv") == 0 && n.compare(n.size() - 4, 4, ".tmp") == 0)
          names.push_back(n);
      }
      ::closedir(d);
    }
    return names;
  }
  std::vector<std::string> TempCopies() const { return TempCopies(path_); }

 private:
  std::string path_, old_;
  bool hadOld_ = false;
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
    std::vector<std::string> transferred;               // kinds' names whose copy was transferred
    std::vector<std::string> copyMismatch;              // copies that differed from the source
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
  void Transfer(const std::string&) override {
    if (!info_.IsOk()) return;
    info_.ReportStatusFmt("transfer %s", mrv::DatabaseDisplayNames[kind_]);
    shared_.transferred.push_back(mrv::DatabaseDisplayNames[kind_]);
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
  TEvent operationWaiting;  // set when an untilCancelled operation has begun

  ~TScriptedServices() override {
    for (auto& t : threads_)
      if (t.joinable()) t.join();
  }
  bool ServiceExists(const std::string&) override { return exists; }
  bool IsServiceRunning(const std::string&) override { return running; }
  std::int32_t StopServiceAsync(const std::string&, std::uint32_t, bool, TFinished done) override {
    ++stops;
    return Launch(stop, false, std::move(done));
  }
  std::int32_t StartServiceAsync(const std::string&, std::uint32_t, const std::vector<std::string>*, bool,
                                 TFinished done) override {
    ++starts;
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
