#pragma once
// Service control as the conversion procedure uses it: synchronous queries and asynchronous
// stop/start operations that report once through a callback on another thread. The default
// implementation forwards to TServiceController; tests substitute a scripted one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ServiceControllerThread_un.h"  // the outcome codes soReached .. soCancelled

namespace mrv {

class IServiceControl {
 public:
  // Called exactly once per operation, on the operation's own thread, with the outcome
  // soReached, soError (errorText says why), soTimedOut or soCancelled.
  using TFinished = std::function<void(const std::string& errorText, std::uint8_t outcome)>;

  virtual ~IServiceControl() = default;
  // Both raise on failure of the query itself.
  virtual bool ServiceExists(const std::string& name) = 0;
  virtual bool IsServiceRunning(const std::string& name) = 0;
  // Start an operation; return its number (never 0).
  virtual std::int32_t StopServiceAsync(const std::string& name, std::uint32_t timeoutMs,
                                        bool useWaitHint, TFinished onFinished) = 0;
  virtual std::int32_t StartServiceAsync(const std::string& name, std::uint32_t timeoutMs,
                                         const std::vector<std::string>* arguments,
                                         bool useWaitHint, TFinished onFinished) = 0;
  // Asks the operation to stop and returns once its thread has gone; true when no running
  // operation had that number.
  virtual bool CancelOperation(std::int32_t operationId) = 0;
};

// The implementation over the platform's service manager.
std::shared_ptr<IServiceControl> DefaultServiceControl();

}  // namespace mrv
