// Checks, in the Windows build run under Wine, that odbc32 reaches the host's unixODBC and its
// SQLite3 driver: connect, create a table, insert with bound parameters, read the rows back.
// Exit codes: 0 passed, 1 failed, 77 skipped (no SQLite3 driver registered on the host).
//
// Wine 8's odbc32 leaves several ANSI entry points unimplemented (SQLDriverConnectA aborts the
// process), so only the wide (...W) functions are used here, as in the real backend.
//
// Under Wine the driver is a host library, so the Database= path must be a host path: the
// probe creates its file in the Windows temporary folder and hands the driver that folder's
// host name (wine_get_unix_file_name from kernel32). On real Windows it uses the path as is.
#include <windows.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

using UnixNameFn = char*(__cdecl*)(const wchar_t*);

bool Ok(SQLRETURN r) { return r == SQL_SUCCESS || r == SQL_SUCCESS_WITH_INFO; }

std::string Narrow(const wchar_t* w) {
  char buf[2048] = {};
  WideCharToMultiByte(CP_UTF8, 0, w, -1, buf, sizeof buf, nullptr, nullptr);
  return buf;
}

std::wstring Widen(const std::string& s) {
  wchar_t buf[2048] = {};
  MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, buf, 2048);
  return buf;
}

SQLWCHAR* Sql(const wchar_t* s) { return reinterpret_cast<SQLWCHAR*>(const_cast<wchar_t*>(s)); }

std::string Diagnostic(SQLSMALLINT type, SQLHANDLE h) {
  SQLWCHAR state[6] = {}, msg[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT len = 0;
  if (!Ok(SQLGetDiagRecW(type, h, 1, state, &native, msg, 512, &len))) return "(no diagnostic)";
  return Narrow(reinterpret_cast<wchar_t*>(state)) + " " + Narrow(reinterpret_cast<wchar_t*>(msg));
}

// The database path the driver understands: a host path under Wine, the Windows path otherwise.
std::string DatabasePath() {
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, temp);
  std::wstring file = std::wstring(temp) + L"mrv-odbc-probe.db";
  DeleteFileW(file.c_str());
  auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName != nullptr) {
    char* p = unixName(file.c_str());
    if (p != nullptr) {
      std::string s(p);
      HeapFree(GetProcessHeap(), 0, p);
      return s;
    }
  }
  return Narrow(file.c_str());
}

int Fail(const char* what, const std::string& detail) {
  std::printf("FAILED %s: %s\n", what, detail.c_str());
  return 1;
}

}  // namespace

int main() {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    return Fail("environment", "no ODBC environment");
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);

  const std::string db = DatabasePath();
  const std::string conn = "Driver={SQLite3};Database=" + db;
  std::wstring wconn = Widen(conn);
  SQLWCHAR out[1024] = {};
  SQLSMALLINT outLen = 0;
  SQLRETURN r = SQLDriverConnectW(dbc, nullptr, Sql(wconn.c_str()), SQL_NTS, out, 1024, &outLen,
                                  SQL_DRIVER_NOPROMPT);
  if (!Ok(r)) {
    std::string d = Diagnostic(SQL_HANDLE_DBC, dbc);
    if (d.find("Can't open lib") != std::string::npos || d.find("IM002") == 0) {
      std::printf("SKIPPED: no SQLite3 ODBC driver: %s\n", d.c_str());
      return 77;
    }
    return Fail("connect", d);
  }
  SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);

  auto exec = [&](const wchar_t* sql) {
    SQLRETURN rr = SQLExecDirectW(st, Sql(sql), SQL_NTS);
    SQLFreeStmt(st, SQL_CLOSE);
    return rr;
  };
  if (!Ok(exec(L"CREATE TABLE probe (id INTEGER, name TEXT)")))
    return Fail("create", Diagnostic(SQL_HANDLE_STMT, st));

  // Bound parameters, wide text with a character outside ASCII.
  if (!Ok(SQLPrepareW(st, Sql(L"INSERT INTO probe VALUES (?, ?)"), SQL_NTS)))
    return Fail("prepare", Diagnostic(SQL_HANDLE_STMT, st));
  SQLINTEGER id = 1234567;
  wchar_t name[] = L"caf\u00e9";
  SQLLEN idInd = 0, nameInd = SQL_NTS;
  SQLBindParameter(st, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, &idInd);
  SQLBindParameter(st, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 32, 0, name, 0, &nameInd);
  if (!Ok(SQLExecute(st))) return Fail("insert", Diagnostic(SQL_HANDLE_STMT, st));
  SQLLEN affected = -1;
  SQLRowCount(st, &affected);
  if (affected != 1) return Fail("rows affected", std::to_string(affected));
  SQLFreeStmt(st, SQL_RESET_PARAMS);
  SQLFreeStmt(st, SQL_CLOSE);

  if (!Ok(SQLExecDirectW(st, Sql(L"SELECT id, name FROM probe"), SQL_NTS)))
    return Fail("select", Diagnostic(SQL_HANDLE_STMT, st));
  if (!Ok(SQLFetch(st))) return Fail("fetch", "no row");
  SQLINTEGER gotId = 0;
  wchar_t gotName[32] = {};
  SQLLEN l1 = 0, l2 = 0;
  SQLGetData(st, 1, SQL_C_SLONG, &gotId, 0, &l1);
  SQLGetData(st, 2, SQL_C_WCHAR, gotName, sizeof gotName, &l2);
  if (gotId != id) return Fail("read back id", std::to_string(gotId));
  if (std::wcscmp(gotName, name) != 0) return Fail("read back name", "text differs");
  SQLFreeStmt(st, SQL_CLOSE);
  SQLFreeHandle(SQL_HANDLE_STMT, st);
  SQLDisconnect(dbc);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  std::printf("ODBC through odbc32 works: %s\n", conn.c_str());
  return 0;
}
