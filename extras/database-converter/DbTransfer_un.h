#pragma once
// Record transfer: moves the data of one of the four databases from its local embedded
// database file into the matching External Database. Three operations, called by the
// conversion procedure at three points of the run: ConnectTarget (count, ask, clear),
// CheckSource (verify the copy's tables and fields) and Transfer (copy every record with
// prepared parameterised inserts, committed every 1000 rows). Everything is reported through
// the run's settings record.

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Ado.h"
#include "DbConversionInfo_un.h"
#include "DbTransferIntf_un.h"

namespace edb {
class TEdbDatabase;
class TEdbField;
class TEdbTable;
}  // namespace edb

namespace mrv {

class EDbTransfer : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Rows per insert transaction and per clearing statement.
inline constexpr int TransferBatchSize = 1000;

// Where to learn how to create the External Databases (end of the missing-table message): the
// guide shipped beside the executables.
extern const char* const ExternalDatabaseGuide;

// "The %s (%s) table was not found in the target External Database. ..." for a database's
// display name and a table, ending in the guide's name.
std::string MissingTableMessage(const char* displayName, const char* table);

// One parameter of a table's insert statement; parameters are in column order.
struct TTransferParamDef {
  const char* Name;         // "@GREY_IP"
  ado::DataTypeEnum Type;   // adVarChar or adDate
  int Size;                 // 0 for dates
  const char* Column;       // target column
  const char* SourceField;  // source field whose value it receives
};

// One table of a database: source and target share the name.
struct TTransferTableDef {
  const char* Name;
  const char* KeyColumn;  // used by the clearing statement and the created schema
  const char* InsertStatement;
  std::vector<TTransferParamDef> Params;
  std::vector<const char*> RequiredFields;  // checked in the source, in this order
};

// The tables of a kind, in list order. Raises EDbTransfer "Not implemented." for other kinds.
const std::vector<TTransferTableDef>& TransferTableDefs(TDatabaseKind kind);

// Target schema of a table for the create-table helper: the key column, then one column per
// parameter (text columns sized like their parameter, except the DhaBlacklist address, which
// gets room for an IPv6 text like every other address column).
ado::TableDef TargetTableSchema(const TTransferTableDef& table);

// Greylisting signature over ANSI bytes: MD5 of "<IP up to its last dot>\t<sender>\t<recipient>"
// as 32 lowercase hexadecimal digits.
std::string ComputeSignature24(const std::string& ipAnsi, const std::string& senderAnsi,
                               const std::string& recipientAnsi);

// True when `e` is the storage library's refusal to open an encrypted file without its
// password or with a wrong one.
bool IsSourcePasswordError(const std::exception& e);

// A sentence naming the encrypted file at `path` that refused its password and saying whether
// no password or a wrong one was given. The password itself is never part of it.
std::string EncryptedFileText(const std::string& path, bool passwordGiven);
// The error text for a source file that refused its password: "Could not open the source %s
// database.", a line break and EncryptedFileText.
std::string SourcePasswordMessage(TDatabaseKind kind, const std::string& path, bool passwordGiven);

class TDbTransfer : public IDbTransfer {
 public:
  // `codePage` decodes the source's ANSI text and encodes the signature's input (0: default).
  TDbTransfer(TDbConversionInfo& info, TDatabaseKind kind, std::uint32_t codePage = 0);
  ~TDbTransfer() override;

  // With `create` set (before ConnectTarget), missing target tables are not an error: they
  // count as empty, and Transfer creates them (a missing SQLite file too) in the engine's
  // dialect before it copies. The conversion procedure runs every Transfer only after every
  // source has passed CheckSource, so the target is left unchanged when a source is refused.
  void SetCreateSchema(bool create) { createSchema_ = create; }

  void ConnectTarget() override;
  void CheckSource(const std::string& sourcePath) override;
  void Transfer(const std::string& sourcePath) override;

