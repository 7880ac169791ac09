// ODBC backend through the driver manager's wide (UTF-16) functions: prepared statements
// with SQLBindParameter, manual-commit transactions, SQLRowCount for records affected and
// SQL_DBMS_NAME for the dialect.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AdoBackend.h"
#include "AdoOdbcApi.h"
#include "AdoOdbcBatch.h"

namespace ado::detail {
namespace {

constexpr std::int32_t kErrFail = static_cast<std::int32_t>(0x80004005u);

// A UTF-16 text as the wide ODBC calls take it.
SQLWCHAR* AsSqlWChar(std::u16string& s) { return reinterpret_cast<SQLWCHAR*>(s.data()); }

std::string Narrow(const SQLWCHAR* s, std::size_t units) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(s), units));
}

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

OdbcEndTranFault& EndTranFault() {
  static OdbcEndTranFault fault;
  return fault;
}

const char* const kBrokenMessage =
    "The connection failed while ending a transaction and the transaction may still be open; "
    "nothing more is done on this connection until it is closed.";

// Collects the diagnostic records of a handle into one message.
[[noreturn]] void Raise(SQLSMALLINT type, SQLHANDLE handle, const std::string& context,
                        bool componentUnavailable = false) {
  std::string message;
  std::int32_t code = 0;
  std::string firstState;
  if (handle) {
    for (SQLSMALLINT i = 1; i <= 10; ++i) {
      SQLWCHAR state[6] = {};
      SQLINTEGER native = 0;
      SQLWCHAR text[1024] = {};
      SQLSMALLINT len = 0;
      SQLRETURN rc = SQLGetDiagRecW(type, handle, i, state, &native, text,
                                    static_cast<SQLSMALLINT>(sizeof text / sizeof text[0]), &len);
      if (!Ok(rc)) break;
      std::size_t units = static_cast<std::size_t>(len);
      if (units >= sizeof text / sizeof text[0]) units = sizeof text / sizeof text[0] - 1;
      std::string line = Narrow(text, units);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      if (!message.empty()) message += "\r\n";
      message += line;
      if (i == 1) {
        code = static_cast<std::int32_t>(native);
        firstState = Narrow(state, 5);
      }
    }
  }
  if (message.empty()) message = context + " failed.";
  if (!firstState.empty()) message += " (SQLSTATE " + firstState + ")";
  throw EAdoError(message, code != 0 ? code : kErrFail, kSourceOdbc, componentUnavailable);
}

class OdbcStatement final : public BackendStatement {
 public:
  OdbcStatement(SQLHSTMT stmt, std::vector<ParameterSpec> params,
                std::shared_ptr<const bool> broken)
      : stmt_(stmt),
        params_(std::move(params)),
        slots_(params_.size()),
        broken_(std::move(broken)) {}
  ~OdbcStatement() override { Release(); }

  void Release() noexcept override {
    if (stmt_) SQLFreeHandle(SQL_HANDLE_STMT, stmt_);
    stmt_ = SQL_NULL_HSTMT;
  }

