// The connection test thread.
#include "AdoConnectionTestThread_un.h"

#include <stdexcept>

#include "Ado.h"

namespace mrv {

TAdoConnectionTestThread::~TAdoConnectionTestThread() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();  // destroyed from its own handler: cannot wait for itself
  else
    thread_.join();
}

void TAdoConnectionTestThread::Start() {
  if (thread_.joinable() || finished_)
    throw std::logic_error("The connection test has already been started.");
  thread_ = std::thread([this] {
    Execute();
    finished_ = true;
    if (OnTerminate) OnTerminate(*this);
  });
}

void TAdoConnectionTestThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TAdoConnectionTestThread::Execute() {
  ado::ComInitializer com(/*ole=*/true);
  outcome_ = ctSucceeded;
  errorMessage_.clear();
  try {
    ado::Connection connection;  // the object; released when Execute ends
    try {
      connection.SetConnectionString(ConnectionString);
    } catch (const ado::EAdoError& e) {
      outcome_ = e.ComponentUnavailable() ? ctCreateFailed : ctStringRejected;
      throw;
    } catch (...) {
      outcome_ = ctStringRejected;
      throw;
    }
    try {
      connection.Open();
    } catch (...) {
      outcome_ = ctOpenFailed;
      throw;
    }
    connection.Close();  // errors ignored
  } catch (const std::exception& e) {
    errorMessage_ = e.what();  // the access layer has masked the passwords
  } catch (...) {
    // A failure of an unknown kind must never read as success.
    if (outcome_ == ctSucceeded) outcome_ = ctStringRejected;
    errorMessage_ = "Unknown error.";
  }
}

std::string ConnectionTestResultText(std::uint8_t outcome, const std::string& errorMessage) {
  switch (outcome) {
    case ctSucceeded: return "Connection test was successful.";
    case ctCreateFailed:
      return "There are problems with the Microsoft MDAC components on this system.\r\n"
             "Please contact our Technical Support for more information.\r\n\r\n"
             "Error message: " +
             errorMessage;
    case ctOpenFailed:
      return "Test failed, could not connect to the database.\r\nError message: " + errorMessage;
    default: return "Test failed, unexpected error.\r\nError message: " + errorMessage;
  }
}

bool ConnectionTestIsError(std::uint8_t outcome) noexcept { return outcome != ctSucceeded; }

}  // namespace mrv
