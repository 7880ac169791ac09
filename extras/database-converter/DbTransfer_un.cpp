// Record transfer: counting, clearing and filling the External Database tables of one
// database from the temporary copy of its local file.
#include "DbTransfer_un.h"

#include <cassert>
#include <chrono>

#include "Ado.h"
#include "BaseScopeGuard.h"
#include "BaseText.h"
#include "DbTransferReadAhead_un.h"
#include "EdbMain.h"

namespace mrv {

namespace {

const char* const NotImplemented = "Not implemented.";
const char* const CheckSourceAlias = "CheckSourceDb_SourceDb";
const char* const TransferAlias = "TransferDatabase_SourceDb";

// A source value as a parameter value: text stays text, a date-time stays a date-time, null
// stays null.
// Closes a source database or table on the way out; a failure to close changes nothing there.
template <typename T>
void CloseQuietly(T& source) noexcept {
  try {
    source.Close();
  } catch (...) {
  }
}

ado::Variant ToAdoVariant(edb::TEdbVariant&& v) {
  switch (v.Type()) {
    case edb::TEdbVarType::Null: return ado::Variant();
    case edb::TEdbVarType::Text: return ado::Variant(v.TakeText());
    case edb::TEdbVarType::DateTime: return ado::Variant::FromDateTime(v.AsDateTime());
    case edb::TEdbVarType::Integer: return ado::Variant(static_cast<std::int64_t>(v.AsInteger()));
    case edb::TEdbVarType::Double: return ado::Variant::FromDouble(v.AsDouble());
    case edb::TEdbVarType::Boolean: return ado::Variant(v.AsBoolean() ? -1 : 0);
    case edb::TEdbVarType::Bytes: return ado::Variant(v.ToString());
  }
  return ado::Variant();
}

}  // namespace

TDbTransfer::TDbTransfer(TDbConversionInfo& info, TDatabaseKind kind, std::uint32_t codePage)
    : info_(info), kind_(kind), codePage_(codePage) {}

TDbTransfer::~TDbTransfer() { Disconnect(); }

const char* TDbTransfer::DisplayName() const { return DatabaseDisplayName(kind_); }

bool IsSourcePasswordError(const std::exception& e) {
  const auto* edbError = dynamic_cast<const edb::EEdbException*>(&e);
  return edbError && edbError->NativeError() == edb::errc::kIncorrectPassword;
}

std::string EncryptedFileText(const std::string& path, bool passwordGiven) {
  return passwordGiven
             ? base::Format("The password given for the encrypted file \"%s\" is wrong.",
                            path.c_str())
             : base::Format("The file \"%s\" is encrypted and no password was given for it.",
                            path.c_str());
}

std::string SourcePasswordMessage(TDatabaseKind kind, const std::string& path, bool passwordGiven) {
  return base::Format("Could not open the source %s database.\r\n", DatabaseDisplayName(kind)) +
         EncryptedFileText(path, passwordGiven);
}

void TDbTransfer::PrepareSource(edb::TEdbDatabase& db, const std::string& path,
                                const char* alias) const {
  db.SetCodePage(codePage_);
  db.SetDatabaseFileName(path);
  db.SetDatabaseName(alias);
  db.SetPassword(info_.Task(kind_).SourcePassword.value_or(std::string()));
}

// ---- target connection -------------------------------------------------------------------

bool TDbTransfer::Connect(const std::string& customError) {
  try {
    connection_ = std::make_unique<ado::Connection>();
    connection_->SetCreateIfMissing(createSchema_);
    connection_->SetConnectionString(info_.Task(kind_).TargetConnectionString);
    connection_->Open();
  } catch (const std::exception& e) {
    if (!customError.empty())
      info_.SetFormattedError(&e, "%s", customError.c_str());
    else
      info_.SetFormattedError(&e, "Could not connect to the target %s database.", DisplayName());
  }
  if (!info_.GetError().empty()) {
    Disconnect();
    return false;
  }
  command_ = std::make_unique<ado::Command>();
  command_->SetActiveConnection(*connection_);
  command_->SetCommandType(ado::adCmdText);
  command_->SetCommandText("");
  return true;
}

void TDbTransfer::Disconnect() noexcept {
  command_.reset();
  if (connection_) {
    try {
      connection_->Close();
    } catch (...) {
    }
  }
  connection_.reset();
  inTransaction_ = false;
  uncommittedCount_ = 0;
}

void TDbTransfer::ConnectTarget() {
  if (!info_.IsOk()) return;
  info_.ReportStatusFmt("Connecting to the target %s database", DisplayName());
  const std::string custom = base::Format(
      "Could not connect to the target %s database.\r\n\r\nMake sure the database has been "
      "created,\r\nand the database server is up and running.",
      DisplayName());
  if (createSchema_ && ado::SqliteFileMissing(info_.Task(kind_).TargetConnectionString)) {
    // Nothing to count or clear; the file is created by Transfer, not before.
    info_.ReportStatusFmt("The target %s database does not exist yet; it will be created.",
                          DisplayName());
    targetBefore_.assign(TransferTableDefs(kind_).size(), 0);
    return;
  }
  if (!Connect(custom)) return;
  const auto disconnect = base::OnScopeExit([this] { Disconnect(); });
  info_.ReportStatusFmt("Connected to the target %s database.", DisplayName());
  if (info_.IsOk()) CheckTargetEmpty();
}

std::int64_t TDbTransfer::CountTable(const std::string& table) {
  command_->SetCommandText(base::Format("SELECT COUNT(*) FROM %s;", table.c_str()));
  ado::Recordset rs = command_->Execute();
  const auto close = base::OnScopeExit([&rs] { rs.Close(); });
  return rs.Fields(0).Value().AsInt32();
}

std::int64_t TDbTransfer::CountTargetRecords(std::vector<std::int64_t>& counts) {
  if (!info_.IsOk()) return 0;
  const auto& tables = TransferTableDefs(kind_);
  counts.assign(tables.size(), 0);
  std::int64_t total = 0;
  for (size_t i = 0; i < tables.size(); ++i) {
    try {
      if (createSchema_ && !TargetTableExists(tables[i].Name)) continue;  // created later
      counts[i] = CountTable(tables[i].Name);
      total += counts[i];
    } catch (const std::exception& e) {
      info_.SetFormattedError(&e, "%s", MissingTableMessage(DisplayName(), tables[i].Name).c_str());
    }
  }
  return total;
}

bool TDbTransfer::TargetTableExists(const std::string& table) {
  try {
    connection_->Execute(connection_->GetDialect().ProbeTableStatement(table));
    return true;
  } catch (const ado::EAdoError&) {
    return false;
  }
}

void TDbTransfer::CreateMissingTables() {
  try {
    for (const TTransferTableDef& t : TransferTableDefs(kind_))
      if (ado::CreateTableIfMissing(*connection_, TargetTableSchema(t)))
        info_.ReportStatusFmt("Created table %s in the target %s database.", t.Name, DisplayName());
  } catch (const ado::EAdoError& e) {
    info_.SetFormattedError(&e, "Could not create the tables of the target %s database.",
                            DisplayName());
  }
}

void TDbTransfer::CheckTargetEmpty() {
  std::vector<std::int64_t> counts;
  const std::int64_t total = CountTargetRecords(counts);
  if (info_.IsOk()) targetBefore_ = counts;
  deletedPerTable_.assign(counts.size(), 0);
  if (!info_.IsOk() || total <= 0) return;
  info_.ReportStatusFmt("The target %s database is not empty.", DisplayName());

  TTargetNotEmptyAnswer answer = taDelete;
  if (info_.OnTargetNotEmpty) info_.OnTargetNotEmpty(kind_, answer);
  switch (static_cast<std::uint8_t>(answer)) {
    case taKeep: return;
    case taCancel: info_.Cancelled = true; return;
    case taDelete: break;
    default: throw EDbTransfer(NotImplemented);
  }

  const auto& tables = TransferTableDefs(kind_);
  std::int64_t deleted = 0;
  for (size_t i = 0; i < tables.size(); ++i) {
    const std::int64_t deletedBefore = deleted;
    const auto recordDeleted =
        base::OnScopeExit([&, i, deletedBefore] { deletedPerTable_[i] = deleted - deletedBefore; });
    try {
      ClearTable(tables[i], counts[i], deleted, total);
    } catch (const std::exception& e) {
      if (tables.size() == 1)
        info_.SetFormattedError(&e, "Could not clear the target %s table.", DisplayName());
      else
        info_.SetFormattedError(&e, "Could not clear the target %s table in the %s database.",
                                tables[i].Name, DisplayName());
      RollbackBatch();
    }
  }
}

void TDbTransfer::ClearTable(const TTransferTableDef& table, std::int64_t tableCount,
                             std::int64_t& deleted, std::int64_t total) {
  info_.ReportStatusFmt("Clearing the %s database...", DisplayName());
  const std::string statement =
      connection_->GetDialect().ClearBatchStatement(table.Name, table.KeyColumn, TransferBatchSize);

  std::int64_t done = 0;
  while (done < tableCount && info_.IsOk()) {
    info_.ReportProgress(deleted, total);
    command_->SetCommandText(statement);
    BeginBatch();
    std::int64_t affected = 0;
    command_->Execute(affected);
    CommitBatch();
    if (affected > 0) {
      done += affected;
      deleted += affected;
      continue;
    }
    // A statement that deleted nothing (or reported no count): look at what is left instead of
    // repeating it for ever.
    const std::int64_t remaining = CountTable(table.Name);
    const std::int64_t expected = tableCount - done;
    if (remaining <= 0) {
      deleted += expected;  // the table is empty now: count its rows as cleared
      done = tableCount;
    } else if (affected < 0 && remaining < expected) {
      deleted += expected - remaining;
      done += expected - remaining;
    } else {
      throw EDbTransfer(base::Format(
          "The clearing statement deleted no rows although %lld rows remain in table %s.",
          static_cast<long long>(remaining), table.Name));
    }
  }
  info_.ReportProgress(deleted, total);
  if (done == tableCount && deleted == total)
    info_.ReportStatusFmt("Finished clearing the %s database.", DisplayName());
}

// ---- source check --------------------------------------------------------------------------

void TDbTransfer::CheckSource(const std::string& sourcePath) {
  if (!info_.IsOk()) return;
  auto db = std::make_unique<edb::TEdbDatabase>();
  try {
    PrepareSource(*db, sourcePath, CheckSourceAlias);
    db->Open();
  } catch (const std::exception& e) {
    const std::optional<std::string>& password = info_.Task(kind_).SourcePassword;
    if (password && IsSourcePasswordError(e)) {
      info_.SetError(
          SourcePasswordMessage(kind_, info_.Task(kind_).SourcePath, !password->empty()));
      return;
    }
    info_.SetFormattedError(nullptr,
                            "Could not open the source %s database.\r\nPlease make sure that the "
                            "file is a valid Mrv database.",
                            DisplayName());
    return;
  }
  const auto close = base::OnScopeExit([&db] { CloseQuietly(*db); });
  if (!info_.IsOk()) return;
  edb::TEdbTable table;
  table.SetDatabaseName(CheckSourceAlias);
  const auto& tables = TransferTableDefs(kind_);
  for (size_t i = 0; i < tables.size(); ++i) {
    if (i > 1 || (i == 1 && kind_ != dkDha)) throw EDbTransfer(NotImplemented);
    table.SetTableName(tables[i].Name);
    CheckSourceTable(table, tables[i].RequiredFields);
  }
}

void TDbTransfer::CheckSourceTable(edb::TEdbTable& table,
                                   const std::vector<const char*>& required) {
  try {
    table.Open();
  } catch (const std::exception& e) {
    info_.SetFormattedError(&e,
                            "Could not access the main table of the source %s database.\r\nPlease "
                            "make sure that the file is a valid Mrv %s database.",
                            DisplayName(), DisplayName());
  }
  const auto close = base::OnScopeExit([&table] { CloseQuietly(table); });
  if (!info_.GetError().empty()) return;
  for (const char* field : required) {
    if (!info_.IsOk()) break;
    if (table.FieldDefs().IndexOf(field) < 0) {
      info_.SetFormattedError(nullptr,
                              "Invalid source %s database.\r\nPlease make sure that it is a valid "
                              "Mrv %s database file.",
                              DisplayName(), DisplayName());
      break;
    }
  }
}

// ---- transfer -------------------------------------------------------------------------------

void TDbTransfer::Transfer(const std::string& sourcePath) {
  if (!info_.IsOk()) return;
  info_.ReportStatusFmt("Converting the %s database...", DisplayName());
  if (!Connect(std::string())) return;

  std::unique_ptr<edb::TEdbDatabase> db;
  std::unique_ptr<edb::TEdbTable> table;
  const auto cleanup = base::OnScopeExit([&] {
    table.reset();
    if (db) CloseQuietly(*db);
    db.reset();
    Disconnect();
  });

  db = std::make_unique<edb::TEdbDatabase>();
  PrepareSource(*db, sourcePath, TransferAlias);
  db->Open();

  if (createSchema_) {
    CreateMissingTables();
    if (!info_.IsOk()) return;
  }
  table = std::make_unique<edb::TEdbTable>();
  table->SetDatabaseName(TransferAlias);
  TransferTables(*table);
}

void TDbTransfer::TransferTables(edb::TEdbTable& table) {
  const auto& tables = TransferTableDefs(kind_);
  sourceCounts_.assign(tables.size(), 0);
  insertedPerTable_.assign(tables.size(), 0);
  committedPerTable_.assign(tables.size(), 0);
  uncommittedPerTable_.assign(tables.size(), 0);
  secondsPerTable_.assign(tables.size(), 0.0);
  try {
    for (size_t i = 0; i < tables.size(); ++i) {
      if (i > 1 || (i == 1 && kind_ != dkDha)) throw EDbTransfer(NotImplemented);
      table.SetTableName(tables[i].Name);
      table.Open();
      const auto close = base::OnScopeExit([&table] { CloseQuietly(table); });
      sourceCounts_[i] = table.RecordCount();
      const std::int32_t before = insertedCount_;
      const auto start = std::chrono::steady_clock::now();
      const auto recordInserted = base::OnScopeExit([&, i, before, start] {
        insertedPerTable_[i] = insertedCount_ - before;
        secondsPerTable_[i] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      });
      copyingIndex_ = i;
      if (info_.IsOk()) CopyTable(table, tables[i]);
    }
    if (inTransaction_) {
      if (info_.IsOk()) {
        CommitBatch();
        info_.ReportStatusFmt("Finished converting the %s database.", DisplayName());
      } else {
        info_.ReportStatus("Rolling back data...");
        connection_->RollbackTrans();
        inTransaction_ = false;
        uncommittedCount_ = 0;
        ForgetUncommitted();
        info_.ReportStatus("Finished rolling back.");
      }
    }
  } catch (...) {
    if (inTransaction_) {
      info_.ReportStatus("Error occured, rolling back data...");
      RollbackBatch();
      info_.ReportStatus("Finished rolling back.");
    }
    throw;
  }
}

void TDbTransfer::SetUpParameters(const TTransferTableDef& def,
                                  std::vector<ado::ParameterPtr>& params) {
  ado::Parameters& list = command_->Parameters();
  while (list.Count() > 0) list.Delete(0);
  command_->SetCommandText(def.InsertStatement);
  params.clear();
  for (const TTransferParamDef& p : def.Params) {
    ado::ParameterPtr param = command_->CreateParameter(p.Name, p.Type, ado::adParamInput, p.Size);
    list.Append(param);
    params.push_back(param);
  }
}

void TDbTransfer::CopyTable(edb::TEdbTable& table, const TTransferTableDef& def) {
  std::vector<ado::ParameterPtr> params;
  SetUpParameters(def, params);
  // Where the target can take them, the rows of a batch travel together (see SendQueuedRows).
  command_->SetQueueRows(TransferBatchSize);
  copyingTable_ = def.Name;
  tableStart_ = insertedCount_;

  // Source field of every parameter; the Greylisting signature's field is optional and its
  // value is computed where it is missing or empty.
  const bool isGrey = kind_ == dkGrey;
  std::vector<edb::TEdbField*> fields(def.Params.size(), nullptr);
  int signatureIndex = -1, ipIndex = -1, senderIndex = -1, recipientIndex = -1;
  for (size_t i = 0; i < def.Params.size(); ++i) {
    const std::string source = def.Params[i].SourceField;
    if (isGrey && source == "GREY_SIGNATURE_24") {
      signatureIndex = static_cast<int>(i);
      if (table.FieldDefs().IndexOf(source) >= 0) fields[i] = &table.FieldByName(source);
      continue;
    }
    fields[i] = &table.FieldByName(source);
    if (source == "GREY_IP") ipIndex = static_cast<int>(i);
    if (source == "GREY_SENDER") senderIndex = static_cast<int>(i);
    if (source == "GREY_RECIPIENT") recipientIndex = static_cast<int>(i);
  }
  if (fields.size() != params.size()) {
    assert(false && "source field count must match target field count");
    throw EDbTransfer(
        base::Format("Source field count must match target field count. Table: %s.", def.Name));
  }

  // A reader thread decodes the source rows, in order, while this thread inserts the rows
  // before them; it stops when `reader` goes out of scope, whatever ends the copy. Moving to
  // the next record fails where it stood; a row that cannot be decoded fails after its
  // progress report, as if it were decoded here.
  const std::int64_t recordCount = table.RecordCount();  // before the reader owns the table
  std::int64_t recordNo = 0;                             // reader thread only
  TRowReadAhead reader([&](TTransferRow& row) {
    if (recordNo > 0) table.Next();
    if (table.Eof()) return false;
    ++recordNo;
    try {
      DecodeRow(fields, signatureIndex, {ipIndex, senderIndex, recipientIndex}, def, recordNo,
                row.Values);
    } catch (...) {
      row.Failure = std::current_exception();
    }
    return true;
  });

  for (;;) {
    TTransferRow* row = reader.Next();
    if (!row || !info_.IsOk()) break;
    info_.ReportProgress(insertedCount_, recordCount);
    if (row->Failure) std::rethrow_exception(row->Failure);
    for (size_t i = 0; i < params.size(); ++i) params[i]->SetValue(std::move(row->Values[i]));
    BeginBatch();
    command_->Execute();
    RecordInserted();
  }
  SendQueuedRows();
  info_.ReportProgress(insertedCount_, recordCount);
}

void TDbTransfer::DecodeRow(const std::vector<edb::TEdbField*>& fields, int signatureIndex,
                            const std::array<int, 3>& signatureInputs, const TTransferTableDef& def,
                            std::int64_t recordNo, std::vector<ado::Variant>& values) const {
  values.resize(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i]) CheckDecodable(*fields[i], def, recordNo);
    if (static_cast<int>(i) == signatureIndex) continue;
    values[i] = ToAdoVariant(fields[i]->AsVariant());
  }
  if (signatureIndex < 0) return;
  edb::TEdbVariant stored;
  if (fields[signatureIndex]) stored = fields[signatureIndex]->AsVariant();
  if (!stored.IsNull() && !(stored.Type() == edb::TEdbVarType::Text && stored.AsText().empty())) {
    values[signatureIndex] = ToAdoVariant(std::move(stored));
    return;
  }
  // Recipient first, then sender, then IP, as the file's own bytes; a null cannot be converted
  // and ends the copy.
  const std::string recipient = SignatureText(*fields[signatureInputs[2]]);
  const std::string sender = SignatureText(*fields[signatureInputs[1]]);
  const std::string ip = SignatureText(*fields[signatureInputs[0]]);
  values[signatureIndex] = ado::Variant(ComputeSignature24(ip, sender, recipient));
}

