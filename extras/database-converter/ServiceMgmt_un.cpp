// Service control: the module-wide list of running operations, operation numbers, and the
// class functions that start, stop and cancel operations. The system calls themselves live in
// the platform halves (ServiceMgmt_un_win32.cpp, ServiceMgmt_un_posix.cpp).

#include "ServiceMgmt_un.h"

#include <algorithm>
#include <condition_variable>
#include <limits>
#include <mutex>

namespace mrv {

namespace {

// Module-wide state. Threads that have left the running list wait in `finished` until some
// caller joins them; every class function and the module's end join what is there.
class TServiceModule {
 public:
  ~TServiceModule() {
    std::unique_lock<std::mutex> guard(listLock_);
    for (auto& thread : running_) thread->Terminate();
    listChanged_.wait(guard, [this] { return running_.empty(); });
    guard.unlock();
    Reap();
  }

  std::shared_ptr<TServiceBackend> Backend() {
    std::lock_guard<std::mutex> guard(backendLock_);
    if (!backend_) backend_ = CreateSystemServiceBackend();
    return backend_;
  }

  std::shared_ptr<TServiceBackend> SetBackend(std::shared_ptr<TServiceBackend> backend) {
    std::lock_guard<std::mutex> guard(backendLock_);
    std::swap(backend_, backend);
    return backend;
  }

  // The number handed out is the counter's value; the counter then wraps from the largest
  // 32-bit value back to 1, so 0 ("no operation") is never handed out.
  std::int32_t NextOperationId() {
    std::lock_guard<std::mutex> guard(idLock_);
    const std::int32_t id = nextId_;
    nextId_ = nextId_ >= std::numeric_limits<std::int32_t>::max() ? 1 : nextId_ + 1;
    return id;
  }

  void SetNextOperationId(std::int32_t next) {
    std::lock_guard<std::mutex> guard(idLock_);
    nextId_ = next < 1 ? 1 : next;
  }

  std::int32_t Launch(std::unique_ptr<TServiceControllerThread> thread) {
    Reap();
    thread->OperationId = NextOperationId();
    thread->OnDone = [this](TServiceControllerThread& self) { ThreadDone(self); };
    TServiceControllerThread* raw = thread.get();
    const std::int32_t id = raw->OperationId;
    {
      std::lock_guard<std::mutex> guard(listLock_);
      running_.push_back(std::move(thread));
    }
    try {
      raw->Start();
    } catch (...) {
      std::unique_ptr<TServiceControllerThread> failed = TakeRunning(raw);
      throw;
    }
    return id;
  }

  bool Cancel(std::int32_t operationId) {
    bool terminated = false;
    {
      std::unique_lock<std::mutex> guard(listLock_);
      for (;;) {
        auto it = std::find_if(running_.begin(), running_.end(), [&](const auto& thread) {
          return thread->OperationId == operationId;
        });
        if (it == running_.end()) break;
        TServiceControllerThread& thread = **it;
        if (!thread.Terminated()) {
          thread.Terminate();
          terminated = true;
        }
        // Called from the operation's own callback: it cannot wait for itself.
        if (thread.ThreadId() == std::this_thread::get_id()) break;
        listChanged_.wait(guard);
      }
    }
    Reap();
    return !terminated;
  }

  std::size_t RunningCount() {
    Reap();
    std::lock_guard<std::mutex> guard(listLock_);
    return running_.size();
  }

 private:
  // On the service thread, as its very last action: leave the running list, wake waiters.
  void ThreadDone(TServiceControllerThread& self) {
    {
      std::lock_guard<std::mutex> guard(listLock_);
      std::unique_ptr<TServiceControllerThread> mine = TakeRunningLocked(&self);
      if (mine) finished_.push_back(std::move(mine));
    }
    listChanged_.notify_all();
  }

  std::unique_ptr<TServiceControllerThread> TakeRunning(TServiceControllerThread* thread) {
    std::lock_guard<std::mutex> guard(listLock_);
    return TakeRunningLocked(thread);
  }

  std::unique_ptr<TServiceControllerThread> TakeRunningLocked(TServiceControllerThread* thread) {
    auto it = std::find_if(running_.begin(), running_.end(),
                           [&](const auto& entry) { return entry.get() == thread; });
    if (it == running_.end()) return nullptr;
    std::unique_ptr<TServiceControllerThread> taken = std::move(*it);
    running_.erase(it);
    return taken;
  }

  // Joins and frees the threads that have ended. Serialised so that a second caller returns
  // only after the first one's joins are complete.
  void Reap() {
    std::lock_guard<std::mutex> reapGuard(reapLock_);
    std::vector<std::unique_ptr<TServiceControllerThread>> done;
    {
      std::lock_guard<std::mutex> guard(listLock_);
      done.swap(finished_);
    }
    done.clear();  // each destructor joins its thread
  }

  std::mutex listLock_;
  std::condition_variable listChanged_;  // every thread signals it when it leaves the list
  std::vector<std::unique_ptr<TServiceControllerThread>> running_;
  std::vector<std::unique_ptr<TServiceControllerThread>> finished_;
  std::mutex reapLock_;
  std::mutex idLock_;
  std::int32_t nextId_ = 1;
  std::mutex backendLock_;
  std::shared_ptr<TServiceBackend> backend_;
};

TServiceModule& Module() {
  static TServiceModule module;
  return module;
}

}  // namespace

bool TServiceController::ServiceExists(const std::string& Name) {
  return Module().Backend()->ServiceExists(Name);
}

bool TServiceController::IsServiceRunning(const std::string& Name) {
  return Module().Backend()->IsServiceRunning(Name);
}

std::int32_t TServiceController::StartServiceAsync(const std::string& Name, std::uint32_t Timeout,
                                                   const std::vector<std::string>* Arguments,
                                                   bool UseWaitHint,
                                                   TServiceFinishedEvent OnFinished, void* Data) {
  auto thread = std::make_unique<TServiceControllerThread>(Module().Backend());
  thread->Operation = soStart;
  thread->ServiceName = Name;
  thread->Timeout = Timeout;
  thread->UseWaitHint = UseWaitHint;
  if (Arguments) thread->Arguments = *Arguments;
  thread->OnFinished = std::move(OnFinished);
  thread->Data = Data;
  return Module().Launch(std::move(thread));
}

std::int32_t TServiceController::StopServiceAsync(const std::string& Name, std::uint32_t Timeout,
                                                  bool UseWaitHint,
                                                  TServiceFinishedEvent OnFinished, void* Data) {
  auto thread = std::make_unique<TServiceControllerThread>(Module().Backend());
  thread->Operation = soStop;
  thread->ServiceName = Name;
  thread->Timeout = Timeout;
  thread->UseWaitHint = UseWaitHint;
  thread->OnFinished = std::move(OnFinished);
  thread->Data = Data;
  return Module().Launch(std::move(thread));
}

bool TServiceController::CancelOperation(std::int32_t OperationId) {
  return Module().Cancel(OperationId);
}

std::size_t TServiceController::RunningOperationCount() { return Module().RunningCount(); }

std::shared_ptr<TServiceBackend> TServiceController::SetBackend(
    std::shared_ptr<TServiceBackend> backend) {
  return Module().SetBackend(std::move(backend));
}

void TServiceController::SetNextOperationId(std::int32_t next) {
  Module().SetNextOperationId(next);
}

}  // namespace mrv
