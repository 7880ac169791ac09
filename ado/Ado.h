// The subset of the ADO object model that the record transfer and the connection test use,
// as one C++ interface over three backends chosen by the connection string (see
// AdoConnectionString.h): SQLite (built in), ODBC, and on Windows ADO itself through
// late-bound automation.
//
//   ado::Connection conn;
//   conn.SetConnectionString(text);     // may throw: string rejected
//   conn.Open();                        // may throw: could not connect
//   ado::Command cmd;
//   cmd.SetActiveConnection(conn);
//   cmd.SetCommandType(ado::adCmdText);
//   cmd.SetCommandText("INSERT INTO T(A, B) VALUES(?, ?);");
//   auto a = cmd.CreateParameter("@A", ado::adVarChar, ado::adParamInput, 255);
//   cmd.Parameters().Append(a);  ...
//   conn.BeginTrans();
//   a->SetValue("x"); cmd.Execute();    // prepared once, re-executed with new values
//   conn.CommitTrans();
//
// Every failure is an EAdoError. Objects are used on one thread only; on Windows that thread
// must have initialised COM (see ComInitializer).
//
// This is the library's one published header: it also brings connection-string parsing and
// masking and the versions of the database libraries in use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AdoConnectionString.h"
#include "AdoDialect.h"
#include "AdoError.h"
#include "AdoLibraryVersions.h"
#include "AdoVariant.h"
#include "BaseCom.h"

namespace ado {

enum DataTypeEnum : int {
  adInteger = 3,
  adDouble = 5,
  adDate = 7,
  adBigInt = 20,
  adVarChar = 200,
  adVarWChar = 202,
};
enum ParameterDirectionEnum : int { adParamInput = 1 };
enum CommandTypeEnum : int { adCmdText = 1 };

namespace detail {
class BackendConnection;
class BackendStatement;
struct ConnectionState;
}  // namespace detail

// Initialises COM for the calling thread for its lifetime on Windows (CoInitialize, or
// OleInitialize when `ole` is set); does nothing elsewhere.
using ComInitializer = base::TComInitializer;

class Connection {
 public:
  Connection();
  ~Connection();  // closes the connection (rolling back an open transaction)
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Chooses and creates the backend for `text`. Throws EAdoError when the string is rejected
  // (ComponentUnavailable() set when the backend's component cannot be created at all).
  // Not allowed while open.
  void SetConnectionString(const std::string& text);
  const std::string& ConnectionString() const;
  // Set before SetConnectionString: Open then creates a SQLite database file that does not
  // exist yet, as "Create=yes" in the string does. Other backends are not affected.
  void SetCreateIfMissing(bool create) noexcept { createIfMissing_ = create; }

  void Open();            // returns only when connected
  void Close() noexcept;  // errors are ignored; an open transaction is rolled back
  bool IsOpen() const noexcept;

  void BeginTrans();  // one open transaction at a time
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const noexcept;

  // The connected engine's SQL dialect (valid while open).
  const Dialect& GetDialect() const;
  // "SQLite", "ODBC", "PostgreSQL" or "ADO" once a connection string is set.
  std::string BackendName() const;
  // The engine's own name as reported ("SQLite", "PostgreSQL", ...), valid while open.
  std::string DbmsName() const;

  // Runs one statement without parameters; returns the records affected (-1 if unknown).
  std::int64_t Execute(const std::string& sql);

 private:
  friend class Command;
  std::shared_ptr<detail::ConnectionState> state_;
  bool createIfMissing_ = false;
};

class Parameter {
 public:
  Parameter(std::string name, DataTypeEnum type, ParameterDirectionEnum direction, int size);

  const std::string& Name() const noexcept { return name_; }
  DataTypeEnum Type() const noexcept { return type_; }
  ParameterDirectionEnum Direction() const noexcept { return direction_; }
  int Size() const noexcept { return size_; }

  void SetValue(Variant value) { value_ = std::move(value); }
  const Variant& Value() const noexcept { return value_; }

 private:
  std::string name_;
  DataTypeEnum type_;
  ParameterDirectionEnum direction_;
  int size_;
  Variant value_;
};
using ParameterPtr = std::shared_ptr<Parameter>;

// The command's parameter collection: positional binding in append order.
class Parameters {
 public:
  void Append(ParameterPtr parameter);  // throws EAdoError for a null parameter
  void Delete(int index);               // throws EAdoError for an index out of range
  int Count() const noexcept { return static_cast<int>(items_.size()); }
  Parameter& Item(int index) const;  // throws EAdoError for an index out of range