  void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
               ResultRows& rows) override {
    if (!stmt_)
      throw EAdoError("The statement belongs to a closed connection.", kErrNotConnected,
                      kSourceOdbc);
    if (*broken_) throw EAdoError(kBrokenMessage, kErrFail, kSourceOdbc);
    if (values.size() != params_.size())
      throw EAdoError("The parameter list changed after the statement was prepared.",
                      kErrInvalidArgument, kSourceOdbc);
    SQLFreeStmt(stmt_, SQL_CLOSE);
    for (std::size_t i = 0; i < values.size(); ++i) Bind(i, *values[i]);

    SQLRETURN rc = SQLExecute(stmt_);
    if (!Ok(rc) && rc != SQL_NO_DATA) Raise(SQL_HANDLE_STMT, stmt_, "SQLExecute");

    SQLSMALLINT columns = 0;
    if (rc != SQL_NO_DATA && !Ok(SQLNumResultCols(stmt_, &columns)))
      Raise(SQL_HANDLE_STMT, stmt_, "SQLNumResultCols");
    if (columns > 0) {
      affected = -1;
      Fetch(columns, rows);
    } else {
      SQLLEN count = -1;
      if (rc == SQL_NO_DATA)
        count = 0;
      else if (!Ok(SQLRowCount(stmt_, &count)))
        count = -1;
      affected = static_cast<std::int64_t>(count);
    }
    SQLFreeStmt(stmt_, SQL_CLOSE);
  }

 private:
  // Buffers of one parameter; they must stay put until SQLExecute returns.
  struct Slot {
    std::u16string Text;
    SQL_TIMESTAMP_STRUCT Timestamp{};
    SQLBIGINT Integer = 0;
    SQLDOUBLE Double = 0;
    SQLLEN Indicator = 0;
  };

  void Bind(std::size_t i, const Variant& v) {
    const ParameterSpec& spec = params_[i];
    Slot& s = slots_[i];
    const bool isNull = v.IsNull();
    s.Indicator = isNull ? SQL_NULL_DATA : 0;
    const OdbcParamType t = OdbcParamTypeOf(spec.Type);
    const SQLSMALLINT cType = t.CType, sqlType = t.SqlType, digits = t.Digits;
    SQLULEN columnSize = t.ColumnSize;
    SQLPOINTER buffer = nullptr;
    SQLLEN bufferLength = 0;
    switch (spec.Type) {
      case adDate: {
        if (!isNull) s.Timestamp = OdbcTimestamp(v);
        buffer = &s.Timestamp;
        bufferLength = sizeof s.Timestamp;
        break;
      }
      case adInteger:
      case adBigInt:
        if (!isNull) s.Integer = static_cast<SQLBIGINT>(v.AsInt64());
        buffer = &s.Integer;
        bufferLength = sizeof s.Integer;
        break;
      case adDouble:
        if (!isNull) s.Double = v.AsDouble();
        buffer = &s.Double;
        bufferLength = sizeof s.Double;
        break;
      default: {
        s.Text = isNull ? std::u16string() : Utf8ToUtf16(v.AsText());
        const std::size_t units = s.Text.size();
        s.Text.push_back(u'\0');
        if (!isNull) s.Indicator = static_cast<SQLLEN>(units * sizeof(SQLWCHAR));
        columnSize = spec.Size > 0 ? static_cast<SQLULEN>(spec.Size)
                                   : static_cast<SQLULEN>(units > 0 ? units : 1);
        buffer = s.Text.data();
        bufferLength = static_cast<SQLLEN>(s.Text.size() * sizeof(SQLWCHAR));
        break;
      }
    }
    SQLRETURN rc =
        SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, cType, sqlType,
                         columnSize, digits, buffer, bufferLength, &s.Indicator);
    if (!Ok(rc)) Raise(SQL_HANDLE_STMT, stmt_, "Binding parameter " + spec.Name);
  }

  void Fetch(SQLSMALLINT columns, ResultRows& rows) {
    rows.HasResult = true;
    std::vector<SQLSMALLINT> types(static_cast<std::size_t>(columns));
    for (SQLSMALLINT c = 1; c <= columns; ++c) {
      SQLWCHAR name[256] = {};
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!Ok(SQLDescribeColW(stmt_, static_cast<SQLUSMALLINT>(c), name, 256, &nameLen, &type,
                              &size, &digits, &nullable)))
        Raise(SQL_HANDLE_STMT, stmt_, "SQLDescribeCol");
      rows.Names.push_back(Narrow(name, static_cast<std::size_t>(nameLen < 256 ? nameLen : 255)));
      types[static_cast<std::size_t>(c - 1)] = type;
    }
    for (;;) {
      SQLRETURN rc = SQLFetch(stmt_);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) Raise(SQL_HANDLE_STMT, stmt_, "SQLFetch");
      std::vector<Variant> row;
      for (SQLSMALLINT c = 1; c <= columns; ++c)
        row.push_back(
            GetColumn(static_cast<SQLUSMALLINT>(c), types[static_cast<std::size_t>(c - 1)]));
      rows.Rows.push_back(std::move(row));
    }
  }

  Variant GetColumn(SQLUSMALLINT c, SQLSMALLINT type) {
    SQLLEN ind = 0;
    switch (type) {
      case SQL_BIT:
      case SQL_TINYINT:
      case SQL_SMALLINT:
      case SQL_INTEGER:
      case SQL_BIGINT: {
        SQLBIGINT v = 0;
        if (!Ok(SQLGetData(stmt_, c, SQL_C_SBIGINT, &v, sizeof v, &ind)))
          Raise(SQL_HANDLE_STMT, stmt_, "SQLGetData");
        return ind == SQL_NULL_DATA ? Variant() : Variant(static_cast<std::int64_t>(v));
      }
      case SQL_REAL:
      case SQL_FLOAT:
      case SQL_DOUBLE: {
        SQLDOUBLE v = 0;
        if (!Ok(SQLGetData(stmt_, c, SQL_C_DOUBLE, &v, sizeof v, &ind)))
          Raise(SQL_HANDLE_STMT, stmt_, "SQLGetData");
        return ind == SQL_NULL_DATA ? Variant() : Variant::FromDouble(v);
      }
      case SQL_TYPE_DATE:
      case SQL_TYPE_TIMESTAMP:
      case SQL_DATE:
      case SQL_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT t{};
        if (!Ok(SQLGetData(stmt_, c, SQL_C_TYPE_TIMESTAMP, &t, sizeof t, &ind)))
          Raise(SQL_HANDLE_STMT, stmt_, "SQLGetData");
        if (ind == SQL_NULL_DATA) return Variant();
        DateTimeParts p;
        p.Year = t.year;
        p.Month = t.month;
        p.Day = t.day;
        p.Hour = t.hour;
        p.Minute = t.minute;
        p.Second = t.second;
        p.Millisecond = static_cast<int>(t.fraction / 1000000u);
        return Variant::FromDateTime(EncodeDateTime(p));
      }
      default: break;
    }
    // Everything else as text, read in pieces.
    std::u16string text;
    SQLWCHAR buf[512];
    for (;;) {
      SQLRETURN rc = SQLGetData(stmt_, c, SQL_C_WCHAR, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) Raise(SQL_HANDLE_STMT, stmt_, "SQLGetData");
      if (ind == SQL_NULL_DATA) return Variant();
      std::size_t max = sizeof buf / sizeof buf[0] - 1;
      std::size_t got = (ind == SQL_NO_TOTAL || static_cast<std::size_t>(ind) / 2 > max)
                            ? max
                            : static_cast<std::size_t>(ind) / 2;
      text.append(reinterpret_cast<const char16_t*>(buf), got);
      if (rc == SQL_SUCCESS) break;
      // SQL_SUCCESS_WITH_INFO: truncated, more to come
      if (got < max) break;
    }
    return Variant(Utf16ToUtf8(text));
  }

  SQLHSTMT stmt_;
  std::vector<ParameterSpec> params_;
  std::vector<Slot> slots_;
  std::shared_ptr<const bool> broken_;  // the connection's flag
};

