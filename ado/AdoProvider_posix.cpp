// Automation (OLE DB) providers exist only on Windows; here a provider string is refused
// with a message that says what works instead.
#include "AdoBackend.h"

namespace ado::detail {

std::unique_ptr<BackendConnection> CreateProviderBackend(const BackendChoice& choice) {
  throw EAdoError("The provider \"" + choice.ProviderName +
                      "\" is not available on this system. Use an ODBC connection string "
                      "(Driver={...};... or DSN=...) or Provider=SQLite;Data Source=PATH.",
                  kErrClassNotRegistered, kSourceAccessLayer, true);
}

}  // namespace ado::detail