 private:
  friend class Command;
  std::vector<ParameterPtr> items_;
  std::uint64_t generation_ = 0;  // bumped on every change of the list
};

class Field {
 public:
  Field(std::string name, Variant value) : name_(std::move(name)), value_(std::move(value)) {}
  const std::string& Name() const noexcept { return name_; }
  const Variant& Value() const noexcept { return value_; }

 private:
  std::string name_;
  Variant value_;
};

// The rows a query returned, fetched when the command ran. A command that returns no rows
// gives a closed recordset.
class Recordset {
 public:
  Recordset() = default;
  Recordset(std::vector<std::string> names, std::vector<std::vector<Variant>> rows);

  bool IsOpen() const noexcept { return open_; }
  bool Eof() const noexcept { return !open_ || row_ >= rows_.size(); }
  void MoveNext();
  int FieldCount() const noexcept { return static_cast<int>(names_.size()); }
  // Field of the current row; throws EAdoError when closed, at end of file or out of range.
  Field Fields(int index) const;
  void Close() noexcept;

 private:
  bool open_ = false;
  std::vector<std::string> names_;
  std::vector<std::vector<Variant>> rows_;
  std::size_t row_ = 0;
};

class Command {
 public:
  Command();
  ~Command();
  Command(const Command&) = delete;
  Command& operator=(const Command&) = delete;

  // The command keeps the connection's state alive; a connection closed meanwhile makes
  // Execute fail.
  void SetActiveConnection(Connection& connection);
  void SetCommandType(CommandTypeEnum type);
  CommandTypeEnum CommandType() const noexcept { return type_; }
  void SetCommandText(const std::string& text);
  const std::string& CommandText() const noexcept { return text_; }

  ParameterPtr CreateParameter(const std::string& name, DataTypeEnum type,
                               ParameterDirectionEnum direction, int size);
  ado::Parameters& Parameters() noexcept { return parameters_; }

  // Runs the command text with the current parameter values. The statement is prepared on
  // first use and reused for as long as the text, the parameter list and the connection stay
  // the same; only the values are bound anew.
  Recordset Execute();
  Recordset Execute(std::int64_t& recordsAffected);  // -1 when the provider gives no count

  // How often this command prepared a statement (for diagnostics and tests).
  std::uint64_t PrepareCount() const noexcept { return prepareCount_; }

  // Rows sent together (bulk inserts). With `maxRows` > 0, Execute() without a
  // records-affected argument, inside a transaction, on a backend that can send many rows in
  // one execution (ODBC drivers with parameter arrays), copies the values into a queue and
  // returns a closed recordset; nothing reaches the database yet. The queued rows are sent
  // in order, in one execution: by Flush(), before CommitTrans, before any other statement
  // of the connection runs, before this command's statement changes, and before a row is
  // queued while `maxRows` rows wait. RollbackTrans drops them. A refused row raises
  // EAdoError from whichever of these sent it, carrying the provider's message for that row
  // and its position (FailedRowIndex, RowsSent); none of the rows sent with it remains, since
  // the caller is expected to roll the transaction back. Elsewhere Execute runs at once.
  void SetQueueRows(int maxRows);
  int QueueRows() const noexcept { return queueRows_; }
  int QueuedRows() const noexcept;
  void Flush();

 private:
  Recordset Run(std::int64_t* recordsAffected);
  bool Queue(const std::int64_t* recordsAffected);  // true when the row was queued
  void FlushOwnRows();

  std::shared_ptr<detail::ConnectionState> connection_;
  CommandTypeEnum type_ = adCmdText;
  std::string text_;
  ado::Parameters parameters_;
  std::unique_ptr<detail::BackendStatement> statement_;
  std::uint64_t preparedGeneration_ = 0;
  std::uint64_t preparedConnectionEpoch_ = 0;
  std::uint64_t prepareCount_ = 0;
  std::vector<const Variant*> values_;  // reused for every execution
  int queueRows_ = 0;
};

// Creates `table` unless it exists already. Returns true when it was created.
bool CreateTableIfMissing(Connection& connection, const TableDef& table);
// True when a query on `table` succeeds on this connection.
bool TableExists(Connection& connection, const std::string& table);

}  // namespace ado
