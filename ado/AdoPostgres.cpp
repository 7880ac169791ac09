// Native PostgreSQL backend over the client library (libpq): statements prepared on the server
// with "$n" parameters sent as text, transactions as BEGIN/COMMIT/ROLLBACK, and rows queued by
// a plain INSERT loaded with one COPY ... FROM STDIN per send (text format), inside the
// caller's transaction. Builds without the library offer the provider name only to refuse it.
#include "AdoPostgres.h"

#if defined(MRV_HAVE_LIBPQ)

#include <libpq-fe.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace ado::detail {
namespace {

constexpr std::int32_t kErrFail = static_cast<std::int32_t>(0x80004005u);
constexpr int kMaxQueuedRows = 10000;

// Type oids of the parameters; text goes untyped so the server takes the column's type.
Oid ParamOid(DataTypeEnum type) {
  switch (type) {
    case adInteger: return 23;  // int4
    case adBigInt: return 20;   // int8
    case adDouble: return 701;  // float8
    case adDate: return 1114;   // timestamp
    default: return 0;
  }
}

std::string TrimmedLines(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  std::string out;
  for (char c : s) {
    if (c == '\n')
      out += "\r\n";
    else
      out += c;
  }
  return out;
}

// The server's report as one message in the form the ODBC backend gives: severity and primary
// text, the detail and hint lines, then the SQLSTATE. Without a report (a lost connection),
// the library's own text; `state` stands in for a missing SQLSTATE.
EAdoError PgError(PGconn* conn, const PGresult* res, const char* state = nullptr) {
  std::string message, code = state ? state : "";
  const char* primary = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  if (primary) {
    const char* severity = PQresultErrorField(res, PG_DIAG_SEVERITY);
    message = std::string(severity ? severity : "ERROR") + ": " + primary;
    if (const char* detail = PQresultErrorField(res, PG_DIAG_MESSAGE_DETAIL))
      message += "\r\nDETAIL: " + TrimmedLines(detail);
    if (const char* hint = PQresultErrorField(res, PG_DIAG_MESSAGE_HINT))
      message += "\r\nHINT: " + TrimmedLines(hint);
    if (const char* s = PQresultErrorField(res, PG_DIAG_SQLSTATE)) code = s;
  } else {
    message = TrimmedLines(conn ? PQerrorMessage(conn) : nullptr);
  }
  if (message.empty()) message = "The PostgreSQL server did not answer.";
  if (!code.empty()) message += " (SQLSTATE " + code + ")";
  return EAdoError(message, kErrFail, kSourcePostgreSql);
}

struct ResultDeleter {
  void operator()(PGresult* r) const noexcept { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// What the connection and its statements share. Statements that go away leave the names of
// their server-side statements here; they are dropped at the next good moment.
struct Session {
  PGconn* Conn = nullptr;
  std::vector<std::string> Stale;
  std::uint64_t NextName = 0;
};

void NoNotices(void*, const char*) {}

Variant ColumnValue(const PGresult* res, int row, int col) {
  if (PQgetisnull(res, row, col)) return Variant();
  const char* text = PQgetvalue(res, row, col);
  const int length = PQgetlength(res, row, col);
  const char* end = text + length;
  switch (PQftype(res, col)) {
    case 16: return Variant(static_cast<std::int64_t>(text[0] == 't' ? 1 : 0));  // bool
    case 20:
    case 21:
    case 23:
    case 26: {  // int8, int2, int4, oid
      std::int64_t v = 0;
      if (std::from_chars(text, end, v).ptr == end) return Variant(v);
      break;
    }
    case 700:
    case 701: {  // float4, float8 ("NaN", "Infinity" included)
      double v = 0;
      const std::string_view t(text, static_cast<std::size_t>(length));
      if (t == "Infinity" || t == "-Infinity")
        return Variant::FromDouble(t[0] == '-' ? -HUGE_VAL : HUGE_VAL);
      if (std::from_chars(text, end, v).ptr == end) return Variant::FromDouble(v);
      break;
    }
    case 1082:
    case 1114:
    case 1184: {  // date, timestamp, timestamptz (the zone suffix dropped)
      std::string t(text, static_cast<std::size_t>(length));
      if (t.size() > 19) {
        const std::size_t zone = t.find_first_of("+-", 19);
        if (zone != std::string::npos) t.resize(zone);
      }
      double serial = 0;
      if (ParseIsoDateTime(t, serial)) return Variant::FromDateTime(serial);
      break;
    }
    default: break;
  }
  return Variant(std::string(text, static_cast<std::size_t>(length)));
}

class PgStatement final : public BackendStatement {
 public:
  PgStatement(std::shared_ptr<Session> session, std::string name, std::vector<ParameterSpec> params,
              bool copyable, PgCopyTarget copy)
      : session_(std::move(session)),
        name_(std::move(name)),
        params_(std::move(params)),
        copyable_(copyable),
        copy_(std::move(copy)) {}
  ~PgStatement() override {
    if (session_ && session_->Conn) session_->Stale.push_back(name_);
  }

  void Release() noexcept override {
    Discard();
    session_.reset();
  }

  void Execute(const std::vector<const Variant*>& values, std::int64_t& affected,
               ResultRows& rows) override {
    PGconn* conn = Connection();
    if (values.size() != params_.size())
      throw EAdoError("The parameter list changed after the statement was prepared.",
                      kErrInvalidArgument, kSourcePostgreSql);
    std::vector<std::string> texts(values.size());
    std::vector<const char*> pointers(values.size(), nullptr);
    for (std::size_t i = 0; i < values.size(); ++i) {
      bool isNull = true;
      texts[i] = PgParameterText(params_[i].Type, *values[i], isNull);
      if (!isNull) pointers[i] = texts[i].c_str();
    }
    Result res(PQexecPrepared(conn, name_.c_str(), static_cast<int>(pointers.size()),
                              pointers.data(), nullptr, nullptr, 0));
    const ExecStatusType status = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_TUPLES_OK) {
      affected = -1;
      rows.HasResult = true;
      const int columns = PQnfields(res.get()), count = PQntuples(res.get());
      for (int c = 0; c < columns; ++c) rows.Names.emplace_back(PQfname(res.get(), c));
      rows.Rows.reserve(static_cast<std::size_t>(count));
      for (int r = 0; r < count; ++r) {
        std::vector<Variant> row;
        row.reserve(static_cast<std::size_t>(columns));
        for (int c = 0; c < columns; ++c) row.push_back(ColumnValue(res.get(), r, c));
        rows.Rows.push_back(std::move(row));
      }
      return;
    }
    if (status != PGRES_COMMAND_OK && status != PGRES_EMPTY_QUERY) throw PgError(conn, res.get());
    const char* tuples = PQcmdTuples(res.get());
    affected = -1;
    if (tuples && *tuples) std::from_chars(tuples, tuples + std::strlen(tuples), affected);
  }

  int QueueCapacity() const noexcept override {
    return copyable_ && session_ && session_->Conn ? kMaxQueuedRows : 0;
  }
  int Queued() const noexcept override { return rows_; }
  void Discard() noexcept override {
    lines_.clear();
    rows_ = 0;
  }
  void Queue(const std::vector<const Variant*>& values) override {
    Connection();
    AppendCopyRow(lines_, params_, values);
    ++rows_;
  }

  // One COPY for the queued rows. The server names the line of a refused row in its context;
  // the line is the row's position in the queue.
  void Flush() override {
    if (rows_ == 0) return;
    const int sent = rows_;
    struct Emptied {  // whatever happens; the buffer keeps its capacity for the next batch
      PgStatement& self;
      ~Emptied() { self.Discard(); }
    } emptied{*this};
    try {
      Send(lines_, sent);
    } catch (EAdoError& e) {
      if (e.RowsSent() == 0) e.SetFailedRow(0, sent);
      throw;
    }
  }

 private:
  PGconn* Connection() const {
    if (!session_ || !session_->Conn)
      throw EAdoError("The statement belongs to a closed connection.", kErrNotConnected,
                      kSourcePostgreSql);
    return session_->Conn;
  }

  void Send(const std::string& lines, int sent) {
    PGconn* conn = Connection();
    const std::string sql = "COPY " + copy_.Table + copy_.Columns + " FROM STDIN";
    Result start(PQexec(conn, sql.c_str()));
    if (!start || PQresultStatus(start.get()) != PGRES_COPY_IN) throw PgError(conn, start.get());
    start.reset();
    const bool put = PQputCopyData(conn, lines.data(), static_cast<int>(lines.size())) == 1;
    const bool ended =
        PQputCopyEnd(conn, put ? nullptr : "the client could not send the rows") == 1;
    Result res(PQgetResult(conn));
    for (Result more(PQgetResult(conn)); more; more.reset(PQgetResult(conn))) {
    }
    if (res && PQresultStatus(res.get()) == PGRES_COMMAND_OK && put && ended) {
      std::int64_t loaded = -1;
      const char* tuples = PQcmdTuples(res.get());
      std::from_chars(tuples, tuples + std::strlen(tuples), loaded);
      if (loaded == sent) return;
      EAdoError e("The server loaded " + std::to_string(loaded) + " of the " +
                      std::to_string(sent) + " rows sent together.",
                  kErrFail, kSourcePostgreSql);
      e.SetFailedRow(loaded > 0 && loaded < sent ? static_cast<int>(loaded) : 0, sent);
      throw e;
    }
    EAdoError e = PgError(conn, res.get());
    const char* context = res ? PQresultErrorField(res.get(), PG_DIAG_CONTEXT) : nullptr;
    const int line = context ? CopyContextLine(context) : 0;
    e.SetFailedRow(line > 0 && line <= sent ? line - 1 : 0, sent);
    throw e;
  }

  std::shared_ptr<Session> session_;
  std::string name_;
  std::vector<ParameterSpec> params_;
  bool copyable_;
  PgCopyTarget copy_;
  std::string lines_;  // queued rows in COPY text format
  int rows_ = 0;
};

class PgConnection final : public BackendConnection {
 public:
  explicit PgConnection(BackendChoice choice) : choice_(std::move(choice)) {
    PostgresConnectParams(choice_.Target);  // an unreadable string fails here, not at Open
  }
  ~PgConnection() override { Close(); }

