#pragma once
// TEdbDatabase and TEdbTable: the database and table objects of the embedded database reader.
// A database object opens one database file under an alias (DatabaseName) in a session; a table
// object opens one table of an open database by name, walks its records in physical order and
// hands out field values.
//
//   edb::TEdbDatabase db;                        // default session
//   db.SetDatabaseFileName(path);
//   db.SetDatabaseName("SourceDb");
//   db.Open();
//   edb::TEdbTable t;
//   t.SetDatabaseName("SourceDb");
//   t.SetTableName("GREY");
//   t.Open();
//   if (t.FieldDefs().IndexOf("GREY_IP") < 0) ...;
//   edb::TEdbField& ip = t.FieldByName("grey_ip");
//   while (!t.Eof()) { edb::TEdbVariant v = ip.AsVariant(); ...; t.Next(); }
//   t.Close();
//   db.Close();
//
// Engine failures raise EEdbException (with native code); component-level failures raise
// EEdbComponentError (no code). Objects are used from one thread at a time.
//
// This is the reader's published header: it also brings the code pages, the field values
// (TEdbVariant) and the named error codes. The format writer publishes EdbFormatWriter.h and
// EdbBlobWriter.h.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EdbCodePage.h"
#include "EdbException.h"
#include "EdbValueConvert.h"
#include "EdbVariant.h"

namespace edb {

class TEdbDatabase;
class TEdbTable;
class TEdbSession;

// Process-wide default session.
TEdbSession& EdbDefaultSession();

class TEdbSession {
 public:
  TEdbSession();
  ~TEdbSession();
  TEdbSession(const TEdbSession&) = delete;
  TEdbSession& operator=(const TEdbSession&) = delete;

  // Open or closed database object registered under this alias (case-insensitive), or null.
  TEdbDatabase* FindDatabase(const std::string& alias) const;

 private:
  friend class TEdbDatabase;
  friend class TEdbTable;
  void Register(TEdbDatabase* db);
  void Unregister(TEdbDatabase* db);
  std::vector<TEdbDatabase*> databases_;
};

// Asked for a password when the file needs one or the given one is wrong. Set `password` and
// return true to retry; return false to give up (the password error is raised).
using TEdbPasswordEvent = std::function<bool(TEdbDatabase& sender, std::string& password)>;
// Asked whether to repair a file that was not closed correctly. Return true for Yes. This
// reader does not repair: a Yes answer is refused with error 20238 and the file stays unchanged.
using TEdbNeedRepairEvent = std::function<bool(TEdbDatabase& sender)>;

class TEdbDatabase {
 public:
  explicit TEdbDatabase(TEdbSession* session = nullptr);  // null: the default session
  ~TEdbDatabase();
  TEdbDatabase(const TEdbDatabase&) = delete;
  TEdbDatabase& operator=(const TEdbDatabase&) = delete;

  // Alias. Only while closed ("Cannot perform this operation on an open database"); an alias
  // another database object of the session has fails with "Duplicate database name '%s'".
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  // Path of the file; a different value closes an open database first.
  const std::string& DatabaseFileName() const { return fileName_; }
  void SetDatabaseFileName(const std::string& path);
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& p) { password_ = p; }

  bool ReadOnly() const { return readOnly_; }  // after open: reflects the file
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool v) { exclusive_ = v; }
  bool MultiUser() const { return multiUser_; }
  void SetMultiUser(bool v) { multiUser_ = v; }
  int MaxConnections() const { return maxConnections_; }
  void SetMaxConnections(int v) { maxConnections_ = v; }
  bool KeepConnection() const { return keepConnection_; }
  void SetKeepConnection(bool v) { keepConnection_ = v; }
  bool SilentMode() const { return silentMode_; }
  void SetSilentMode(bool v) { silentMode_ = v; }
  bool DisableTempFiles() const { return disableTempFiles_; }
  void SetDisableTempFiles(bool v) { disableTempFiles_ = v; }
  int PageSize() const { return pageSize_; }  // after open: reflects the file
  void SetPageSize(int v) { pageSize_ = v; }
  // Code page of ANSI text in this file (0: EdbDefaultCodePage()).
  uint32_t CodePage() const { return codePage_; }
  void SetCodePage(uint32_t cp) { codePage_ = cp; }

  // Opens this in-memory file image instead of the file named by DatabaseFileName (tests and
  // fuzzing); the file name then only labels it. Null: the file.
  void SetMemoryImage(std::shared_ptr<std::vector<uint8_t>> bytes) {
    memoryImage_ = std::move(bytes);
  }

  TEdbPasswordEvent OnPassword;
  TEdbNeedRepairEvent OnNeedRepair;

  bool Connected() const { return state_ != nullptr; }
  void SetConnected(bool v) { v ? Open() : Close(); }
  void Open();
  // Closes every table attached to this database, then the file. Closing twice does nothing.
  void Close();

  // True when the opened file reported that it was not closed correctly (opened unchanged).
  bool NeedsRepair() const;

  // Table names of the open database, in table-list order.
  std::vector<std::string> GetTableNames() const;

  struct State;  // opened file and its loaded tables (implementation detail)
  State* InternalState() const { return state_.get(); }

 private:
  friend class TEdbTable;
  void AttachTable(TEdbTable* t);
  void DetachTable(TEdbTable* t);

  TEdbSession* session_;
  std::string databaseName_, fileName_, password_;
  bool readOnly_ = false, exclusive_ = false, multiUser_ = false, keepConnection_ = true,
       silentMode_ = false, disableTempFiles_ = false;
  int maxConnections_ = 500;
  int pageSize_ = 4096;
  uint32_t codePage_ = kEdbDefaultCodePage;
  std::unique_ptr<State> state_;
  std::vector<TEdbTable*> tables_;
  std::shared_ptr<std::vector<uint8_t>> memoryImage_;
  bool closing_ = false;
};