class OdbcConnection final : public BackendConnection {
 public:
  explicit OdbcConnection(BackendChoice choice) : choice_(std::move(choice)) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
      env_ = SQL_NULL_HENV;
      throw EAdoError("The ODBC driver manager could not be initialised.", kErrFail, kSourceOdbc,
                      true);
    }
    if (!Ok(SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                          0))) {
      SQLFreeHandle(SQL_HANDLE_ENV, env_);
      env_ = SQL_NULL_HENV;
      throw EAdoError("The ODBC driver manager does not support ODBC 3.", kErrFail, kSourceOdbc,
                      true);
    }
  }
  ~OdbcConnection() override {
    Close();
    if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }

  const char* Name() const noexcept override { return "ODBC"; }

  void Open() override {
    SQLHDBC dbc = SQL_NULL_HDBC;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc)))
      Raise(SQL_HANDLE_ENV, env_, "SQLAllocHandle");
    std::u16string in = Utf8ToUtf16(choice_.Target);
    SQLWCHAR out[1024];
    SQLSMALLINT outLen = 0;
    SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, AsSqlWChar(in), SQL_NTS, out, 1024, &outLen,
                                     SQL_DRIVER_NOPROMPT);
    if (!Ok(rc)) {
      try {
        Raise(SQL_HANDLE_DBC, dbc, "SQLDriverConnect");
      } catch (...) {
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        throw;
      }
    }
    dbc_ = dbc;
    *broken_ = false;
    SQLWCHAR name[256] = {};
    SQLSMALLINT bytes = 0;
    if (Ok(SQLGetInfoW(dbc_, SQL_DBMS_NAME, name, sizeof name, &bytes))) {
      std::size_t units = static_cast<std::size_t>(bytes) / sizeof(SQLWCHAR);
      dbms_ = Narrow(name, units < 255 ? units : 255);
    }
    engine_ = EngineFromDbmsName(dbms_);
  }

  // Auto-commit is never switched back on here: with a transaction still open that would
  // commit it. Disconnecting in manual-commit mode ends an open transaction without a commit.
  void Close() noexcept override {
    if (!dbc_) return;
    if (manual_) {
      EndTran(SQL_ROLLBACK);
      manual_ = false;
    }
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    dbc_ = SQL_NULL_HDBC;
    *broken_ = false;
  }

  void BeginTrans() override {
    Connected();
    if (*broken_) throw EAdoError(kBrokenMessage, kErrFail, kSourceOdbc);
    if (!Ok(SQLSetConnectAttrW(
            dbc_, SQL_ATTR_AUTOCOMMIT,
            reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_OFF)),
            SQL_IS_UINTEGER)))
      Raise(SQL_HANDLE_DBC, dbc_, "BeginTrans");
    manual_ = true;
  }
  void CommitTrans() override { End(SQL_COMMIT); }
  void RollbackTrans() override { End(SQL_ROLLBACK); }

  Engine GetEngine() const override { return engine_; }
  std::string DbmsName() const override { return dbms_; }

  std::unique_ptr<BackendStatement> Prepare(const std::string& sql,
                                            const std::vector<ParameterSpec>& params) override {
    Connected();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt)))
      Raise(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle");
    std::u16string text = Utf8ToUtf16(sql);
    if (!Ok(SQLPrepareW(stmt, AsSqlWChar(text), SQL_NTS))) {
      try {
        Raise(SQL_HANDLE_STMT, stmt, "SQLPrepare");
      } catch (...) {
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        throw;
      }
    }
    auto usable = [broken = std::shared_ptr<const bool>(broken_)] {
      if (*broken) throw EAdoError(kBrokenMessage, kErrFail, kSourceOdbc);
    };
    return WithParameterArrays(dbc_, stmt, params, usable,
                               std::make_unique<OdbcStatement>(stmt, params, broken_));
  }

 private:
  void Connected() const {
    if (!dbc_) throw EAdoError("The connection is closed.", kErrNotConnected, kSourceOdbc);
  }

  SQLRETURN EndTran(SQLSMALLINT completion) {
    if (EndTranFault() && EndTranFault()(completion == SQL_COMMIT)) return SQL_ERROR;
    return SQLEndTran(SQL_HANDLE_DBC, dbc_, completion);
  }

  void AutoCommitOn() {
    SQLSetConnectAttrW(dbc_, SQL_ATTR_AUTOCOMMIT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_AUTOCOMMIT_ON)),
                       SQL_IS_UINTEGER);
    manual_ = false;
  }

  // Ends the transaction. Switching auto-commit back on commits whatever is still open, so it
  // happens only once the transaction is known to be over: after a failed commit the
  // transaction is rolled back first, and when that fails too (or a rollback fails) the
  // connection is marked broken and stays in manual-commit mode until it is closed.
  void End(SQLSMALLINT completion) {
    Connected();
    if (*broken_) throw EAdoError(kBrokenMessage, kErrFail, kSourceOdbc);
    if (Ok(EndTran(completion))) {
      AutoCommitOn();
      return;
    }
    std::string failure;
    std::int32_t code = kErrFail;
    try {
      Raise(SQL_HANDLE_DBC, dbc_, completion == SQL_COMMIT ? "CommitTrans" : "RollbackTrans");
    } catch (const EAdoError& e) {
      failure = e.Message();
      code = e.ErrorCode();
    }
    if (completion == SQL_COMMIT && Ok(EndTran(SQL_ROLLBACK)))
      AutoCommitOn();
    else
      *broken_ = true;
    throw EAdoError(failure, code, kSourceOdbc);
  }

  BackendChoice choice_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  bool manual_ = false;
  std::shared_ptr<bool> broken_ = std::make_shared<bool>(false);
  std::string dbms_;
  Engine engine_ = Engine::Unknown;
};

}  // namespace

void SetOdbcEndTranFault(OdbcEndTranFault fault) { EndTranFault() = std::move(fault); }

std::unique_ptr<BackendConnection> CreateOdbcBackend(const BackendChoice& choice) {
  return std::make_unique<OdbcConnection>(choice);
}

}  // namespace ado::detail

// The PostgreSQL ODBC driver keeps a small allocation of its own alive after a statement has
// failed, even once the statement, connection and environment handles are freed. Leak-checking
// builds of programs that use this layer are told to ignore allocations made inside that
// driver (only there). Weak, so a program's own suppression list takes precedence.
#if defined(__SANITIZE_ADDRESS__)
#define MRV_ADO_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MRV_ADO_LSAN 1
#endif
#endif
#if defined(MRV_ADO_LSAN) && !defined(_WIN32)
extern "C" __attribute__((weak, used)) const char* __lsan_default_suppressions() {
  return "leak:psqlodbcw.so\nleak:psqlodbca.so\n";
}
#endif
