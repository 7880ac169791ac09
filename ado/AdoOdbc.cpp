#include "AdoBackend.h"
namespace ado::detail {
std::unique_ptr<BackendConnection> CreateOdbcBackend(const BackendChoice&) {
  throw EAdoError("ODBC is not built yet.", kErrClassNotRegistered, kSourceOdbc, true);
}
}