std::string TDbTransfer::SignatureText(const edb::TEdbField& field) const {
  if (field.IsAnsiText()) return field.AnsiBytes();
  return edb::EdbUtf8ToAnsi(field.AsVariant().ToString(), codePage_);
}

void TDbTransfer::CheckDecodable(const edb::TEdbField& field, const TTransferTableDef& def,
                                 std::int64_t recordNo) const {
  if (!field.IsAnsiText() || field.IsNull()) return;
  if (edb::EdbAnsiDecodable(field.AnsiBytes(), codePage_)) return;
  // Text that the code page cannot decode would reach the target as replacement characters.
  throw EDbTransfer(base::Format(
      "The %s field of record %lld in the %s table of the source %s database holds text that "
      "code page %u cannot decode.",
      field.FieldName().c_str(), static_cast<long long>(recordNo), def.Name, DisplayName(),
      static_cast<unsigned>(codePage_ ? codePage_ : edb::EdbDefaultCodePage())));
}

// ---- batch transactions --------------------------------------------------------------------

void TDbTransfer::BeginBatch() {
  if (!inTransaction_) {
    connection_->BeginTrans();
    inTransaction_ = true;
  }
}

void TDbTransfer::RecordInserted() {
  ++insertedCount_;
  ++uncommittedCount_;
  if (copyingIndex_ < uncommittedPerTable_.size()) ++uncommittedPerTable_[copyingIndex_];
  if (uncommittedCount_ >= TransferBatchSize) CommitBatch();
}