  const char* Name() const noexcept override { return "PostgreSQL"; }

  void Open() override {
    const PgConnectParams p = PostgresConnectParams(choice_.Target);
    std::vector<const char*> keys, values;
    p.Arrays(keys, values);
    PGconn* conn = PQconnectdbParams(keys.data(), values.data(), p.ExpandDbname ? 1 : 0);
    if (!conn)
      throw EAdoError("The PostgreSQL client library could not allocate a connection.", kErrFail,
                      kSourcePostgreSql, true);
    if (PQstatus(conn) != CONNECTION_OK) {
      EAdoError e = PgError(conn, nullptr, "08001");
      PQfinish(conn);
      throw e;
    }
    PQsetNoticeProcessor(conn, NoNotices, nullptr);
    session_ = std::make_shared<Session>();
    session_->Conn = conn;
    try {
      Exec("SET DateStyle TO ISO, YMD");
      if (!p.Settings.empty()) Exec(p.Settings.c_str());
    } catch (...) {
      Close();
      throw;
    }
  }

  // The server rolls back a transaction left open by a connection that ends.
  void Close() noexcept override {
    if (!session_) return;
    PQfinish(session_->Conn);
    session_->Conn = nullptr;
    session_.reset();
  }

  void BeginTrans() override { Exec("BEGIN"); }

