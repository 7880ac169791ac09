#include "ToolArgs.h"

#include <cstdlib>

namespace mrvtool {

std::optional<std::string> Utf8Environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value) return std::nullopt;
  return std::string(value);
}

}  // namespace mrvtool
