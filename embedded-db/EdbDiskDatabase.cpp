#include "EdbDiskDatabase.h"

#include <algorithm>

#include "EdbException.h"

namespace edb {

TEdbDiskDatabaseData::TEdbDiskDatabaseData() = default;

TEdbDiskDatabaseData::~TEdbDiskDatabaseData() {
  try {
    Close();
  } catch (...) {
  }
}

void TEdbDiskDatabaseData::Reset() {
  tableList_.reset();
  sessionsFile_.reset();
  directory_.reset();
  if (pm_) {
    try {
      if (pm_->IsOpen()) pm_->CloseDatabase();
    } catch (...) {
    }
    pm_.reset();
  }
  open_ = false;
  connections_ = 0;
  heldSlots_.clear();
}

void TEdbDiskDatabaseData::LoadSystemFiles() {
  directory_ = std::make_unique<TEdbSystemDirectory>(*pm_);
  directory_->Load(kEdbSystemSession);

  sessionsFile_ = std::make_unique<TEdbInternalDBDirectAccessFile>(*pm_, ptActiveSessionList);
  sessionsFile_->Open(directory_->FirstPageOf(sfkActiveSessions));
  maxConnections_ = std::min(sessionsFile_->StoredSize(), sessionsFile_->AddressableSize());

  int32_t listPage = directory_->FirstPageOf(sfkTableList);
  if (listPage < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  tableList_ = std::make_unique<TEdbTableListFile>(*pm_, listPage);
  tableList_->Load(kEdbSystemSession);
}

bool TEdbDiskDatabaseData::Open(const std::string& fileName, const TEdbPassword& password,
                                const TEdbOpenOptions& options,
                                std::unique_ptr<IEdbFileStore> store) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_)
    EdbRaise(errc::kOpenDatabaseInUse, "Error - database file %s is in use.", fileName.c_str());
  try {
    pm_ = std::make_unique<TEdbDiskPageManager>(std::move(store), options.CacheCapacity);
    TEdbPassword pw = password;
    bool multiUser = options.MultiUser;
    bool readOnly = options.ReadOnly;
    bool needsRepair = false;
    pm_->OpenDatabase(fileName, pw, multiUser, options.Exclusive, needsRepair, readOnly);
    multiUser_ = multiUser;
    readOnly_ = readOnly;
    needsRepair_ = needsRepair;
    LoadSystemFiles();
    open_ = true;
  } catch (...) {
    Reset();
    throw;
  }
  return needsRepair_;
}

void TEdbDiskDatabaseData::Create(const std::string& fileName, const TEdbPassword& password,
                                  const TEdbCreateOptions& options,
                                  std::unique_ptr<IEdbFileStore> store) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (open_)
    EdbRaise(errc::kCreateDatabaseInUse, "Error - database file %s is in use.", fileName.c_str());
  try {
    pm_ = std::make_unique<TEdbDiskPageManager>(std::move(store), options.CacheCapacity);
    pm_->CreateDatabase(fileName, password, options.PagesPerExtent, options.PageSize);
    const int32_t s = kEdbSystemSession;
    directory_ = std::make_unique<TEdbSystemDirectory>(*pm_);
    directory_->Create(s);
    sessionsFile_ = std::make_unique<TEdbInternalDBDirectAccessFile>(*pm_, ptActiveSessionList);
    directory_->SetFirstPage(sfkActiveSessions, sessionsFile_->Create(s, options.MaxConnections));
    tableList_ = std::make_unique<TEdbTableListFile>(*pm_);
    directory_->SetFirstPage(sfkTableList, tableList_->Create(s));
    directory_->Save(s);
    pm_->Commit(s);
    maxConnections_ = std::min(sessionsFile_->StoredSize(), sessionsFile_->AddressableSize());
    multiUser_ = false;
    readOnly_ = false;
    needsRepair_ = false;
    open_ = true;
  } catch (...) {
    Reset();
    throw;
  }
}

void TEdbDiskDatabaseData::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!pm_) return;
  if (open_ && sessionsFile_ && sessionsFile_->IsOpen()) {
    for (int32_t slot : heldSlots_) {
      try {
        sessionsFile_->UnlockByte(slot);
      } catch (...) {
      }
    }
  }
  Reset();
}

int32_t TEdbDiskDatabaseData::Connect() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) EdbRaise(errc::kConnectNotOpen, "Pointer is nil");
  if (!multiUser_) {
    // Single user: every connection is session 0. The first one holds all slot bytes so that
    // no multi-user process can join; when a slot is held elsewhere the database is used
    // read-only instead.
    if (connections_++ == 0 && !readOnly_ && maxConnections_ > 0) {
      bool fileLocked = sessionsFile_->LockFile();
      if (sessionsFile_->IsRegionLocked(0, maxConnections_)) {
        readOnly_ = true;
      } else {
        for (int32_t slot = 0; slot < maxConnections_; ++slot)
          if (sessionsFile_->LockByte(slot)) heldSlots_.push_back(slot);
      }
      if (fileLocked && !sessionsFile_->UnlockFile())
        EdbRaise(errc::kUnlockSessionsFileSingleUser, "Cannot unlock sessions file");
    }
    return 0;
  }
  bool fileLocked = false;
  auto& pm = *pm_;
  for (int attempt = 0; attempt < pm.LockAttempts() && !fileLocked; ++attempt)
    fileLocked = sessionsFile_->LockFile();
  int32_t session = -1;
  for (int32_t slot = 0; slot < maxConnections_; ++slot) {
    if (sessionsFile_->LockByte(slot)) {
      session = slot;
      heldSlots_.push_back(slot);
      break;
    }
  }
  if (fileLocked && !sessionsFile_->UnlockFile())
    EdbRaise(errc::kUnlockSessionsFile, "Cannot unlock sessions file");
  if (session < 0)
    EdbRaise(errc::kNoFreeSession,
             "Cannot connect session. Maximum connections quantity exceeded or database is open "
             "in single-user mode");
  ++connections_;
  return session;
}

void TEdbDiskDatabaseData::Disconnect(int32_t session) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || connections_ == 0) return;
  --connections_;
  if (multiUser_) {
    auto it = std::find(heldSlots_.begin(), heldSlots_.end(), session);
    if (it != heldSlots_.end()) {
      heldSlots_.erase(it);
      if (!sessionsFile_->UnlockByte(session))
        EdbRaise(errc::kDisconnectSession, "Cannot disconnect session");
    }
  } else if (connections_ == 0) {
    for (int32_t slot : heldSlots_) sessionsFile_->UnlockByte(slot);
    heldSlots_.clear();
  }
}

TEdbTableListEntry TEdbDiskDatabaseData::FindTable(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) EdbRaise(errc::kFindTableNotOpen, "Pointer is nil");
  return tableList_->Find(name);
}

std::vector<std::string> TEdbDiskDatabaseData::GetTableNames() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) EdbRaise(errc::kTableNamesNotOpen, "Pointer is nil");
  tableList_->Load(kEdbSystemSession);
  std::vector<std::string> names;
  for (const auto& e : tableList_->Entries()) names.push_back(e.Name);
  return names;
}

}  // namespace edb