  // A transaction in which a statement failed ends with ROLLBACK whatever COMMIT asked; that
  // is a failed commit, not a successful one.
  void CommitTrans() override {
    PGconn* conn = Connected();
    Result res(PQexec(conn, "COMMIT"));
    if (!res || PQresultStatus(res.get()) != PGRES_COMMAND_OK) {
      EAdoError e = PgError(conn, res.get());
      EndOpenTransaction();
      throw e;
    }
    if (std::string(PQcmdStatus(res.get())) == "ROLLBACK")
      throw EAdoError(
          "The transaction was rolled back instead of committed because a statement "
          "in it had failed. (SQLSTATE 25P02)",
          kErrFail, kSourcePostgreSql);
  }
  void RollbackTrans() override { Exec("ROLLBACK"); }

  Engine GetEngine() const override { return Engine::PostgreSql; }
  std::string DbmsName() const override { return "PostgreSQL"; }

  std::unique_ptr<BackendStatement> Prepare(const std::string& sql,
                                            const std::vector<ParameterSpec>& params) override {
    PGconn* conn = Connected();
    DropStale();
    const std::string name = "mrv_" + std::to_string(++session_->NextName);
    std::vector<Oid> types;
    for (const ParameterSpec& p : params) types.push_back(ParamOid(p.Type));
    Result res(PQprepare(conn, name.c_str(), NumberPlaceholders(sql).c_str(),
                         static_cast<int>(types.size()), types.data()));
    if (!res || PQresultStatus(res.get()) != PGRES_COMMAND_OK) throw PgError(conn, res.get());
    PgCopyTarget copy;
    const bool copyable =
        !params.empty() && PlainInsertTarget(sql, copy) && copy.Count == params.size();
    return std::make_unique<PgStatement>(session_, name, params, copyable, std::move(copy));
  }

