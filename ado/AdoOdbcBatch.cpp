// ODBC parameter arrays: queued rows are kept column by column, laid out as column-wise
// buffers when they are sent, and executed once with SQL_ATTR_PARAMSET_SIZE; the row-status
// array and SQL_ATTR_PARAMS_PROCESSED_PTR tell which row the driver refused.
#include "AdoOdbcBatch.h"

#include <algorithm>
#include <string>

namespace ado::detail {
namespace {

constexpr std::int32_t kErrFail = static_cast<std::int32_t>(0x80004005u);
constexpr int kMaxQueuedRows = 10000;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

SQLPOINTER AttrValue(SQLULEN value) { return reinterpret_cast<SQLPOINTER>(value); }

// The diagnostics of `stmt` that concern parameter set `row` (1-based) as one message, in the
// form the row-by-row path gives for a single row: the lines of the records, then the first
// record's SQLSTATE. Records that carry no set number are taken when none names the row.
EAdoError RowError(SQLHSTMT stmt, SQLLEN row, const std::string& fallback) {
  struct Record {
    std::string Text, State;
    SQLINTEGER Native = 0;
    SQLLEN Row = SQL_NO_ROW_NUMBER;
  };
  std::vector<Record> records;
  for (SQLSMALLINT i = 1; i <= 20; ++i) {
    SQLWCHAR state[6] = {};
    SQLWCHAR text[1024] = {};
    SQLSMALLINT len = 0;
    Record r;
    if (!Ok(SQLGetDiagRecW(SQL_HANDLE_STMT, stmt, i, state, &r.Native, text,
                           static_cast<SQLSMALLINT>(sizeof text / sizeof text[0]), &len)))
      break;
    const std::size_t units = std::min<std::size_t>(static_cast<std::size_t>(len < 0 ? 0 : len),
                                                    sizeof text / sizeof text[0] - 1);
    r.Text = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), units));
    while (!r.Text.empty() && (r.Text.back() == '\n' || r.Text.back() == '\r')) r.Text.pop_back();
    r.State = Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(state), 5));
    SQLGetDiagFieldW(SQL_HANDLE_STMT, stmt, i, SQL_DIAG_ROW_NUMBER, &r.Row, SQL_IS_INTEGER,
                     nullptr);
    records.push_back(std::move(r));
  }
  const bool named =
      std::any_of(records.begin(), records.end(), [row](const Record& r) { return r.Row == row; });
  std::string message, firstState;
  std::int32_t code = 0;
  for (const Record& r : records) {
    if (named && r.Row != row) continue;
    if (!message.empty())
      message += "\r\n";
    else {
      code = static_cast<std::int32_t>(r.Native);
      firstState = r.State;
    }
    message += r.Text;
  }
  if (message.empty()) message = fallback;
  if (!firstState.empty()) message += " (SQLSTATE " + firstState + ")";
  return EAdoError(message, code != 0 ? code : kErrFail, kSourceOdbc);
}

// One parameter's queued values. Text is kept as UTF-16 back to back (Ends marks where each
// row's text ends) and copied into fixed-width elements only when the rows are sent.
struct Column {
  std::vector<SQLLEN> Indicators;
  std::u16string Text;
  std::vector<std::size_t> Ends;
  std::vector<SQL_TIMESTAMP_STRUCT> Stamps;
  std::vector<SQLBIGINT> Integers;
  std::vector<SQLDOUBLE> Doubles;
  std::vector<char16_t> Laid;  // the text elements as bound

  void Truncate(std::size_t rows) {
    Indicators.resize(std::min(Indicators.size(), rows));
    if (Ends.size() > rows) {
      Ends.resize(rows);
      Text.resize(rows ? Ends.back() : 0);
    }
    Stamps.resize(std::min(Stamps.size(), rows));
    Integers.resize(std::min(Integers.size(), rows));
    Doubles.resize(std::min(Doubles.size(), rows));
  }
};

