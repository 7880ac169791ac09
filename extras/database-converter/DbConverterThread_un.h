#pragma once
// The worker thread of a conversion run. It owns the conversion procedure, runs it with COM
// initialised (Windows), records an escaped exception as the run's error, and calls a completion
// callback after the run has ended. The owner keeps the object alive until the thread has ended
// (WaitFor, or the destructor, which waits).

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "DbConverter_un.h"

namespace mrv {

class TDbConverterThread {
 public:
  // Runs on the worker thread after Execute has returned; front ends hand it on to their own
  // thread. It must not destroy the thread object.
  using TFinishedEvent = std::function<void(TDbConverterThread& sender)>;

  TDbConverterThread() = default;
  ~TDbConverterThread();
  TDbConverterThread(const TDbConverterThread&) = delete;
  TDbConverterThread& operator=(const TDbConverterThread&) = delete;

  // Borrows `info` and creates the procedure for it. Before Start.
  void Setup(TDbConversionInfo& info, TDbTransferFactory factory = {},
             std::shared_ptr<IServiceControl> services = {});
  TFinishedEvent OnFinished;

  // Starts the worker thread (once).
  void Start();
  // Forwards to the procedure's Cancel. Any thread.
  void Cancel();
  // Waits until the worker, including OnFinished, has ended.
  void WaitFor();
  bool Finished() const;

  TDbConverter* Converter() const { return converter_.get(); }
  TDbConversionInfo* Info() const { return info_; }

  // The thread's body: the run, with escaped exceptions recorded as the run's error.
  void Execute();

 private:
  TDbConversionInfo* info_ = nullptr;
  std::unique_ptr<TDbConverter> converter_;
  std::thread thread_;
  mutable std::mutex stateLock_;
  std::condition_variable finishedCv_;
  bool finished_ = false;
};

}  // namespace mrv
