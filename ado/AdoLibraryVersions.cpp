#include "AdoLibraryVersions.h"

#include <sqlite3.h>

#include "AdoBackend.h"
#include "AdoOdbcApi.h"

namespace ado {

std::string SqliteLibraryVersion() { return sqlite3_libversion(); }

std::string OdbcDriverManagerVersion() {
  SQLHENV env = SQL_NULL_HENV;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) return {};
  std::string version;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (SQL_SUCCEEDED(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                                  reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) &&
      SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    // The driver manager answers this itself, before any connection.
    SQLWCHAR text[64] = {};
    SQLSMALLINT bytes = 0;
    if (SQL_SUCCEEDED(SQLGetInfoW(dbc, SQL_DM_VER, text, sizeof text, &bytes))) {
      const std::size_t units = static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR);
      version = detail::Utf16ToUtf8(
          std::u16string(reinterpret_cast<const char16_t*>(text), units < 63 ? units : 63));
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return version;
}

}  // namespace ado
