// The --version text: the program and its version, then the database libraries it uses.
#include <string>

#include "Ado.h"

namespace mrvtool {

const char* ToolVersion();

std::string ToolVersionText() {
  const std::string odbc = ado::OdbcDriverManagerVersion();
  return std::string("mrvdbtool ") + ToolVersion() + "\nSQLite library " +
         ado::SqliteLibraryVersion() + "\nODBC driver manager " +
         (odbc.empty() ? "not available" : odbc);
}

}  // namespace mrvtool