class OdbcArrayStatement final : public BackendStatement {
 public:
  OdbcArrayStatement(SQLHSTMT stmt, std::vector<ParameterSpec> params,
                     std::function<void()> ensureUsable, std::unique_ptr<BackendStatement> inner)
      : stmt_(stmt),
        params_(std::move(params)),
        columns_(params_.size()),
        ensureUsable_(std::move(ensureUsable)),
        inner_(std::move(inner)) {}

  void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
               ResultRows& rows) override {
    inner_->Execute(values, affected, rows);
  }
  void Release() noexcept override {
    Discard();
    stmt_ = SQL_NULL_HSTMT;
    inner_->Release();
  }

  int QueueCapacity() const noexcept override { return stmt_ ? kMaxQueuedRows : 0; }
  int Queued() const noexcept override { return rows_; }
  void Discard() noexcept override {
    rows_ = 0;
    for (Column& c : columns_) c.Truncate(0);
  }

  void Queue(const std::vector<const Variant*>& values) override {
    if (!stmt_)  // released with its connection; Command re-prepares first, so only a guard
      throw EAdoError("The statement belongs to a closed connection.", kErrNotConnected,
                      kSourceOdbc);
    try {
      for (std::size_t i = 0; i < values.size(); ++i) Append(i, *values[i]);
    } catch (...) {
      for (Column& c : columns_) c.Truncate(static_cast<std::size_t>(rows_));  // all or nothing
      throw;
    }
    ++rows_;
  }

  void Flush() override {
    if (rows_ == 0) return;
    const int sent = rows_;
    try {
      ensureUsable_();
    } catch (EAdoError& e) {
      Discard();
      e.SetFailedRow(0, sent);
      throw;
    }
    struct Reset {
      OdbcArrayStatement& self;
      ~Reset() { self.EndArrays(); }
    } reset{*this};
    std::vector<SQLUSMALLINT> status(static_cast<std::size_t>(sent), SQL_PARAM_UNUSED);
    SQLULEN processed = 0;
    SQLFreeStmt(stmt_, SQL_CLOSE);
    for (std::size_t i = 0; i < params_.size(); ++i) BindColumn(i);
    if (!Ok(SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAM_BIND_TYPE, AttrValue(SQL_PARAM_BIND_BY_COLUMN),
                            0)) ||
        !Ok(SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAMSET_SIZE, AttrValue(static_cast<SQLULEN>(sent)),
                            0)) ||
        !Ok(SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0)) ||
        !Ok(SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0)))
      Fail(RowError(stmt_, 0, "Setting up the parameter arrays failed."), 0, sent);

    const SQLRETURN rc = SQLExecute(stmt_);
    const int done = static_cast<int>(std::min<SQLULEN>(processed, static_cast<SQLULEN>(sent)));
    int failed = -1;
    for (int r = 0; r < done && failed < 0; ++r)
      if (status[static_cast<std::size_t>(r)] == SQL_PARAM_ERROR ||
          status[static_cast<std::size_t>(r)] == SQL_PARAM_DIAG_UNAVAILABLE)
        failed = r;
    int last = failed;
    if (failed >= 0) {
      while (last + 1 < done && status[static_cast<std::size_t>(last + 1)] == SQL_PARAM_ERROR)
        ++last;
    } else if (!Ok(rc) && rc != SQL_NO_DATA) {
      failed = done < sent ? done : 0;  // no status says which: any row from here on
      last = sent - 1;
    }
    if (failed >= 0) {
      EAdoError error = RowError(stmt_, failed + 1, "SQLExecute failed.");
      // Drivers that pass the sets on in groups mark a whole group as failed, others fail the
      // execution without a status per row; those rows go again one by one, so the refused
      // row itself and its own message are known.
      if (last > failed) failed = FindRefusedRow(failed, last, error);
      Fail(std::move(error), failed, sent);
    }
    if (done < sent)
      Fail(EAdoError("The driver processed only " + std::to_string(done) + " of the " +
                         std::to_string(sent) + " rows sent together.",
                     kErrFail, kSourceOdbc),
           done, sent);
  }

 private:
  [[noreturn]] static void Fail(EAdoError error, int row, int sent) {
    error.SetFailedRow(row, sent);
    throw error;
  }

  void Append(std::size_t i, const Variant& v) {
    Column& c = columns_[i];
    const bool isNull = v.IsNull();
    SQLLEN indicator = isNull ? SQL_NULL_DATA : 0;
    switch (params_[i].Type) {
      case adDate: c.Stamps.push_back(isNull ? SQL_TIMESTAMP_STRUCT{} : OdbcTimestamp(v)); break;
      case adInteger:
      case adBigInt: c.Integers.push_back(isNull ? 0 : static_cast<SQLBIGINT>(v.AsInt64())); break;
      case adDouble: c.Doubles.push_back(isNull ? 0 : v.AsDouble()); break;
      default: {
        if (!isNull) {
          const std::string* text = v.TextIfText();
          const std::u16string wide = Utf8ToUtf16(text ? *text : v.AsText());
          c.Text += wide;
          indicator = static_cast<SQLLEN>(wide.size() * sizeof(SQLWCHAR));
        }
        c.Ends.push_back(c.Text.size());
        break;
      }
    }
    c.Indicators.push_back(indicator);
  }

  // Runs rows first..last of the queue one at a time (inside the caller's transaction, which
  // is rolled back after a failure anyway) and returns the first that fails, with its error
  // in `error`; when none does, `first` and the group's error stay.
  int FindRefusedRow(int first, int last, EAdoError& error) {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    if (!Ok(SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAMSET_SIZE, AttrValue(1), 0))) return first;
    SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    for (int r = first; r <= last; ++r) {
      SQLFreeStmt(stmt_, SQL_CLOSE);
      for (std::size_t i = 0; i < params_.size(); ++i) BindColumn(i, static_cast<std::size_t>(r));
      const SQLRETURN rc = SQLExecute(stmt_);
      if (!Ok(rc) && rc != SQL_NO_DATA) {
        error = RowError(stmt_, 0, "SQLExecute failed.");
        return r;
      }
    }
    return first;
  }

  // Binds parameter i to its column of queued values from row `from` on; text is laid out in
  // elements as wide as the longest value of the column (plus a terminator).
  void BindColumn(std::size_t i, std::size_t from = 0) {
    const ParameterSpec& spec = params_[i];
    Column& c = columns_[i];
    const OdbcParamType t = OdbcParamTypeOf(spec.Type);
    SQLULEN columnSize = t.ColumnSize;
    SQLPOINTER buffer = nullptr;
    SQLLEN elementBytes = 0;
    switch (spec.Type) {
      case adDate:
        buffer = c.Stamps.data();
        elementBytes = sizeof(SQL_TIMESTAMP_STRUCT);
        break;
      case adInteger:
      case adBigInt:
        buffer = c.Integers.data();
        elementBytes = sizeof(SQLBIGINT);
        break;
      case adDouble:
        buffer = c.Doubles.data();
        elementBytes = sizeof(SQLDOUBLE);
        break;
      default: {
        std::size_t longest = 0, begin = 0;
        for (std::size_t end : c.Ends) {
          longest = std::max(longest, end - begin);
          begin = end;
        }
        const std::size_t width = longest + 1;
        begin = 0;
        if (from == 0) c.Laid.assign(width * c.Ends.size(), u'\0');
        for (std::size_t r = 0; r < c.Ends.size() && from == 0; ++r) {
          std::copy(c.Text.begin() + static_cast<std::ptrdiff_t>(begin),
                    c.Text.begin() + static_cast<std::ptrdiff_t>(c.Ends[r]),
                    c.Laid.begin() + static_cast<std::ptrdiff_t>(r * width));
          begin = c.Ends[r];
        }
        columnSize = spec.Size > 0 ? static_cast<SQLULEN>(spec.Size)
                                   : static_cast<SQLULEN>(longest > 0 ? longest : 1);
        buffer = c.Laid.data();
        elementBytes = static_cast<SQLLEN>(width * sizeof(SQLWCHAR));
        break;
      }
    }
    buffer = static_cast<char*>(buffer) + from * static_cast<std::size_t>(elementBytes);
    if (!Ok(SQLBindParameter(stmt_, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, t.CType,
                             t.SqlType, columnSize, t.Digits, buffer, elementBytes,
                             c.Indicators.data() + from)))
      Fail(RowError(stmt_, 0, "Binding parameter " + spec.Name + " failed."), 0, rows_);
  }

  // Back to one parameter set, so row-by-row execution binds single values again.
  void EndArrays() noexcept {
    SQLFreeStmt(stmt_, SQL_CLOSE);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAMSET_SIZE, AttrValue(1), 0);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttrW(stmt_, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    SQLFreeStmt(stmt_, SQL_RESET_PARAMS);
    Discard();
  }

  SQLHSTMT stmt_;
  std::vector<ParameterSpec> params_;
  std::vector<Column> columns_;
  std::function<void()> ensureUsable_;
  std::unique_ptr<BackendStatement> inner_;
  int rows_ = 0;
};

}  // namespace

