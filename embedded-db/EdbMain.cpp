#include "EdbMain.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "BaseText.h"
#include "EdbBlob.h"
#include "EdbCursor.h"
#include "EdbDiskDatabase.h"

namespace edb {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return s;
}

bool SameName(const std::string& a, const std::string& b) { return EdbSameNameAscii(a, b); }

std::string CanonicalPath(const std::string& p) {
  std::error_code ec;
  auto c = std::filesystem::weakly_canonical(std::filesystem::path(p), ec);
  return ec ? p : c.string();
}

bool FileExists(const std::string& p) {
  std::error_code ec;
  return !p.empty() && std::filesystem::is_regular_file(std::filesystem::path(p), ec);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Session

TEdbSession& EdbDefaultSession() {
  static TEdbSession session;
  return session;
}

TEdbSession::TEdbSession() = default;
TEdbSession::~TEdbSession() = default;

TEdbDatabase* TEdbSession::FindDatabase(const std::string& alias) const {
  for (TEdbDatabase* db : databases_) {
    if (SameName(db->DatabaseName(), alias)) return db;
  }
  return nullptr;
}

void TEdbSession::Register(TEdbDatabase* db) { databases_.push_back(db); }

void TEdbSession::Unregister(TEdbDatabase* db) {
  databases_.erase(std::remove(databases_.begin(), databases_.end(), db), databases_.end());
}

// ---------------------------------------------------------------------------------------------
// Database

struct TEdbDatabase::State {
  TEdbDiskDatabaseData Data;
  int32_t Session = 0;
  bool Connected = false;
  std::string CanonicalFile;
  // Loaded table states shared by the cursors of one table.
  std::map<std::string, std::weak_ptr<TEdbTableData>> Tables;

  ~State() {
    if (Connected) {
      try {
        Data.Disconnect(Session);
      } catch (...) {
      }
    }
    try {
      Data.Close();
    } catch (...) {
    }
  }
};

TEdbDatabase::TEdbDatabase(TEdbSession* session)
    : session_(session ? session : &EdbDefaultSession()) {
  session_->Register(this);
}

TEdbDatabase::~TEdbDatabase() {
  try {
    Close();
  } catch (...) {
  }
  session_->Unregister(this);
}

void TEdbDatabase::SetDatabaseName(const std::string& name) {
  if (name == databaseName_) return;
  if (Connected()) throw EEdbComponentError("Cannot perform this operation on an open database");
  TEdbDatabase* other = session_->FindDatabase(name);
  if (!name.empty() && other && other != this) {
    throw EEdbComponentError(base::Format("Duplicate database name '%s'", name.c_str()));
  }
  databaseName_ = name;
}

void TEdbDatabase::SetDatabaseFileName(const std::string& path) {
  if (path == fileName_) return;
  Close();
  fileName_ = path;
}

bool TEdbDatabase::NeedsRepair() const { return state_ && state_->Data.NeedsRepair(); }

std::vector<std::string> TEdbDatabase::GetTableNames() const {
  if (!state_) throw EEdbComponentError("Cannot perform this operation on a closed database");
  // Names are stored as ANSI text; callers get UTF-8 like every other text.
  std::vector<std::string> names = state_->Data.GetTableNames();
  for (std::string& n : names) n = EdbAnsiToUtf8(n, codePage_);
  return names;
}

void TEdbDatabase::Open() {
  if (Connected()) return;
  if (databaseName_.empty()) throw EEdbComponentError("Database name missing");
  if (!memoryImage_ && !FileExists(fileName_)) {
    throw EEdbComponentError(base::Format("Database file '%s' does not exist", fileName_.c_str()));
  }
  const std::string canonical = CanonicalPath(fileName_);
  // The same file open in this process under another password.
  for (TEdbDatabase* other : session_->databases_) {
    if (other != this && other->state_ && other->state_->CanonicalFile == canonical &&
        other->password_ != password_) {
      EdbRaise(errc::kInvalidDatabasePassword, "Database password is invalid.");
    }
  }

  std::unique_ptr<State> st;
  bool needsRepair = false;
  for (;;) {
    st = std::make_unique<State>();
    st->CanonicalFile = canonical;
    TEdbOpenOptions opts;
    opts.MultiUser = multiUser_;
    opts.Exclusive = exclusive_;
    opts.ReadOnly = readOnly_;
    try {
      TEdbPassword pw;
      // The engine hashes the password's ANSI bytes; callers hand it over as UTF-8.
      pw.Text = EdbUtf8ToAnsi(password_, codePage_);
      std::unique_ptr<IEdbFileStore> store;
      if (memoryImage_) store = std::make_unique<TEdbMemoryFileStore>(memoryImage_);
      needsRepair = st->Data.Open(fileName_, pw, opts, std::move(store));
      break;
    } catch (const EEdbException& e) {
      if (e.NativeError() != errc::kIncorrectPassword) throw;
      // A password is needed or the given one is wrong: ask for another one. Without a handler
      // there is no one to ask (this reader has no dialog of its own), so the error stands.
      std::string newPassword = password_;
      if (!OnPassword || !OnPassword(*this, newPassword)) throw;
      password_ = newPassword;
    }
  }

  if (needsRepair && !silentMode_) {
    // The file is opened unchanged when the answer is No (or nobody can be asked); a repair or
    // old-format conversion is not available in this reader, so a Yes answer fails.
    const bool oldFormat = st->Data.FormatVersion() < kEdbOldFormatVersion;
    const bool yes = oldFormat ? true : (OnNeedRepair ? OnNeedRepair(*this) : false);
    if (yes) {
      EdbRaise(errc::kCannotConvertDatabase,
               "Database cannot be converted to the new database format. Please contact "
               "technical support");
    }
  }

  st->Session = st->Data.Connect();
  st->Connected = true;
  readOnly_ = st->Data.ReadOnly();
  pageSize_ = st->Data.PageSize();
  maxConnections_ = st->Data.MaxConnections();
  state_ = std::move(st);
}

void TEdbDatabase::Close() {
  if (!state_) return;
  // Tables first: each detaches itself.
  closing_ = true;
  try {
    while (!tables_.empty()) tables_.back()->Close();
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
  state_.reset();
}

void TEdbDatabase::AttachTable(TEdbTable* t) {
  if (std::find(tables_.begin(), tables_.end(), t) == tables_.end()) tables_.push_back(t);
}

void TEdbDatabase::DetachTable(TEdbTable* t) {
  tables_.erase(std::remove(tables_.begin(), tables_.end(), t), tables_.end());
}

// ---------------------------------------------------------------------------------------------
// Field definitions and fields

const char* TEdbFieldDefInfo::SqlTypeName() const {
  const TEdbAdvancedTypeInfo* info = EdbAdvancedTypeInfo(AdvancedType);
  return info ? info->SqlName : "";
}

int TEdbFieldDefs::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < defs_.size(); ++i) {
    if (SameName(defs_[i].Name, name)) return int(i);
  }
  return -1;
}

