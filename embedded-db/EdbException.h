#pragma once
// Engine errors of the embedded database. Every failure of the reader and writer is raised as
// EEdbException carrying the engine's five-digit native error code; what() ends in
// " - Native error: NNNNN". Component-level errors of the database and table objects use
// EEdbComponentError, which has no code.

#include <cstdarg>
#include <stdexcept>
#include <string>

#include "EdbErrorCodes.h"

namespace edb {

class EEdbException : public std::runtime_error {
 public:
  EEdbException(int nativeError, const std::string& message);
  int NativeError() const noexcept { return nativeError_; }
  // The message without the " - Native error: NNNNN" suffix.
  const std::string& BareMessage() const noexcept { return bare_; }

 private:
  int nativeError_;
  std::string bare_;
};

class EEdbComponentError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raises EEdbException(code, formatted message).
[[noreturn]] void EdbRaise(int nativeError, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

}  // namespace edb
