// Service operations against a scripted backend: outcomes, time-outs, progress, wait hints,
// operation numbers and cancellation, with the real operation threads.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

#include "ServiceMgmt_un.h"

using namespace mrv;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A service whose status follows a script of the time since the stop or start request.
class TScriptedBackend : public TServiceBackend {
 public:
  std::function<TServiceStatus(std::int64_t ms)> Script = [](std::int64_t) {
    return TServiceStatus{ssStopped, 0, 0};
  };
  std::function<void()> OnOpen = [] {};
  std::function<void()> OnRequest = [] {};
  std::atomic<int> Polls{0};
  std::mutex Lock;
  std::vector<std::string> StartArguments;

  bool ServiceExists(const std::string&) override { return true; }
  bool IsServiceRunning(const std::string&) override { return true; }

  std::unique_ptr<TServiceHandle> OpenForOperation(const std::string&, std::uint8_t) override {
    OnOpen();
    return std::make_unique<THandle>(*this);
  }

 private:
  class THandle : public TServiceHandle {
   public:
    explicit THandle(TScriptedBackend& owner) : owner_(owner) {}
    TServiceStatus QueryStatus() override {
      ++owner_.Polls;
      return owner_.Script(MsSince(requested_));
    }
    void RequestStop() override { Request(); }
    void RequestStart(const std::vector<std::string>& arguments) override {
      {
        std::lock_guard<std::mutex> guard(owner_.Lock);
        owner_.StartArguments = arguments;
      }
      Request();
    }
    void Close() override {}

   private:
    void Request() {
      owner_.OnRequest();
      requested_ = Clock::now();
    }
    TScriptedBackend& owner_;
    Clock::time_point requested_ = Clock::now();
  };
};

// Collects the one callback of an operation.
struct TFinished {
  std::mutex Lock;
  std::condition_variable Changed;
  int Calls = 0;
  std::int32_t OperationId = 0;
  std::string ErrorText;
  std::uint8_t Outcome = 255;
  void* Data = nullptr;
  std::int64_t ElapsedMs = 0;
  Clock::time_point Started = Clock::now();
  std::chrono::milliseconds Linger{0};  // the callback takes this long
  bool Returned = false;

  TServiceFinishedEvent Event() {
    Started = Clock::now();
    return [this](TServiceControllerThread& sender, std::int32_t id, const std::string& text,
                  std::uint8_t outcome) {
      {
        std::lock_guard<std::mutex> guard(Lock);
        ++Calls;
        OperationId = id;
        ErrorText = text;
        Outcome = outcome;
        Data = sender.Data;
        ElapsedMs = MsSince(Started);
      }
      Changed.notify_all();
      std::this_thread::sleep_for(Linger);
      std::lock_guard<std::mutex> guard(Lock);
      Returned = true;
    };
  }

  bool Wait(std::chrono::milliseconds limit = 10s) {
    std::unique_lock<std::mutex> guard(Lock);
    return Changed.wait_for(guard, limit, [this] { return Calls > 0; });
  }
};

TServiceStatus Status(std::uint32_t state, std::uint32_t checkPoint = 0, std::uint32_t hint = 0) {
  return {state, checkPoint, hint};
}

bool WaitUntilNoOperation(std::chrono::milliseconds limit = 10s) {
  const auto end = Clock::now() + limit;
  while (TServiceController::RunningOperationCount() != 0) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

class ServiceOperations : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = TServiceController::SetBackend(backend_); }
  void TearDown() override {
    EXPECT_TRUE(WaitUntilNoOperation());
    TServiceController::SetBackend(previous_);
  }

  std::int32_t Stop(TFinished& finished, std::uint32_t timeout, bool useWaitHint = false,
                    void* data = nullptr) {
    return TServiceController::StopServiceAsync("MRVSVC", timeout, useWaitHint, finished.Event(),
                                                data);
  }
  std::int32_t Start(TFinished& finished, std::uint32_t timeout,
                     const std::vector<std::string>* arguments = nullptr) {
    return TServiceController::StartServiceAsync("MRVSVC", timeout, arguments, false,
                                                 finished.Event());
  }

  // Collectors live until TearDown has seen every operation end.
  TFinished& Make() { return collectors_.emplace_back(); }

  std::shared_ptr<TScriptedBackend> backend_ = std::make_shared<TScriptedBackend>();
  std::shared_ptr<TServiceBackend> previous_;
  std::deque<TFinished> collectors_;
};

