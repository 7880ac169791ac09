// SQLite backend: the C API, built in. Date-times are stored as ISO-8601 text with
// milliseconds; prepared statements are kept and reset between executions.
#include <sqlite3.h>

#include <string>

#include "AdoBackend.h"

namespace ado::detail {
namespace {

class SqliteConnection;

[[noreturn]] void Raise(sqlite3* db, int rc, const std::string& context = {}) {
  std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  if (!context.empty()) msg = context + ": " + msg;
  int code = db ? sqlite3_extended_errcode(db) : rc;
  throw EAdoError(msg, code, kSourceSqlite);
}

class SqliteStatement final : public BackendStatement {
 public:
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt, std::vector<ParameterSpec> params)
      : db_(db), stmt_(stmt), params_(std::move(params)) {}
  ~SqliteStatement() override { Release(); }

  void Release() noexcept override {
    if (stmt_) sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }

  void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
               ResultRows& rows) override {
    if (!stmt_)
      throw EAdoError("The statement belongs to a closed connection.", kErrNotConnected,
                      kSourceSqlite);
    sqlite3_reset(stmt_);  // every placeholder is bound anew below
    int expected = sqlite3_bind_parameter_count(stmt_);
    if (expected != static_cast<int>(values.size()))
      throw EAdoError("The statement has " + std::to_string(expected) +
                          " placeholders but the command has " + std::to_string(values.size()) +
                          " parameters.",
                      kErrInvalidArgument, kSourceSqlite);
    for (std::size_t i = 0; i < values.size(); ++i)
      Bind(static_cast<int>(i) + 1, params_[i], *values[i]);

    const int columns = sqlite3_column_count(stmt_);
    if (columns > 0) {
      rows.HasResult = true;
      for (int c = 0; c < columns; ++c) {
        const char* name = sqlite3_column_name(stmt_, c);
        rows.Names.emplace_back(name ? name : "");
      }
    }
    // sqlite3_changes keeps the count of the last data change, so a statement that changed
    // nothing (a DELETE of no rows, DDL) is told apart by the running total.
    const int totalBefore = sqlite3_total_changes(db_);
    for (;;) {
      int rc = sqlite3_step(stmt_);
      if (rc == SQLITE_DONE) break;
      if (rc != SQLITE_ROW) {
        sqlite3_reset(stmt_);
        Raise(db_, rc);
      }
      std::vector<Variant> row;
      for (int c = 0; c < columns; ++c) row.push_back(Column(c));
      rows.Rows.push_back(std::move(row));
    }
    if (columns > 0)
      affected = -1;
    else
      affected = sqlite3_total_changes(db_) == totalBefore ? 0 : sqlite3_changes(db_);
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

 private:
  void Bind(int index, const ParameterSpec& spec, const Variant& v) {
    int rc = SQLITE_OK;
    if (v.IsNull()) {
      rc = sqlite3_bind_null(stmt_, index);
    } else {
      switch (spec.Type) {
        case adDate: {
          char text[IsoDateTimeCapacity];
          const std::size_t size = FormatIsoDateTime(v.AsDateTime(), text);
          rc = sqlite3_bind_text(stmt_, index, text, static_cast<int>(size), SQLITE_TRANSIENT);
          break;
        }
        case adInteger:
        case adBigInt: rc = sqlite3_bind_int64(stmt_, index, v.AsInt64()); break;
        case adDouble: rc = sqlite3_bind_double(stmt_, index, v.AsDouble()); break;
        default: {
          // Text values are bound in place: the parameter values outlive the step, and the
          // bindings are cleared when the statement is reset.
          if (const std::string* own = v.TextIfText()) {
            rc = sqlite3_bind_text(stmt_, index, own->data(), static_cast<int>(own->size()),
                                   SQLITE_STATIC);
            break;
          }
          std::string text = v.AsText();
          rc = sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT);
          break;
        }
      }
    }
    if (rc != SQLITE_OK) Raise(db_, rc, "Binding parameter " + spec.Name);
  }