// A field definition as offered to callers.
struct TEdbFieldDefInfo {
  std::string Name;
  TEdbValueKind Kind = TEdbValueKind::Blob;
  int32_t Size = 0;  // FieldSize for strings and bytes, 38 for GUID, else 0
  bool Required = false;
  // Storage details.
  uint8_t BaseType = 0;
  uint8_t AdvancedType = 0;
  int32_t FieldSize = 0;
  const char* SqlTypeName() const;  // first SQL name of the declared type
};

class TEdbFieldDefs {
 public:
  int Count() const { return static_cast<int>(defs_.size()); }
  const TEdbFieldDefInfo& operator[](int i) const { return defs_.at(static_cast<size_t>(i)); }
  // Position of the definition with this name (case-insensitive), or -1.
  int IndexOf(const std::string& name) const;
  auto begin() const { return defs_.begin(); }
  auto end() const { return defs_.end(); }

 private:
  friend class TEdbTable;
  std::vector<TEdbFieldDefInfo> defs_;
};

// Value accessor of one field of an open table (valid until the table closes).
class TEdbField {
 public:
  const std::string& FieldName() const;
  int Index() const { return index_; }
  const TEdbFieldDefInfo& Def() const;
  bool IsNull() const;
  // The field's value in the current record (null on an empty table).
  TEdbVariant AsVariant() const;
  // Text of the value; raises EEdbComponentError for null.
  std::string AsString() const { return AsVariant().ToString(); }
  // True for the kinds whose text is stored as ANSI bytes (strings, fixed strings, memos).
  bool IsAnsiText() const;
  // The ANSI bytes of such a field as stored, before any decoding; raises EEdbComponentError
  // for null, like AsString, and for a field of another kind.
  std::string AnsiBytes() const;

 private:
  friend class TEdbTable;
  TEdbField(TEdbTable* table, int index) : table_(table), index_(index) {}
  TEdbTable* table_;
  int index_;
};

class TEdbTable {
 public:
  explicit TEdbTable(TEdbSession* session = nullptr);  // null: the default session
  ~TEdbTable();
  TEdbTable(const TEdbTable&) = delete;
  TEdbTable& operator=(const TEdbTable&) = delete;

  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& alias);  // while closed
  const std::string& TableName() const { return tableName_; }
  void SetTableName(const std::string& name);  // while closed
  const std::string& IndexName() const { return indexName_; }
  void SetIndexName(const std::string& name);  // while closed; empty: physical order

  void Open();
  void Close();
  bool Active() const { return cursor_ != nullptr; }

  bool Eof() const { return eof_; }
  void Next();
  // Moves back to the first record (Eof set when the table is empty).
  void First();
  int64_t RecordCount() const;  // 0 while closed

  const TEdbFieldDefs& FieldDefs() const { return fieldDefs_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TEdbField& Fields(int i);
  // Case-insensitive; raises EEdbComponentError "Field '%s' not found" for an unknown name.
  TEdbField& FieldByName(const std::string& name);
  TEdbField* FindField(const std::string& name);

  struct Cursor;  // implementation detail
  Cursor* InternalCursor() const { return cursor_.get(); }

 private:
  friend class TEdbField;
  friend class TEdbDatabase;
  TEdbSession* session_;
  std::string databaseName_, tableName_, indexName_;
  TEdbDatabase* database_ = nullptr;
  std::unique_ptr<TEdbDatabase> tempDatabase_;  // created when no database has the alias
  std::unique_ptr<Cursor> cursor_;
  TEdbFieldDefs fieldDefs_;
  std::vector<std::unique_ptr<TEdbField>> fields_;
  bool eof_ = true;
};

}  // namespace edb