TEST(ServiceWaitHint, ClampsSmallHints) {
  EXPECT_EQ(ClampWaitHint(0), 2000u);
  EXPECT_EQ(ClampWaitHint(1), 1000u);
  EXPECT_EQ(ClampWaitHint(999), 1000u);
  EXPECT_EQ(ClampWaitHint(1000), 1000u);
  EXPECT_EQ(ClampWaitHint(45000), 45000u);
}

TEST_F(ServiceOperations, ReachesTheFinalStateThroughTheExpectedSequence) {
  backend_->Script = [](std::int64_t ms) {
    if (ms < 40) return Status(ssRunning);
    if (ms < 120) return Status(ssStopPending, static_cast<std::uint32_t>(ms / 20), 500);
    return Status(ssStopped);
  };
  TFinished& stop = Make();
  int marker = 0;
  const std::int32_t id = Stop(stop, 5000, false, &marker);
  EXPECT_GT(id, 0);
  ASSERT_TRUE(stop.Wait());
  EXPECT_EQ(stop.Outcome, soReached);
  EXPECT_EQ(stop.ErrorText, "");
  EXPECT_EQ(stop.OperationId, id);
  EXPECT_EQ(stop.Data, &marker);
  EXPECT_GE(stop.ElapsedMs, 120);
  ASSERT_TRUE(WaitUntilNoOperation());
  EXPECT_EQ(stop.Calls, 1);

  // A service that is running at the first poll after a start skips start pending.
  backend_->Script = [](std::int64_t) { return Status(ssRunning); };
  backend_->Polls = 0;
  TFinished& start = Make();
  const std::vector<std::string> arguments{"-a", "b c"};
  Start(start, 5000, &arguments);
  ASSERT_TRUE(start.Wait());
  EXPECT_EQ(start.Outcome, soReached);
  EXPECT_EQ(backend_->Polls.load(), 1);
  EXPECT_EQ(backend_->StartArguments, arguments);
}

TEST_F(ServiceOperations, FailingSystemCallsEndWithTheSystemErrorText) {
  backend_->OnRequest = [] { throw EServiceSystemError(1062, "The service has not been started"); };
  TFinished& stop = Make();
  Stop(stop, 5000);
  ASSERT_TRUE(stop.Wait());
  EXPECT_EQ(stop.Outcome, soError);
  EXPECT_EQ(stop.ErrorText, "System Error.  Code: 1062.\r\nThe service has not been started");

  backend_->OnRequest = [] {};
  backend_->OnOpen = [] { throw EServiceSystemError(5, "Access is denied"); };
  TFinished& start = Make();
  Start(start, 5000);
  ASSERT_TRUE(start.Wait());
  EXPECT_EQ(start.Outcome, soError);
  EXPECT_EQ(start.ErrorText, "System Error.  Code: 5.\r\nAccess is denied");

  // A status query failing in the middle of the wait.
  backend_->OnOpen = [] {};
  backend_->Script = [](std::int64_t ms) {
    if (ms >= 30) throw EServiceSystemError(6, "The handle is invalid");
    return Status(ssStopPending);
  };
  TFinished& query = Make();
  Stop(query, 5000);
  ASSERT_TRUE(query.Wait());
  EXPECT_EQ(query.Outcome, soError);
  EXPECT_EQ(query.ErrorText, "System Error.  Code: 6.\r\nThe handle is invalid");
}