void TDbTransfer::CommitBatch() {
  if (inTransaction_) {
    SendQueuedRows();
    connection_->CommitTrans();
    inTransaction_ = false;
    uncommittedCount_ = 0;
    for (size_t i = 0; i < uncommittedPerTable_.size(); ++i) {
      committedPerTable_[i] += uncommittedPerTable_[i];
      uncommittedPerTable_[i] = 0;
    }
  }
}

void TDbTransfer::ForgetUncommitted() noexcept {
  for (std::int64_t& n : uncommittedPerTable_) n = 0;
}

void TDbTransfer::SendQueuedRows() {
  try {
    if (command_) command_->Flush();
  } catch (const ado::EAdoError& e) {
    if (e.RowsSent() <= 0) throw;
    // Queued rows were counted as they were queued; the refused row and those after it never
    // arrived, so the counts go back to where inserting row by row would have stopped.
    const std::int32_t lost = e.RowsSent() - e.FailedRowIndex();
    insertedCount_ -= lost;
    uncommittedCount_ -= lost;
    if (copyingIndex_ < uncommittedPerTable_.size()) uncommittedPerTable_[copyingIndex_] -= lost;
    ado::EAdoError named(
        base::Format("%s\r\nRow %d of the %s table was refused.", e.Message().c_str(),
                     insertedCount_ - tableStart_ + 1, copyingTable_),
        e.ErrorCode(), e.ErrorSource());
    named.SetFailedRow(e.FailedRowIndex(), e.RowsSent());
    throw named;
  }
}

void TDbTransfer::RollbackBatch() noexcept {
  if (!inTransaction_) return;
  inTransaction_ = false;
  uncommittedCount_ = 0;
  ForgetUncommitted();
  try {
    connection_->RollbackTrans();
  } catch (...) {
  }
}

TDbTransferFactory MakeDbTransferFactory(std::uint32_t codePage, bool createSchema) {
  return [codePage, createSchema](TDbConversionInfo& info,
                                  TDatabaseKind kind) -> std::unique_ptr<IDbTransfer> {
    auto transfer = std::make_unique<TDbTransfer>(info, kind, codePage);
    transfer->SetCreateSchema(createSchema);
    return transfer;
  };
}

}  // namespace mrv
