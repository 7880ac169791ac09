// The service operation thread: request the state change, then poll until the final state.

#include "ServiceControllerThread_un.h"

#include "BaseText.h"

#include <chrono>

namespace mrv {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(10);

// Milliseconds of a monotonic 64-bit clock: no wrap-around during a wait.
std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// True when at least limit + 10 ms have passed since start.
bool Elapsed(std::int64_t start, std::uint32_t limit) {
  return NowMs() - start >= static_cast<std::int64_t>(limit) + 10;
}

}  // namespace

EServiceSystemError::EServiceSystemError(int code, const std::string& text)
    : std::runtime_error(base::Format("System Error.  Code: %d.\r\n%s", code, text.c_str())),
      code_(code) {}

std::uint32_t ClampWaitHint(std::uint32_t waitHint) {
  if (waitHint == 0) return 2000;
  if (waitHint < 1000) return 1000;
  return waitHint;
}

TServiceControllerThread::TServiceControllerThread(std::shared_ptr<TServiceBackend> backend)
    : backend_(std::move(backend)) {}

TServiceControllerThread::~TServiceControllerThread() { WaitFor(); }

void TServiceControllerThread::Start() {
  std::lock_guard<std::mutex> guard(startLock_);
  thread_ = std::thread([this] { Execute(); });
}

void TServiceControllerThread::Terminate() {
  {
    std::lock_guard<std::mutex> guard(sleepLock_);
    terminated_.store(true);
  }
  sleepWake_.notify_all();
}

void TServiceControllerThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TServiceControllerThread::Execute() {
  // Wait until Start has finished storing thread_, so that whoever joins us sees it.
  { std::lock_guard<std::mutex> guard(startLock_); }
  threadId_.store(std::this_thread::get_id());
  try {
    try {
      RunOperation();
    } catch (const std::exception& e) {
      ErrorText = e.what();
      Outcome = soError;
    } catch (...) {
      // A failure without a message must still not read as success.
      ErrorText = "Unknown error.";
      Outcome = soError;
    }
    if (OnFinished) OnFinished(*this, OperationId, ErrorText, Outcome);
  } catch (...) {
    // Nothing escapes the thread; the list must still be told that it has ended.
  }
  try {
    if (OnDone) OnDone(*this);
  } catch (...) {
  }
}

void TServiceControllerThread::RunOperation() {
  if (!backend_) throw EServiceControllerThreadError("No service backend.");
  if (Operation != soStart && Operation != soStop)
    throw EServiceControllerThreadError("Not implemented.");
  std::unique_ptr<TServiceHandle> service = backend_->OpenForOperation(ServiceName, Operation);
  if (Operation == soStop) {
    service->RequestStop();
    Outcome = WaitForState(*service, {ssRunning, ssStopPending, ssStopped});
  } else {
    service->RequestStart(Arguments);
    Outcome = WaitForState(*service, {ssStartPending, ssRunning});
  }
  service->Close();
}

std::uint8_t TServiceControllerThread::WaitForState(TServiceHandle& service,
                                                    const std::vector<std::uint32_t>& sequence) {
  std::size_t position = 0;
  std::uint32_t lastState = ssUnknown;
  std::uint32_t lastCheckPoint = 0;
  std::int64_t startTick = NowMs();
  bool first = true;
  for (;;) {
    const TServiceStatus status = service.QueryStatus();
    if (first || status.CurrentState != lastState) {
      first = false;
      std::size_t found = position;
      while (found < sequence.size() && sequence[found] != status.CurrentState) ++found;
      if (found == sequence.size()) {
        ErrorText = "The operation failed. Please check the Windows Event Log.";
        return soError;
      }
      position = found;
      if (position == sequence.size() - 1) return soReached;
      startTick = NowMs();
      lastState = status.CurrentState;
    } else if (status.CheckPoint > lastCheckPoint) {
      startTick = NowMs();
      lastCheckPoint = status.CheckPoint;
    } else if (UseWaitHint && Elapsed(startTick, ClampWaitHint(status.WaitHint))) {
      return soTimedOut;
    }
    // A time-out seen in the same poll as a cancel request wins.
    if (Elapsed(startTick, Timeout)) return soTimedOut;
    if (Terminated()) return soCancelled;
    SleepPoll();
  }
}

void TServiceControllerThread::SleepPoll() {
  std::unique_lock<std::mutex> guard(sleepLock_);
  sleepWake_.wait_for(guard, kPollInterval, [this] { return terminated_.load(); });
}

}  // namespace mrv
