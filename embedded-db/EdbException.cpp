#include "EdbException.h"

#include <cstdio>
#include <vector>

namespace edb {

std::string StrFormatV(const char* fmt, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
  va_end(copy);
  if (n < 0) return std::string(fmt);
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), fmt, args);
  return std::string(big.data(), static_cast<size_t>(n));
}

std::string StrFormat(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = StrFormatV(fmt, args);
  va_end(args);
  return s;
}

EEdbException::EEdbException(int nativeError, const std::string& message)
    : std::runtime_error(message + " - Native error: " + StrFormat("%05d", nativeError)),
      nativeError_(nativeError),
      bare_(message) {}

void EdbRaise(int nativeError, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = StrFormatV(fmt, args);
  va_end(args);
  throw EEdbException(nativeError, s);
}

}  // namespace edb
