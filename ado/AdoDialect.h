// SQL that differs between database engines: the batched clearing statement and the
// "create table if missing" statement. The dialect is picked from the connected engine
// (SQLite by backend, ODBC by the driver's DBMS name, automation providers by provider name
// or their reported DBMS name), never from the text the user typed.
#pragma once

#include <string>
#include <vector>

namespace ado {

enum class Engine { Unknown, SqlServer, Access, Sqlite, PostgreSql, MySql };

enum class ColumnKind { VarChar, DateTime, Integer };

struct ColumnDef {
  std::string Name;
  ColumnKind Kind = ColumnKind::VarChar;
  int Size = 0;  // VarChar length; ignored for the other kinds
};

// A table with an auto-numbered integer key column followed by its data columns.
struct TableDef {
  std::string Name;
  std::string KeyColumn;
  std::vector<ColumnDef> Columns;
};

class Dialect {
 public:
  explicit constexpr Dialect(Engine engine) : engine_(engine) {}

  Engine GetEngine() const noexcept { return engine_; }
  const char* Name() const noexcept;  // "SQL Server", "Access", "SQLite", "PostgreSQL", "MySQL"

  // Deletes at most `batch` rows of `table`:
  //   SQL Server, Access, Unknown: "DELETE FROM t WHERE k IN (SELECT TOP n k FROM t)"
  //   SQLite, PostgreSQL:          "DELETE FROM t WHERE k IN (SELECT k FROM t LIMIT n)"
  //   MySQL/MariaDB:               "DELETE FROM t LIMIT n"
  std::string ClearBatchStatement(const std::string& table, const std::string& keyColumn,
                                  int batch) const;

  // CREATE TABLE for `table`, guarded by "IF NOT EXISTS" (or the engine's equivalent) where
  // the engine has one; see SupportsCreateIfMissing.
  std::string CreateTableStatement(const TableDef& table) const;
  bool SupportsCreateIfMissing() const noexcept;

  // Statement that succeeds exactly when `table` exists.
  std::string ProbeTableStatement(const std::string& table) const;

 private:
  Engine engine_;
};

const Dialect& DialectFor(Engine engine);

// ODBC SQL_DBMS_NAME / automation "DBMS Name" -> engine ("Microsoft SQL Server", "PostgreSQL",
// "SQLite", "MySQL", "MariaDB", "ACCESS", ...). Unknown names give Engine::Unknown.
Engine EngineFromDbmsName(const std::string& dbmsName);
// Automation provider name -> engine ("SQLOLEDB", "MSOLEDBSQL", "SQLNCLI11",
// "Microsoft.Jet.OLEDB.4.0", "Microsoft.ACE.OLEDB.12.0", ...).
Engine EngineFromProvider(const std::string& provider);

}  // namespace ado