struct TEdbTable::Cursor {
  TEdbDatabase::State* Db = nullptr;
  std::shared_ptr<TEdbTableData> Table;
  std::unique_ptr<TEdbRecordCursor> Walk;
  std::unique_ptr<TEdbPageManagerBlobPages> BlobPages;
  uint32_t CodePage = 0;
  bool MultiUser = false;
  int32_t MaxBlobPages = 0;  // pages in the file: no BLOB can span more
};

const std::string& TEdbField::FieldName() const { return Def().Name; }

const TEdbFieldDefInfo& TEdbField::Def() const { return table_->fieldDefs_[index_]; }

bool TEdbField::IsNull() const {
  const TEdbTable::Cursor* c = table_->cursor_.get();
  if (!c) throw EEdbComponentError("Cannot perform this operation on a closed dataset");
  if (!c->Walk->Record()) return true;
  return c->Walk->IsNull(index_);
}

TEdbVariant TEdbField::AsVariant() const {
  TEdbTable::Cursor* c = table_->cursor_.get();
  if (!c) throw EEdbComponentError("Cannot perform this operation on a closed dataset");
  if (!c->Walk->Record() || c->Walk->IsNull(index_)) return TEdbVariant();
  const TEdbFieldDef& fd = c->Table->Metadata.Fields[size_t(index_)];
  const uint8_t* data = c->Walk->FieldData(index_);
  if (fd.IsBlob()) {
    const TEdbBlobRef ref = TEdbBlobRef::Parse(data);
    TEdbLoadedBlob blob = EdbLoadBlob(*c->BlobPages, ref, c->MaxBlobPages);
    return EdbConvertBlobValue(fd, EdbReadBlobValue(blob, fd), c->CodePage);
  }
  return EdbConvertFieldValue(fd, data, c->CodePage);
}

