// The engine dialect table.
#include "AdoDialect.h"

#include <algorithm>
#include <cctype>

namespace ado {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool Contains(const std::string& haystack, const char* needle) {
  return haystack.find(needle) != std::string::npos;
}

constexpr Dialect kUnknown(Engine::Unknown);
constexpr Dialect kSqlServer(Engine::SqlServer);
constexpr Dialect kAccess(Engine::Access);
constexpr Dialect kSqlite(Engine::Sqlite);
constexpr Dialect kPostgreSql(Engine::PostgreSql);
constexpr Dialect kMySql(Engine::MySql);

}  // namespace

const char* Dialect::Name() const noexcept {
  switch (engine_) {
    case Engine::SqlServer: return "SQL Server";
    case Engine::Access: return "Access";
    case Engine::Sqlite: return "SQLite";
    case Engine::PostgreSql: return "PostgreSQL";
    case Engine::MySql: return "MySQL";
    case Engine::Unknown: break;
  }
  return "Unknown";
}

std::string Dialect::ClearBatchStatement(const std::string& table, const std::string& key,
                                         int batch) const {
  const std::string n = std::to_string(batch);
  switch (engine_) {
    case Engine::Sqlite:
    case Engine::PostgreSql:
      return "DELETE FROM " + table + " WHERE " + key + " IN (SELECT " + key + " FROM " + table +
             " LIMIT " + n + ")";
    case Engine::MySql: return "DELETE FROM " + table + " LIMIT " + n;
    case Engine::SqlServer:
    case Engine::Access:
    case Engine::Unknown: break;
  }
  return "DELETE FROM " + table + " WHERE " + key + " IN (SELECT TOP " + n + " " + key + " FROM " +
         table + ")";
}

namespace {

// Type of a created date-time column. The transfer binds milliseconds, so every engine that
// would otherwise round them away (SQL Server's DATETIME keeps 1/300 s) gets three digits.
const char* DateTimeColumnType(Engine engine) {
  switch (engine) {
    case Engine::PostgreSql: return "TIMESTAMP(3)";
    case Engine::MySql: return "DATETIME(3)";
    case Engine::SqlServer: return "DATETIME2(3)";
    case Engine::Sqlite:  // text with milliseconds
    case Engine::Access:  // a double: milliseconds kept
    case Engine::Unknown: break;
  }
  return "DATETIME";
}

}  // namespace

bool Dialect::SupportsCreateIfMissing() const noexcept {
  return engine_ == Engine::Sqlite || engine_ == Engine::PostgreSql || engine_ == Engine::MySql ||
         engine_ == Engine::SqlServer;
}

std::string Dialect::CreateTableStatement(const TableDef& t) const {
  std::string key;
  switch (engine_) {
    case Engine::Sqlite: key = t.KeyColumn + " INTEGER PRIMARY KEY AUTOINCREMENT"; break;
    case Engine::PostgreSql: key = t.KeyColumn + " SERIAL PRIMARY KEY"; break;
    case Engine::MySql: key = t.KeyColumn + " INT NOT NULL AUTO_INCREMENT PRIMARY KEY"; break;
    case Engine::Access: key = t.KeyColumn + " COUNTER PRIMARY KEY"; break;
    case Engine::SqlServer:
    case Engine::Unknown: key = t.KeyColumn + " INT IDENTITY(1,1) PRIMARY KEY"; break;
  }
  std::string cols = key;
  for (const ColumnDef& c : t.Columns) {
    cols += ", " + c.Name + " ";
    switch (c.Kind) {
      case ColumnKind::VarChar:
        cols += "VARCHAR(" + std::to_string(c.Size > 0 ? c.Size : 255) + ")";
        break;
      case ColumnKind::Integer: cols += "INTEGER"; break;
      case ColumnKind::DateTime: cols += DateTimeColumnType(engine_); break;
    }
  }
  switch (engine_) {
    case Engine::Sqlite:
    case Engine::PostgreSql:
    case Engine::MySql: return "CREATE TABLE IF NOT EXISTS " + t.Name + " (" + cols + ")";
    case Engine::SqlServer:
      return "IF OBJECT_ID(N'" + t.Name + "', N'U') IS NULL CREATE TABLE " + t.Name + " (" + cols +
             ")";
    case Engine::Access:
    case Engine::Unknown: break;
  }
  return "CREATE TABLE " + t.Name + " (" + cols + ")";
}

std::string Dialect::ProbeTableStatement(const std::string& table) const {
  return "SELECT COUNT(*) FROM " + table + " WHERE 1=0";
}

const Dialect& DialectFor(Engine engine) {
  switch (engine) {
    case Engine::SqlServer: return kSqlServer;
    case Engine::Access: return kAccess;
    case Engine::Sqlite: return kSqlite;
    case Engine::PostgreSql: return kPostgreSql;
    case Engine::MySql: return kMySql;
    case Engine::Unknown: break;
  }
  return kUnknown;
}

Engine EngineFromDbmsName(const std::string& dbmsName) {
  std::string n = Lower(dbmsName);
  if (Contains(n, "sql server")) return Engine::SqlServer;
  if (Contains(n, "postgres")) return Engine::PostgreSql;
  if (Contains(n, "sqlite")) return Engine::Sqlite;
  if (Contains(n, "mysql") || Contains(n, "mariadb")) return Engine::MySql;
  if (n == "access" || Contains(n, "ms jet") || Contains(n, "access database"))
    return Engine::Access;
  return Engine::Unknown;
}

Engine EngineFromProvider(const std::string& provider) {
  std::string p = Lower(provider);
  if (p.rfind("sqloledb", 0) == 0 || p.rfind("msoledbsql", 0) == 0 || p.rfind("sqlncli", 0) == 0)
    return Engine::SqlServer;
  if (Contains(p, "jet.oledb") || Contains(p, "ace.oledb")) return Engine::Access;
  if (p.rfind("pgnp", 0) == 0 || Contains(p, "postgres")) return Engine::PostgreSql;
  if (Contains(p, "mysql") || Contains(p, "mariadb")) return Engine::MySql;
  if (p == "sqlite") return Engine::Sqlite;
  return Engine::Unknown;
}

}  // namespace ado
