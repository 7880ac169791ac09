#pragma once
// One asynchronous service operation (start or stop) carried out on a thread of its own: the
// thread asks for the state change, polls the service every 10 ms until it reaches the final
// state, fails, times out or is cancelled, and then reports the outcome through OnFinished.
//
// The operating system is reached through TServiceBackend (Windows service control manager or
// systemd, see the platform halves of ServiceMgmt_un); tests may install a backend of their own.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ServiceBackend_un.h"
#include "ServiceCodes_un.h"

namespace mrv {

class TServiceControllerThread;

// Called exactly once per operation, on the service thread, after the work and before the
// thread leaves the module's list. Sender.Data carries the caller's Data pointer.
using TServiceFinishedEvent =
    std::function<void(TServiceControllerThread& Sender, std::int32_t OperationId,
                       const std::string& ErrorText, std::uint8_t Outcome)>;

// The thread object is owned by whoever creates it (TServiceController keeps it in its module
// list); it does not free itself. When the work and OnFinished are over, OnDone lets the owner
// take it off its list and wake waiters; the owner then joins and frees it.
class TServiceControllerThread {
 public:
  explicit TServiceControllerThread(std::shared_ptr<TServiceBackend> backend);
  // Joins the thread if it was started and not yet joined.
  ~TServiceControllerThread();
  TServiceControllerThread(const TServiceControllerThread&) = delete;
  TServiceControllerThread& operator=(const TServiceControllerThread&) = delete;

  std::string ServiceName;           // UTF-8
  std::uint8_t Operation = soStart;  // soStart or soStop
  std::uint32_t Timeout = 0;         // ms without progress after which the wait gives up
  std::uint8_t Outcome = soReached;
  std::string ErrorText;             // empty unless Outcome is soError
  TServiceFinishedEvent OnFinished;  // may be empty
  void* Data = nullptr;              // handed back to OnFinished's receiver
  std::int32_t OperationId = 0;
  bool UseWaitHint = false;            // the service's wait hint also limits the wait
  std::vector<std::string> Arguments;  // start arguments

  // Called last on the service thread, after OnFinished (the module's list removes the thread
  // here and wakes waiters). Exceptions from it are swallowed.
  std::function<void(TServiceControllerThread&)> OnDone;

  // Launches the thread. Raises std::system_error when no thread can be created.
  void Start();
  // Asks the thread to end; it notices between two polls.
  void Terminate();
  bool Terminated() const noexcept { return terminated_.load(); }
  // Waits until the thread has ended (no-op when it was never started or is the caller).
  void WaitFor();
  std::thread::id ThreadId() const noexcept { return threadId_.load(); }

 private:
  void Execute();
  void RunOperation();
  std::uint8_t WaitForState(TServiceHandle& service, const std::vector<std::uint32_t>& sequence);
  void SleepPoll();

  std::shared_ptr<TServiceBackend> backend_;
  std::mutex startLock_;  // held while thread_ is assigned; the body waits for it
  std::thread thread_;
  std::atomic<std::thread::id> threadId_{};
  std::atomic<bool> terminated_{false};
  std::mutex sleepLock_;
  std::condition_variable sleepWake_;
};

// The wait hint as the wait uses it: 0 becomes 2000 ms, 1..999 become 1000 ms.
std::uint32_t ClampWaitHint(std::uint32_t waitHint);

}  // namespace mrv
