#pragma once
// Service control for the conversion run: synchronous checks whether a service exists and runs,
// and asynchronous start and stop operations, each carried out by its own
// TServiceControllerThread. A running operation is identified by a number (1..2147483647,
// wrapping back to 1; 0 is never handed out) and can be cancelled.
//
// On Windows the service control manager is used. On Linux the name maps to a systemd unit:
// a name without a '.' gets ".service" appended ("MRVSVC" -> "MRVSVC.service"), a name with a
// suffix ("foo.service", "bar.target") is used as given.
//
// Strings are UTF-8.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ServiceControllerThread_un.h"

namespace mrv {

class EServiceControllerException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TServiceController {
 public:
  // True when the service is installed. Raises EServiceControllerException when the manager
  // cannot be opened or the service cannot be opened for a reason other than its absence.
  static bool ServiceExists(const std::string& Name);

  // True unless the service reports the stopped state. Raises EServiceControllerException
  // (also for an absent service).
  static bool IsServiceRunning(const std::string& Name);

  // Start the service on a thread of its own; returns the operation number. Timeout is the
  // time in ms without a state change or checkpoint progress after which the wait gives up.
  static std::int32_t StartServiceAsync(const std::string& Name, std::uint32_t Timeout,
                                        const std::vector<std::string>* Arguments, bool UseWaitHint,
                                        TServiceFinishedEvent OnFinished, void* Data = nullptr);

  // Stop the service on a thread of its own; returns the operation number.
  static std::int32_t StopServiceAsync(const std::string& Name, std::uint32_t Timeout,
                                       bool UseWaitHint, TServiceFinishedEvent OnFinished,
                                       void* Data = nullptr);

  // Asks the operation's thread to stop and waits until the thread has ended. Returns true when
  // no running operation had that number (also for 0 and for operations that already ended).
  static bool CancelOperation(std::int32_t OperationId);

  // Number of operations whose thread has not yet left the module's list.
  static std::size_t RunningOperationCount();

  // Replaces the backend used by later calls (nullptr restores the system's); returns the
  // previous one. Meant for tests.
  static std::shared_ptr<TServiceBackend> SetBackend(std::shared_ptr<TServiceBackend> backend);

  // Sets the next operation number to hand out (values below 1 become 1). Meant for tests.
  static void SetNextOperationId(std::int32_t next);
};

}  // namespace mrv