  Variant Column(int c) {
    switch (sqlite3_column_type(stmt_, c)) {
      case SQLITE_INTEGER:
        return Variant(static_cast<std::int64_t>(sqlite3_column_int64(stmt_, c)));
      case SQLITE_FLOAT: return Variant::FromDouble(sqlite3_column_double(stmt_, c));
      case SQLITE_NULL: return Variant();
      default: {
        const unsigned char* t = sqlite3_column_text(stmt_, c);
        int n = sqlite3_column_bytes(stmt_, c);
        return Variant(std::string(
            reinterpret_cast<const char*>(t ? t : reinterpret_cast<const unsigned char*>("")),
            static_cast<std::size_t>(n)));
      }
    }
  }

  sqlite3* db_;
  sqlite3_stmt* stmt_;
  std::vector<ParameterSpec> params_;
};

class SqliteConnection final : public BackendConnection {
 public:
  explicit SqliteConnection(BackendChoice choice) : choice_(std::move(choice)) {}
  ~SqliteConnection() override { Close(); }

  const char* Name() const noexcept override { return "SQLite"; }

  void Open() override {
    int flags = SQLITE_OPEN_READWRITE | (choice_.CreateIfMissing ? SQLITE_OPEN_CREATE : 0);
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(choice_.Target.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
      std::string msg = std::string("Unable to open the database file \"") + choice_.Target +
                        "\": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
      int code = db ? sqlite3_extended_errcode(db) : rc;
      sqlite3_close(db);
      throw EAdoError(msg, code, kSourceSqlite);
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 5000);
    // A file that is not a database only shows itself on the first read.
    char* err = nullptr;
    rc = sqlite3_exec(db, "SELECT COUNT(*) FROM sqlite_master", nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
      std::string msg = std::string("Unable to open the database file \"") + choice_.Target +
                        "\": " + (err ? err : sqlite3_errstr(rc));
      sqlite3_free(err);
      int code = sqlite3_extended_errcode(db);
      sqlite3_close(db);
      throw EAdoError(msg, code, kSourceSqlite);
    }
    db_ = db;
  }

  void Close() noexcept override {
    if (!db_) return;
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  void BeginTrans() override { Exec("BEGIN"); }
  void CommitTrans() override { Exec("COMMIT"); }
  void RollbackTrans() override { Exec("ROLLBACK"); }

  Engine GetEngine() const override { return Engine::Sqlite; }
  std::string DbmsName() const override { return std::string("SQLite ") + sqlite3_libversion(); }

  std::unique_ptr<BackendStatement> Prepare(const std::string& sql,
                                            const std::vector<ParameterSpec>& params) override {
    if (!db_) throw EAdoError("The connection is closed.", kErrNotConnected, kSourceSqlite);
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, &tail);
    if (rc != SQLITE_OK) Raise(db_, rc);
    if (!stmt)
      throw EAdoError("The command text holds no statement.", kErrInvalidArgument, kSourceSqlite);
    // Only trailing blanks and semicolons may follow the one statement.
    for (const char* p = tail; p && *p; ++p) {
      if (*p != ';' && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
        sqlite3_finalize(stmt);
        throw EAdoError("The command text holds more than one statement.", kErrInvalidArgument,
                        kSourceSqlite);
      }
    }
    return std::make_unique<SqliteStatement>(db_, stmt, params);
  }

 private:
  void Exec(const char* sql) {
    if (!db_) throw EAdoError("The connection is closed.", kErrNotConnected, kSourceSqlite);
    char* err = nullptr;
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
      std::string msg = err ? err : sqlite3_errstr(rc);
      sqlite3_free(err);
      throw EAdoError(msg, sqlite3_extended_errcode(db_), kSourceSqlite);
    }
  }

  BackendChoice choice_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<BackendConnection> CreateSqliteBackend(const BackendChoice& choice) {
  return std::make_unique<SqliteConnection>(choice);
}

}  // namespace ado::detail