TEST_F(ServiceOperations, TimesOutWithoutProgress) {
  backend_->Script = [](std::int64_t) { return Status(ssStopPending, 3, 0); };
  TFinished& stop = Make();
  Stop(stop, 100);
  ASSERT_TRUE(stop.Wait());
  EXPECT_EQ(stop.Outcome, soTimedOut);
  EXPECT_EQ(stop.ErrorText, "");
  EXPECT_GE(stop.ElapsedMs, 110);
  EXPECT_LT(stop.ElapsedMs, 5000);
}

TEST_F(ServiceOperations, ProgressRestartsTheTimeOut) {
  // Checkpoints keep growing for 700 ms; the limit is 150 ms without progress.
  backend_->Script = [](std::int64_t ms) {
    if (ms < 700) return Status(ssStopPending, static_cast<std::uint32_t>(1 + ms / 20));
    return Status(ssStopped);
  };
  TFinished& byCheckPoint = Make();
  Stop(byCheckPoint, 150);
  ASSERT_TRUE(byCheckPoint.Wait());
  EXPECT_EQ(byCheckPoint.Outcome, soReached);
  EXPECT_GE(byCheckPoint.ElapsedMs, 700);
  ASSERT_TRUE(WaitUntilNoOperation());

  // A state change restarts it as well: 300 ms running, 400 ms stop pending, limit 500 ms.
  backend_->Script = [](std::int64_t ms) {
    if (ms < 300) return Status(ssRunning, 1);
    if (ms < 700) return Status(ssStopPending, 1);
    return Status(ssStopped);
  };
  TFinished& byState = Make();
  Stop(byState, 500);
  ASSERT_TRUE(byState.Wait());
  EXPECT_EQ(byState.Outcome, soReached);
  EXPECT_GE(byState.ElapsedMs, 700);
}

TEST_F(ServiceOperations, WaitHintLimitsTheWaitOnlyWhenAskedFor) {
  // A hint of 500 ms is raised to 1000 ms; the time-out itself is far away.
  backend_->Script = [](std::int64_t) { return Status(ssStopPending, 1, 500); };
  TFinished& hinted = Make();
  Stop(hinted, 60000, true);
  ASSERT_TRUE(hinted.Wait());
  EXPECT_EQ(hinted.Outcome, soTimedOut);
  EXPECT_GE(hinted.ElapsedMs, 1010);
  EXPECT_LT(hinted.ElapsedMs, 8000);
  ASSERT_TRUE(WaitUntilNoOperation());

  TFinished& unhinted = Make();
  const std::int32_t id = Stop(unhinted, 60000, false);
  EXPECT_FALSE(unhinted.Wait(1500ms));
  EXPECT_FALSE(TServiceController::CancelOperation(id));
  EXPECT_EQ(unhinted.Outcome, soCancelled);
}

TEST_F(ServiceOperations, CancelBlocksUntilTheThreadHasGone) {
  backend_->Script = [](std::int64_t) { return Status(ssStopPending, 1); };
  TFinished& stop = Make();
  stop.Linger = 200ms;
  const std::int32_t id = Stop(stop, 60000);
  while (backend_->Polls.load() < 2) std::this_thread::sleep_for(2ms);
  const auto before = Clock::now();

  EXPECT_FALSE(TServiceController::CancelOperation(id));
  {
    std::lock_guard<std::mutex> guard(stop.Lock);
    EXPECT_TRUE(stop.Returned);  // the callback had finished before CancelOperation returned
    EXPECT_EQ(stop.Calls, 1);
    EXPECT_EQ(stop.Outcome, soCancelled);
    EXPECT_EQ(stop.ErrorText, "");
  }
  EXPECT_GE(MsSince(before), 190);
  EXPECT_EQ(TServiceController::RunningOperationCount(), 0u);
  // The thread object has been joined and freed: only this test and the module hold the backend.
  EXPECT_EQ(backend_.use_count(), 2);

  // Numbers of ended operations, and 0, cancel nothing.
  EXPECT_TRUE(TServiceController::CancelOperation(id));
  EXPECT_TRUE(TServiceController::CancelOperation(0));
}

