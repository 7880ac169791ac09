// The Connection / Command / Parameters / Recordset facade over the backends.
#include "Ado.h"

#include <algorithm>

#include "AdoBackend.h"
#include "AdoConnectionString.h"

namespace ado {
namespace detail {

void ConnectionState::ReleaseStatements() noexcept {
  for (BackendStatement* s : Statements) s->Release();
  Statements.clear();
}

BackendFactory& BackendFactoryForTesting() {
  static BackendFactory factory;
  return factory;
}

void ConnectionState::Forget(BackendStatement* statement) noexcept {
  Statements.erase(std::remove(Statements.begin(), Statements.end(), statement), Statements.end());
  if (Pending == statement) Pending = nullptr;
}

void ConnectionState::FlushPending() {
  if (LostRows) std::rethrow_exception(LostRows);
  BackendStatement* statement = Pending;
  Pending = nullptr;
  if (statement) statement->Flush();
}

void ConnectionState::DiscardPending() noexcept {
  if (Pending) Pending->Discard();
  Pending = nullptr;
  LostRows = nullptr;
}

}  // namespace detail

namespace {

// Runs one call into a backend. Providers sometimes echo the connection string or the password
// in their messages, so every failure leaves this layer with the string's passwords masked.
template <class F>
auto Masked(const std::string& connectionString, F&& call) -> decltype(call()) {
  try {
    return call();
  } catch (const EAdoError& e) {
    EAdoError masked(MaskSecrets(e.Message(), connectionString), e.ErrorCode(), e.ErrorSource(),
                     e.ComponentUnavailable());
    masked.SetFailedRow(e.FailedRowIndex(), e.RowsSent());
    throw masked;
  }
}

[[noreturn]] void NotOpen() {
  throw EAdoError("Operation is not allowed when the object is closed.", kErrNotConnected,
                  kSourceAccessLayer);
}

}  // namespace

// ---- Connection ----

Connection::Connection() : state_(std::make_shared<detail::ConnectionState>()) {}

Connection::~Connection() { Close(); }

void Connection::SetConnectionString(const std::string& text) {
  if (state_->Open)
    throw EAdoError("Operation is not allowed when the object is open.", kErrInvalidArgument,
                    kSourceAccessLayer);
  state_->Backend = Masked(text, [&] {
    BackendChoice choice = ChooseBackend(text);
    choice.CreateIfMissing = choice.CreateIfMissing || createIfMissing_;
    if (detail::BackendFactoryForTesting()) return detail::BackendFactoryForTesting()(choice);
    switch (choice.Kind) {
      case BackendKind::Sqlite: return detail::CreateSqliteBackend(choice);
      case BackendKind::Odbc: return detail::CreateOdbcBackend(choice);
      case BackendKind::PostgreSql: return detail::CreatePostgresBackend(choice);
      case BackendKind::Provider: break;
    }
    return detail::CreateProviderBackend(choice);
  });
  state_->ConnectionString = text;
}

const std::string& Connection::ConnectionString() const { return state_->ConnectionString; }

void Connection::Open() {
  if (!state_->Backend)
    throw EAdoError("The connection string is empty.", kErrInvalidArgument, kSourceAccessLayer);
  if (state_->Open)
    throw EAdoError("Operation is not allowed when the object is open.", kErrInvalidArgument,
                    kSourceAccessLayer);
  Masked(state_->ConnectionString, [&] { state_->Backend->Open(); });
  state_->Open = true;
  state_->InTransaction = false;
  ++state_->Epoch;
}

void Connection::Close() noexcept {
  if (!state_->Open) return;
  state_->DiscardPending();
  state_->ReleaseStatements();
  if (state_->InTransaction) {
    try {
      state_->Backend->RollbackTrans();
    } catch (...) {
    }
  }
  state_->Backend->Close();
  state_->Open = false;
  state_->InTransaction = false;
  ++state_->Epoch;
}

bool Connection::IsOpen() const noexcept { return state_->Open; }

void Connection::BeginTrans() {
  if (!state_->Open) NotOpen();
  if (state_->InTransaction)
    throw EAdoError("A transaction is already open on this connection.", kErrInvalidArgument,
                    kSourceAccessLayer);
  Masked(state_->ConnectionString, [&] { state_->Backend->BeginTrans(); });
  state_->InTransaction = true;
}

void Connection::CommitTrans() {
  if (!state_->Open) NotOpen();
  if (!state_->InTransaction)
    throw EAdoError("No transaction is open on this connection.", kErrInvalidArgument,
                    kSourceAccessLayer);
  Masked(state_->ConnectionString, [&] {
    state_->FlushPending();  // queued rows belong to this transaction
    state_->Backend->CommitTrans();
  });
  state_->InTransaction = false;
}

void Connection::RollbackTrans() {
  if (!state_->Open) NotOpen();
  if (!state_->InTransaction)
    throw EAdoError("No transaction is open on this connection.", kErrInvalidArgument,
                    kSourceAccessLayer);
  state_->InTransaction = false;  // the transaction is over whatever the backend says
  state_->DiscardPending();
  Masked(state_->ConnectionString, [&] { state_->Backend->RollbackTrans(); });
}

bool Connection::InTransaction() const noexcept { return state_->InTransaction; }

const Dialect& Connection::GetDialect() const {
  if (!state_->Open) NotOpen();
  return DialectFor(state_->Backend->GetEngine());
}

std::string Connection::BackendName() const {
  return state_->Backend ? state_->Backend->Name() : std::string();
}

std::string Connection::DbmsName() const {
  if (!state_->Open) NotOpen();
  return state_->Backend->DbmsName();
}

std::int64_t Connection::Execute(const std::string& sql) {
  Command cmd;
  cmd.SetActiveConnection(*this);
  cmd.SetCommandText(sql);
  std::int64_t affected = -1;
  cmd.Execute(affected).Close();
  return affected;
}

// ---- Parameters ----

Parameter::Parameter(std::string name, DataTypeEnum type, ParameterDirectionEnum direction,
                     int size)
    : name_(std::move(name)), type_(type), direction_(direction), size_(size) {}

void Parameters::Append(ParameterPtr parameter) {
  if (!parameter)
    throw EAdoError("Parameter object is improperly defined.", kErrInvalidArgument,
                    kSourceAccessLayer);
  items_.push_back(std::move(parameter));
  ++generation_;
}

void Parameters::Delete(int index) {
  if (index < 0 || index >= Count())
    throw EAdoError("Item cannot be found in the collection.", kErrInvalidArgument,
                    kSourceAccessLayer);
  items_.erase(items_.begin() + index);
  ++generation_;
}

Parameter& Parameters::Item(int index) const {
  if (index < 0 || index >= Count())
    throw EAdoError("Item cannot be found in the collection.", kErrInvalidArgument,
                    kSourceAccessLayer);
  return *items_[static_cast<std::size_t>(index)];
}

// ---- Recordset ----

Recordset::Recordset(std::vector<std::string> names, std::vector<std::vector<Variant>> rows)
    : open_(true), names_(std::move(names)), rows_(std::move(rows)) {}

void Recordset::MoveNext() {
  if (!open_) NotOpen();
  if (row_ >= rows_.size())
    throw EAdoError("Either BOF or EOF is True, or the current record has been deleted.",
                    kErrInvalidArgument, kSourceAccessLayer);
  ++row_;
}

Field Recordset::Fields(int index) const {
  if (!open_) NotOpen();
  if (index < 0 || index >= FieldCount())
    throw EAdoError("Item cannot be found in the collection.", kErrInvalidArgument,
                    kSourceAccessLayer);
  if (row_ >= rows_.size())
    throw EAdoError("Either BOF or EOF is True, or the current record has been deleted.",
                    kErrInvalidArgument, kSourceAccessLayer);
  auto i = static_cast<std::size_t>(index);
  return Field(names_[i], rows_[row_][i]);
}

void Recordset::Close() noexcept {
  open_ = false;
  names_.clear();
  rows_.clear();
  row_ = 0;
}

// ---- Command ----

Command::Command() = default;

Command::~Command() {
  if (statement_ && connection_ && connection_->Pending == statement_.get()) {
    // Queued rows still travel; a failure makes the transaction's commit fail instead.
    try {
      connection_->FlushPending();
    } catch (...) {
      connection_->LostRows = std::current_exception();
    }
  }
  if (statement_ && connection_) connection_->Forget(statement_.get());
}

void Command::SetActiveConnection(Connection& connection) {
  FlushOwnRows();
  if (statement_ && connection_) connection_->Forget(statement_.get());
  statement_.reset();
  connection_ = connection.state_;
}

void Command::SetCommandType(CommandTypeEnum type) {
  if (type != adCmdText)
    throw EAdoError("Only text commands are supported.", kErrInvalidArgument, kSourceAccessLayer);
  type_ = type;
}

void Command::SetCommandText(const std::string& text) {
  if (text == text_) return;
  FlushOwnRows();
  text_ = text;
  if (statement_ && connection_) connection_->Forget(statement_.get());
  statement_.reset();
}

ParameterPtr Command::CreateParameter(const std::string& name, DataTypeEnum type,
                                      ParameterDirectionEnum direction, int size) {
  switch (type) {
    case adInteger:
    case adDouble:
    case adDate:
    case adBigInt:
    case adVarChar:
    case adVarWChar: break;
    default:
      throw EAdoError(
          "Parameter type " + std::to_string(static_cast<int>(type)) + " is not supported.",
          kErrInvalidArgument, kSourceAccessLayer);
  }
  if (direction != adParamInput)
    throw EAdoError("Only input parameters are supported.", kErrInvalidArgument,
                    kSourceAccessLayer);
  if (size < 0)
    throw EAdoError("Parameter size must not be negative.", kErrInvalidArgument,
                    kSourceAccessLayer);
  return std::make_shared<Parameter>(name, type, direction, size);
}

Recordset Command::Execute() { return Run(nullptr); }

Recordset Command::Execute(std::int64_t& recordsAffected) { return Run(&recordsAffected); }

Recordset Command::Run(std::int64_t* recordsAffected) {
  if (!connection_ || !connection_->Open) NotOpen();
  if (text_.empty())
    throw EAdoError("Command text was not set for the command object.", kErrInvalidArgument,
                    kSourceAccessLayer);
  // Rows queued by another statement go first, so everything arrives in order.
  if (connection_->Pending && connection_->Pending != statement_.get())
    Masked(connection_->ConnectionString, [&] { connection_->FlushPending(); });
  // Prepare once per text, parameter list and connection session; afterwards only bind.
  if (statement_ && (preparedGeneration_ != parameters_.generation_ ||
                     preparedConnectionEpoch_ != connection_->Epoch)) {
    FlushOwnRows();
    connection_->Forget(statement_.get());
    statement_.reset();
  }
  if (!statement_) {
    std::vector<detail::ParameterSpec> specs;
    for (const ParameterPtr& p : parameters_.items_)
      specs.push_back({p->Name(), p->Type(), p->Direction(), p->Size()});
    statement_ = Masked(connection_->ConnectionString,
                        [&] { return connection_->Backend->Prepare(text_, specs); });
    connection_->Statements.push_back(statement_.get());
    preparedGeneration_ = parameters_.generation_;
    preparedConnectionEpoch_ = connection_->Epoch;
    ++prepareCount_;
  }
  values_.clear();
  for (const ParameterPtr& p : parameters_.items_) values_.push_back(&p->Value());
  if (Queue(recordsAffected)) return Recordset();
  FlushOwnRows();
  std::int64_t affected = -1;
  detail::ResultRows rows;
  Masked(connection_->ConnectionString, [&] { statement_->Execute(values_, affected, rows); });
  if (recordsAffected) *recordsAffected = affected;
  if (!rows.HasResult) return Recordset();
  return Recordset(std::move(rows.Names), std::move(rows.Rows));
}

bool Command::Queue(const std::int64_t* recordsAffected) {
  const int capacity = std::min(queueRows_, statement_->QueueCapacity());
  if (capacity <= 0 || recordsAffected || !connection_->InTransaction) return false;
  if (statement_->Queued() >= capacity) FlushOwnRows();
  statement_->Queue(values_);
  connection_->Pending = statement_.get();
  return true;
}

void Command::FlushOwnRows() {
  if (statement_ && connection_ && connection_->Pending == statement_.get())
    Masked(connection_->ConnectionString, [&] { connection_->FlushPending(); });
}

void Command::SetQueueRows(int maxRows) {
  if (maxRows < 0)
    throw EAdoError("The number of queued rows must not be negative.", kErrInvalidArgument,
                    kSourceAccessLayer);
  if (maxRows == 0) FlushOwnRows();
  queueRows_ = maxRows;
}

int Command::QueuedRows() const noexcept {
  return statement_ && connection_ && connection_->Pending == statement_.get()
             ? statement_->Queued()
             : 0;
}

void Command::Flush() { FlushOwnRows(); }

// ---- Schema helper ----

bool TableExists(Connection& connection, const std::string& table) {
  try {
    connection.Execute(connection.GetDialect().ProbeTableStatement(table));
    return true;
  } catch (const EAdoError&) {
    return false;
  }
}

bool CreateTableIfMissing(Connection& connection, const TableDef& table) {
  const Dialect& dialect = connection.GetDialect();
  const bool existed = TableExists(connection, table.Name);
  // Engines with an "if not exists" form get it even when the probe saw the table, so a table
  // created by someone else in between is never an error.
  if (existed && !dialect.SupportsCreateIfMissing()) return false;
  connection.Execute(dialect.CreateTableStatement(table));
  return !existed;
}

}  // namespace ado