bool TEdbField::IsAnsiText() const {
  const TEdbValueKind k = Def().Kind;
  return k == TEdbValueKind::FixedAnsiString || k == TEdbValueKind::AnsiString ||
         k == TEdbValueKind::Memo || k == TEdbValueKind::FormattedMemo;
}

std::string TEdbField::AnsiBytes() const {
  TEdbTable::Cursor* c = table_->cursor_.get();
  if (!c) throw EEdbComponentError("Cannot perform this operation on a closed dataset");
  if (!IsAnsiText())
    throw EEdbComponentError(base::Format("Field '%s' holds no ANSI text", FieldName().c_str()));
  if (!c->Walk->Record() || c->Walk->IsNull(index_))
    throw EEdbComponentError("Could not convert variant to type (String)");
  const TEdbFieldDef& fd = c->Table->Metadata.Fields[size_t(index_)];
  const uint8_t* data = c->Walk->FieldData(index_);
  if (fd.IsBlob()) {
    const TEdbLoadedBlob blob =
        EdbLoadBlob(*c->BlobPages, TEdbBlobRef::Parse(data), c->MaxBlobPages);
    const std::vector<uint8_t> bytes = EdbReadBlobValue(blob, fd);
    return std::string(bytes.begin(), bytes.end());
  }
  const size_t max = fd.FieldSize > 0 ? size_t(fd.FieldSize) : 0;
  const void* z = std::memchr(data, 0, max);
  return std::string(reinterpret_cast<const char*>(data),
                     z ? size_t(static_cast<const uint8_t*>(z) - data) : max);
}

// ---------------------------------------------------------------------------------------------
// Table

TEdbTable::TEdbTable(TEdbSession* session) : session_(session ? session : &EdbDefaultSession()) {}

TEdbTable::~TEdbTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TEdbTable::SetDatabaseName(const std::string& alias) {
  if (alias == databaseName_) return;
  if (Active()) throw EEdbComponentError("Cannot perform this operation on an open dataset");
  databaseName_ = alias;
}

void TEdbTable::SetTableName(const std::string& name) {
  if (name == tableName_) return;
  if (Active()) throw EEdbComponentError("Cannot perform this operation on an open dataset");
  tableName_ = name;
}

void TEdbTable::SetIndexName(const std::string& name) {
  if (name == indexName_) return;
  if (Active()) throw EEdbComponentError("Cannot perform this operation on an open dataset");
  indexName_ = name;
}

