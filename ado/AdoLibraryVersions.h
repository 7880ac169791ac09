// Versions of the database libraries this program uses, for --version texts.
#pragma once

#include <string>

namespace ado {

// The SQLite library's version ("3.40.1").
std::string SqliteLibraryVersion();
// The ODBC driver manager's version as it reports it ("03.52.0000"); empty when no driver
// manager can be loaded or it does not say.
std::string OdbcDriverManagerVersion();

}  // namespace ado
