// Fallback notice when an error text cannot be stored: there is no desktop, so standard error.
#include <cstdio>

#include "DbConversionInfo_un.h"

namespace mrv {

void ShowErrorStoreFailure(const std::string& text) noexcept {
  std::fprintf(stderr, "Error: %s\n", text.c_str());
}

}  // namespace mrv