 private:
  PGconn* Connected() const {
    if (!session_ || !session_->Conn)
      throw EAdoError("The connection is closed.", kErrNotConnected, kSourcePostgreSql);
    return session_->Conn;
  }

  void Exec(const char* sql) {
    PGconn* conn = Connected();
    Result res(PQexec(conn, sql));
    const ExecStatusType status = res ? PQresultStatus(res.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK && status != PGRES_EMPTY_QUERY)
      throw PgError(conn, res.get());
  }

  void EndOpenTransaction() noexcept {
    const PGTransactionStatusType t = PQtransactionStatus(session_->Conn);
    if (t == PQTRANS_INTRANS || t == PQTRANS_INERROR) PQclear(PQexec(session_->Conn, "ROLLBACK"));
  }

  // Server-side statements of commands that went away; not inside a failed transaction, which
  // would refuse them (they go at a later preparation instead).
  void DropStale() noexcept {
    if (session_->Stale.empty() || PQtransactionStatus(session_->Conn) == PQTRANS_INERROR) return;
    for (const std::string& name : session_->Stale)
      PQclear(PQexec(session_->Conn, ("DEALLOCATE " + name).c_str()));
    session_->Stale.clear();
  }

  BackendChoice choice_;
  std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<BackendConnection> CreatePostgresBackend(const BackendChoice& choice) {
  return std::make_unique<PgConnection>(choice);
}

}  // namespace ado::detail

#else

namespace ado::detail {

std::unique_ptr<BackendConnection> CreatePostgresBackend(const BackendChoice&) {
  throw EAdoError(
      "This build has no native PostgreSQL provider (it was built without the "
      "PostgreSQL client library). Use the PostgreSQL ODBC driver instead: "
      "Driver={PostgreSQL Unicode};Server=...;Port=...;Database=...;Uid=...;Pwd=...",
      kErrClassNotRegistered, kSourceAccessLayer, true);
}

}  // namespace ado::detail

#endif
