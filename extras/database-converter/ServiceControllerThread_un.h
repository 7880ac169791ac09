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

namespace mrv {

// Outcome of one service operation.
enum : std::uint8_t {
  soReached = 0,    // the service reached the final state
  soError = 1,      // failed; ErrorText says why
  soTimedOut = 2,   // no progress within the time limit; ErrorText empty
  soCancelled = 3,  // cancelled through CancelOperation; ErrorText empty
};

// Operation codes.
enum : std::uint8_t {
  soStart = 0,
  soStop = 1,
};

// Service state codes as the Windows service control manager reports them; the systemd half
// maps unit states onto the same codes.
enum : std::uint32_t {
  ssUnknown = 0,
  ssStopped = 1,
  ssStartPending = 2,
  ssStopPending = 3,
  ssRunning = 4,
  ssContinuePending = 5,
  ssPausePending = 6,
  ssPaused = 7,
};

// The last system error code for a service that is not installed (same number on both halves).
constexpr int kErrorServiceDoesNotExist = 1060;

class EServiceControllerThreadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failing operating-system call, raised inside the service thread. what() is
// "System Error.  Code: %d.\r\n%s" with the code and the system's text for it.
class EServiceSystemError : public std::runtime_error {
 public:
  EServiceSystemError(int code, const std::string& text);
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

struct TServiceStatus {
  std::uint32_t CurrentState = ssUnknown;
  std::uint32_t CheckPoint = 0;  // grows while a pending operation makes progress
  std::uint32_t WaitHint = 0;    // milliseconds the service expects the next step to take
};

// A service opened for one operation. Every member raises EServiceSystemError on failure.
class TServiceHandle {
 public:
  virtual ~TServiceHandle() = default;
  virtual TServiceStatus QueryStatus() = 0;
  virtual void RequestStop() = 0;
  virtual void RequestStart(const std::vector<std::string>& arguments) = 0;
  // Releases the service and the manager; a failing release of the service raises.
  virtual void Close() = 0;
};

// Access to the system's services. ServiceExists and IsServiceRunning raise
// EServiceControllerException with the messages of TServiceController; OpenForOperation raises
// EServiceSystemError.
class TServiceBackend {
 public:
  virtual ~TServiceBackend() = default;
  virtual bool ServiceExists(const std::string& name) = 0;
  virtual bool IsServiceRunning(const std::string& name) = 0;
  virtual std::unique_ptr<TServiceHandle> OpenForOperation(const std::string& name,
                                                           std::uint8_t operation) = 0;
};

// The backend of this platform (implemented in ServiceMgmt_un_win32.cpp / _posix.cpp).
std::shared_ptr<TServiceBackend> CreateSystemServiceBackend();

#ifndef _WIN32
// The systemd backend; systemd counts as running when the path bootedMarker exists (the
// system's backend uses /run/systemd/system).
std::shared_ptr<TServiceBackend> CreateSystemdServiceBackend(const std::string& bootedMarker);
#endif

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