TEST_F(ServiceOperations, CancelTouchesOnlyItsOwnOperationAndToleratesConcurrentCallers) {
  backend_->Script = [](std::int64_t) { return Status(ssStopPending, 1); };
  TFinished* ops[4];
  std::int32_t ids[4];
  for (int i = 0; i < 4; ++i) ids[i] = Stop(*(ops[i] = &Make()), 60000);
  EXPECT_EQ(TServiceController::RunningOperationCount(), 4u);

  EXPECT_FALSE(TServiceController::CancelOperation(ids[1]));
  EXPECT_EQ(ops[1]->Outcome, soCancelled);
  EXPECT_EQ(TServiceController::RunningOperationCount(), 3u);
  for (int i : {0, 2, 3}) EXPECT_EQ(ops[i]->Calls, 0);

  // Two callers cancel the same operation at once: both return after it has gone and exactly
  // one of them is the one that stopped it.
  ops[2]->Linger = 100ms;
  std::atomic<int> stoppedIt{0};
  auto cancel = [&] {
    if (!TServiceController::CancelOperation(ids[2])) ++stoppedIt;
    EXPECT_EQ(ops[2]->Calls, 1);
    std::lock_guard<std::mutex> guard(ops[2]->Lock);
    EXPECT_TRUE(ops[2]->Returned);
  };
  std::thread first(cancel), second(cancel);
  first.join();
  second.join();
  EXPECT_EQ(stoppedIt.load(), 1);

  EXPECT_FALSE(TServiceController::CancelOperation(ids[0]));
  EXPECT_FALSE(TServiceController::CancelOperation(ids[3]));
  EXPECT_EQ(TServiceController::RunningOperationCount(), 0u);
}

TEST_F(ServiceOperations, OperationNumbersWrapToOneAndNeverGiveZero) {
  backend_->Script = [](std::int64_t) { return Status(ssStopped); };
  const std::int32_t max = std::numeric_limits<std::int32_t>::max();
  TServiceController::SetNextOperationId(max - 1);
  std::vector<std::int32_t> ids;
  TFinished* ops[4];
  for (auto& op : ops) ids.push_back(Stop(*(op = &Make()), 1000));
  EXPECT_EQ(ids, (std::vector<std::int32_t>{max - 1, max, 1, 2}));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(ops[i]->Wait());
    EXPECT_EQ(ops[i]->OperationId, ids[static_cast<std::size_t>(i)]);
  }
}

TEST_F(ServiceOperations, ListEmptiesEvenWhenTheCallbackThrows) {
  backend_->Script = [](std::int64_t) { return Status(ssStopped); };
  std::atomic<int> calls{0};
  for (int i = 0; i < 3; ++i)
    TServiceController::StopServiceAsync(
        "MRVSVC", 1000, false,
        [&](TServiceControllerThread&, std::int32_t, const std::string&, std::uint8_t) {
          ++calls;
          throw std::runtime_error("callback failure");
        });
  EXPECT_TRUE(WaitUntilNoOperation());
  EXPECT_EQ(calls.load(), 3);
}

TEST(ServiceControllerThread, UnknownOperationIsNotImplemented) {
  TServiceControllerThread thread(std::make_shared<TScriptedBackend>());
  thread.Operation = 7;
  std::vector<std::string> order;
  thread.OnFinished = [&](TServiceControllerThread&, std::int32_t, const std::string& text,
                          std::uint8_t outcome) {
    order.push_back("finished " + text + " " + std::to_string(outcome));
  };
  thread.OnDone = [&](TServiceControllerThread&) { order.push_back("done"); };
  thread.Start();
  thread.WaitFor();
  EXPECT_EQ(order, (std::vector<std::string>{"finished Not implemented. 1", "done"}));
}

}  // namespace