  TDatabaseKind Kind() const { return kind_; }
  // Rows inserted for this database so far, over all its tables.
  std::int32_t InsertedCount() const { return insertedCount_; }
  // Rows found in the source tables by the last Transfer, per table in list order.
  const std::vector<std::int64_t>& SourceCounts() const { return sourceCounts_; }
  // Rows inserted per table in list order (rolled-back rows included, like InsertedCount).
  const std::vector<std::int64_t>& InsertedPerTable() const { return insertedPerTable_; }
  // What the run did to the target, per table in list order. TargetCountsBefore: the rows the
  // target held when ConnectTarget counted them (empty when it never counted). DeletedPerTable:
  // rows removed by committed clearing statements. CommittedPerTable: inserted rows whose batch
  // was committed (a rolled-back batch is not counted). SecondsPerTable: time spent copying.
  const std::vector<std::int64_t>& TargetCountsBefore() const { return targetBefore_; }
  const std::vector<std::int64_t>& DeletedPerTable() const { return deletedPerTable_; }
  const std::vector<std::int64_t>& CommittedPerTable() const { return committedPerTable_; }
  const std::vector<double>& SecondsPerTable() const { return secondsPerTable_; }
  // The table being copied ("" before the first); read on the thread running Transfer, as the
  // progress callback is.
  const char* CopyingTable() const { return copyingTable_; }

 private:
  bool Connect(const std::string& customError);
  void Disconnect() noexcept;
  std::int64_t CountTargetRecords(std::vector<std::int64_t>& counts);
  std::int64_t CountTable(const std::string& table);
  bool TargetTableExists(const std::string& table);
  void CreateMissingTables();
  void CheckTargetEmpty();
  void ClearTable(const TTransferTableDef& table, std::int64_t tableCount, std::int64_t& deleted,
                  std::int64_t total);
  void CheckSourceTable(edb::TEdbTable& table, const std::vector<const char*>& required);
  void TransferTables(edb::TEdbTable& table);
  void CopyTable(edb::TEdbTable& table, const TTransferTableDef& def);
  // The parameter values of the current source record (the reader thread's part of CopyTable).
  // signatureInputs: the IP, sender and recipient parameters' indexes.
  void DecodeRow(const std::vector<edb::TEdbField*>& fields, int signatureIndex,
                 const std::array<int, 3>& signatureInputs, const TTransferTableDef& def,
                 std::int64_t recordNo, std::vector<ado::Variant>& values) const;
  std::string SignatureText(const edb::TEdbField& field) const;
  void CheckDecodable(const edb::TEdbField& field, const TTransferTableDef& def,
                      std::int64_t recordNo) const;
  void SetUpParameters(const TTransferTableDef& def, std::vector<ado::ParameterPtr>& params);

  void BeginBatch();
  void RecordInserted();
  void ForgetUncommitted() noexcept;
  void CommitBatch();
  void RollbackBatch() noexcept;
  // Sends the rows the command queued; a refused row reaches the caller as EAdoError naming it.
  void SendQueuedRows();

  const char* DisplayName() const;
  // Sets up `db` to open the source file at `path` (a copy of the task's file) under `alias`.
  void PrepareSource(edb::TEdbDatabase& db, const std::string& path, const char* alias) const;

  TDbConversionInfo& info_;
  TDatabaseKind kind_;
  std::uint32_t codePage_;
  bool createSchema_ = false;
  std::unique_ptr<ado::Connection> connection_;
  std::unique_ptr<ado::Command> command_;
  bool inTransaction_ = false;
  std::int32_t uncommittedCount_ = 0;
  std::int32_t insertedCount_ = 0;
  std::vector<std::int64_t> sourceCounts_;
  std::vector<std::int64_t> insertedPerTable_;
  std::vector<std::int64_t> targetBefore_;
  std::vector<std::int64_t> deletedPerTable_;
  std::vector<std::int64_t> committedPerTable_;
  std::vector<std::int64_t> uncommittedPerTable_;  // rows of the open batch, per table
  std::vector<double> secondsPerTable_;
  size_t copyingIndex_ = 0;
  const char* copyingTable_ = "";  // the table being copied and
  std::int32_t tableStart_ = 0;    // InsertedCount when its first row came
};

// Creates the tables of `kind` that are missing in the target (key column plus the columns of
// the insert statement, in the connected engine's dialect). Returns the names of the tables it
// created. Raises ado::EAdoError when the target cannot be reached or a table not created.
std::vector<std::string> CreateTargetTables(const std::string& connectionString,
                                            TDatabaseKind kind);

// A factory for TDbConverter creating TDbTransfer objects that use `codePage` (and create the
// missing target tables with `createSchema`).
TDbTransferFactory MakeDbTransferFactory(std::uint32_t codePage = 0, bool createSchema = false);

}  // namespace mrv
