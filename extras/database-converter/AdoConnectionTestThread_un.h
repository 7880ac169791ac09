#pragma once
// The connection test of a wizard page: opens and closes one connection with a connection
// string on a short-lived thread of its own and reports one of four outcomes and, on
// failure, the error text. The thread initialises COM (OLE) for itself on Windows.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace mrv {

// Outcomes, numbered after the step that failed.
enum : std::uint8_t {
  ctSucceeded = 0,       // connection opened and closed
  ctCreateFailed = 1,    // the connection object (the access component) could not be created
  ctOpenFailed = 2,      // the connection did not open
  ctStringRejected = 3,  // the connection string was rejected (or an unexpected failure)
};

class TAdoConnectionTestThread;

// Called once when the test is over, on the test thread, after Execute has returned. The
// handler may read Outcome and ErrorMessage; it must not destroy the thread object (the
// wizard posts a message and frees the object on its own thread).
using TConnectionTestDoneEvent = std::function<void(TAdoConnectionTestThread& Sender)>;

class TAdoConnectionTestThread {
 public:
  TAdoConnectionTestThread() = default;
  explicit TAdoConnectionTestThread(std::string connectionString)
      : ConnectionString(std::move(connectionString)) {}
  // Waits for a started test to end.
  ~TAdoConnectionTestThread();
  TAdoConnectionTestThread(const TAdoConnectionTestThread&) = delete;
  TAdoConnectionTestThread& operator=(const TAdoConnectionTestThread&) = delete;

  std::string ConnectionString;          // set before Start
  TConnectionTestDoneEvent OnTerminate;  // optional
  void* Data = nullptr;                  // free for the owner (the wizard keeps its page here)

  // Runs Execute and then OnTerminate on a new thread. Only once per object.
  void Start();
  // Blocks until the thread (and its OnTerminate) has finished. Not from OnTerminate.
  void WaitFor();
  bool Finished() const noexcept { return finished_.load(); }

  // The test itself on the calling thread (Start runs it on the new thread).
  void Execute();

  // Valid once the test has finished.
  std::uint8_t Outcome() const noexcept { return outcome_; }
  const std::string& ErrorMessage() const noexcept { return errorMessage_; }

 private:
  std::string errorMessage_;
  std::uint8_t outcome_ = ctSucceeded;
  std::thread thread_;
  std::atomic<bool> finished_{false};
};

// The message the wizard shows for an outcome, with the error text filled in, and whether
// it is an error (caption "Error", error icon) or not (caption "Information").
std::string ConnectionTestResultText(std::uint8_t outcome, const std::string& errorMessage);
bool ConnectionTestIsError(std::uint8_t outcome) noexcept;

}  // namespace mrv