void TEdbTable::Open() {
  if (Active()) return;
  if (databaseName_.empty()) throw EEdbComponentError("DatabaseName property is blank");
  if (!indexName_.empty()) {
    throw EEdbComponentError("Opening a table by an index is not supported by this reader");
  }
  TEdbDatabase* db = session_->FindDatabase(databaseName_);
  if (!db) {
    if (!tempDatabase_) {
      tempDatabase_ = std::make_unique<TEdbDatabase>(session_);
      tempDatabase_->SetSilentMode(true);
      tempDatabase_->SetDatabaseName(databaseName_);
    }
    db = tempDatabase_.get();
  }
  db->Open();
  TEdbDatabase::State* st = db->state_.get();

  auto c = std::make_unique<Cursor>();
  c->Db = st;
  c->CodePage = db->CodePage();
  c->MultiUser = db->MultiUser();
  const std::string key = Upper(tableName_);
  auto it = st->Tables.find(key);
  if (it != st->Tables.end()) c->Table = it->second.lock();
  if (!c->Table) {
    c->Table =
        TEdbTableData::Load(st->Data, EdbUtf8ToAnsi(tableName_, db->CodePage()), st->Session);
    st->Tables[key] = c->Table;
  }
  const TEdbTableMetadata& md = c->Table->Metadata;
  md.CheckDuplicateNames();

  TEdbFieldDefs defs;
  defs.defs_.reserve(md.Fields.size());
  for (size_t i = 0; i < md.Fields.size(); ++i) {
    const TEdbFieldDef& f = md.Fields[i];
    TEdbFieldDefInfo d;
    d.Name = EdbAnsiToUtf8(f.Name, db->CodePage());
    d.Kind = f.Kind();
    d.Size = f.CallerSize();
    d.Required = md.IsRequired(int(i));
    d.BaseType = f.BaseType;
    d.AdvancedType = f.AdvancedType;
    d.FieldSize = f.FieldSize;
    defs.defs_.push_back(std::move(d));
  }
  c->Walk = std::make_unique<TEdbRecordCursor>(st->Data, *c->Table, st->Session);
  c->BlobPages = std::make_unique<TEdbPageManagerBlobPages>(st->Data.PageManager(), st->Session);
  {
    // No BLOB can span more pages than the file holds.
    TEdbDiskPageManager& pm = st->Data.PageManager();
    const int64_t bytes = pm.File().GetSize() - pm.PageAreaOffset();
    c->MaxBlobPages =
        int32_t(std::clamp<int64_t>(bytes / std::max<int>(1, pm.PageSize()), 1, INT32_MAX));
  }

  const bool any = c->Walk->First();
  fieldDefs_ = std::move(defs);
  fields_.clear();
  for (int i = 0; i < fieldDefs_.Count(); ++i) {
    fields_.push_back(std::unique_ptr<TEdbField>(new TEdbField(this, i)));
  }
  cursor_ = std::move(c);
  eof_ = !any;
  database_ = db;
  db->AttachTable(this);
}

void TEdbTable::Close() {
  if (!cursor_) return;
  TEdbDatabase::State* st = cursor_->Db;
  const std::string key = Upper(tableName_);
  cursor_.reset();  // releases the current page and, with the last cursor, the table state
  if (st) {
    auto it = st->Tables.find(key);
    if (it != st->Tables.end() && it->second.expired()) st->Tables.erase(it);
  }
  fields_.clear();
  fieldDefs_ = TEdbFieldDefs();
  eof_ = true;
  TEdbDatabase* db = database_;
  database_ = nullptr;
  if (db) {
    db->DetachTable(this);
    // Without KeepConnection the file is released with its last table.
    if (!db->KeepConnection() && db->tables_.empty() && !db->closing_) db->Close();
  }
}

void TEdbTable::Next() {
  if (!cursor_) throw EEdbComponentError("Cannot perform this operation on a closed dataset");
  if (eof_) return;
  if (!cursor_->Walk->Next()) eof_ = true;
}

void TEdbTable::First() {
  if (!cursor_) throw EEdbComponentError("Cannot perform this operation on a closed dataset");
  eof_ = !cursor_->Walk->First();
}

int64_t TEdbTable::RecordCount() const {
  if (!cursor_) return 0;
  if (cursor_->MultiUser) {
    cursor_->Table->ReloadState(cursor_->Db->Session);
  }
  return cursor_->Table->RecordCount();
}

TEdbField& TEdbTable::Fields(int i) {
  if (i < 0 || i >= FieldCount()) {
    throw EEdbComponentError(base::Format("Field index out of range: %d", i));
  }
  return *fields_[size_t(i)];
}

TEdbField* TEdbTable::FindField(const std::string& name) {
  const int i = fieldDefs_.IndexOf(name);
  return i < 0 || i >= FieldCount() ? nullptr : fields_[size_t(i)].get();
}

TEdbField& TEdbTable::FieldByName(const std::string& name) {
  TEdbField* f = FindField(name);
  if (!f) throw EEdbComponentError(base::Format("Field '%s' not found", name.c_str()));
  return *f;
}

}  // namespace edb
