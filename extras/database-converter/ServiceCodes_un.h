#pragma once
// The codes and exceptions of service control: the outcome of an operation, the operation
// codes, the service state codes (as the Windows service control manager reports them; the
// systemd half maps unit states onto them) and the errors raised on the service thread.

#include <cstdint>
#include <stdexcept>
#include <string>

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

}  // namespace mrv
