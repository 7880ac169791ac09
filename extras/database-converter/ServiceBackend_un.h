#pragma once
// How service control reaches the operating system: a service opened for one operation and the
// backend that opens it (Windows service control manager or systemd, see the platform halves of
// ServiceMgmt_un). Tests may install a backend of their own.

#include <cstdint>
#include <memory>
#include <string>

#include "ServiceCodes_un.h"

namespace mrv {

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

}  // namespace mrv
