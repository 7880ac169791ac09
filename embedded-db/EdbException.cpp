#include "EdbException.h"

#include "BaseText.h"

namespace edb {

EEdbException::EEdbException(int nativeError, const std::string& message)
    : std::runtime_error(message + " - Native error: " + base::Format("%05d", nativeError)),
      nativeError_(nativeError),
      bare_(message) {}

void EdbRaise(int nativeError, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = base::FormatV(fmt, args);
  va_end(args);
  throw EEdbException(nativeError, s);
}

}  // namespace edb
