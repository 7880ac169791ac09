// The access layer's exception type.
#include "AdoError.h"

#include <utility>

namespace ado {

EAdoError::EAdoError(const std::string& message, std::int32_t errorCode, std::string source,
                     bool componentUnavailable)
    : std::runtime_error(message),
      message_(message),
      code_(errorCode),
      source_(std::move(source)),
      componentUnavailable_(componentUnavailable) {}

}  // namespace ado