OdbcParamType OdbcParamTypeOf(DataTypeEnum type) noexcept {
  switch (type) {
    case adDate: return {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 3, 23};
    case adInteger: return {SQL_C_SBIGINT, SQL_INTEGER, 0, 10};
    case adBigInt: return {SQL_C_SBIGINT, SQL_BIGINT, 0, 19};
    case adDouble: return {SQL_C_DOUBLE, SQL_DOUBLE, 0, 15};
    case adVarWChar: return {SQL_C_WCHAR, SQL_WVARCHAR, 0, 0};
    default: return {SQL_C_WCHAR, SQL_VARCHAR, 0, 0};
  }
}

SQL_TIMESTAMP_STRUCT OdbcTimestamp(const Variant& value) {
  const DateTimeParts p = DecodeDateTime(value.AsDateTime());
  SQL_TIMESTAMP_STRUCT t{};
  t.year = static_cast<SQLSMALLINT>(p.Year);
  t.month = static_cast<SQLUSMALLINT>(p.Month);
  t.day = static_cast<SQLUSMALLINT>(p.Day);
  t.hour = static_cast<SQLUSMALLINT>(p.Hour);
  t.minute = static_cast<SQLUSMALLINT>(p.Minute);
  t.second = static_cast<SQLUSMALLINT>(p.Second);
  t.fraction = static_cast<SQLUINTEGER>(p.Millisecond) * 1000000u;
  return t;
}

bool OdbcSupportsParameterArrays(SQLHDBC dbc) noexcept {
  SQLUINTEGER counts = 0;
  return Ok(SQLGetInfoW(dbc, SQL_PARAM_ARRAY_ROW_COUNTS, &counts, sizeof counts, nullptr)) &&
         (counts == SQL_PARC_BATCH || counts == SQL_PARC_NO_BATCH);
}

std::unique_ptr<BackendStatement> WithParameterArrays(SQLHDBC dbc, SQLHSTMT stmt,
                                                      const std::vector<ParameterSpec>& params,
                                                      std::function<void()> ensureUsable,
                                                      std::unique_ptr<BackendStatement> statement) {
  if (params.empty() || !OdbcSupportsParameterArrays(dbc)) return statement;
  return std::make_unique<OdbcArrayStatement>(stmt, params, std::move(ensureUsable),
                                              std::move(statement));
}

}  // namespace ado::detail
