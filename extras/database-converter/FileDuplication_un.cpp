// Parts of the file duplication shared by both platforms.
#include "FileDuplication_un.h"

#include "BaseText.h"
#include "DbConversionInfo_un.h"

namespace mrv {

EOSError::EOSError(int code, const std::string& systemText)
    : std::runtime_error(base::Format("System Error.  Code: %d.\r\n%s", code, systemText.c_str())),
      code_(code) {}

void TFileDuplication::Progress(std::int64_t done, std::int64_t total) {
  if (OnProgress) OnProgress(done, total);
}

}  // namespace mrv
