#pragma once
// The open database (`TEdbDiskDatabaseData`): the page manager of the file with its system
// files (system directory, connection-slot file, table list), table lookup by name and the
// connections (sessions). Every operation runs under the object's mutual-exclusion lock.
//
//   TEdbDiskDatabaseData db;
//   db.Open("greylist.abs", TEdbPassword{});            // or db.Open(name, pw, options, store)
//   int32_t s = db.Connect();
//   auto table = TEdbTableData::Load(db, "GREY", s);   // EdbCursor.h
//   TEdbRecordCursor c(db, *table, s);
//   for (bool ok = c.First(); ok; ok = c.Next()) { const uint8_t* rec = c.Record(); ... }

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "EdbInternalFile.h"
#include "EdbPageManager.h"
#include "EdbSystemDirectory.h"
#include "EdbTableList.h"

namespace edb {

constexpr int kEdbDefaultMaxConnections = 500;

struct TEdbOpenOptions {
  bool MultiUser = false;
  bool Exclusive = false;
  bool ReadOnly = false;
  // Cache capacity in pages (0: the page manager's rule).
  size_t CacheCapacity = 0;
};

struct TEdbCreateOptions {
  uint16_t PageSize = kEdbDefaultPageSize;
  uint16_t PagesPerExtent = kEdbDefaultPagesPerExtent;
  int32_t MaxConnections = kEdbDefaultMaxConnections;
  size_t CacheCapacity = 0;
};

class TEdbDiskDatabaseData {
 public:
  TEdbDiskDatabaseData();
  ~TEdbDiskDatabaseData();
  TEdbDiskDatabaseData(const TEdbDiskDatabaseData&) = delete;
  TEdbDiskDatabaseData& operator=(const TEdbDiskDatabaseData&) = delete;

  // Opens the file (`store` null: the platform's files; a TEdbMemoryFileStore opens a buffer),
  // reads the system directory, sizes the connection slots and loads the table list. Returns
  // the needs-repair flag. Any failure closes everything again and re-raises.
  bool Open(const std::string& fileName, const TEdbPassword& password,
            const TEdbOpenOptions& options = {}, std::unique_ptr<IEdbFileStore> store = nullptr);
  // Creates a new database with its system files and leaves it open, read-write.
  void Create(const std::string& fileName, const TEdbPassword& password,
              const TEdbCreateOptions& options = {},
              std::unique_ptr<IEdbFileStore> store = nullptr);
  void Close();
  bool IsOpen() const { return open_; }

  TEdbDiskPageManager& PageManager() { return *pm_; }
  std::mutex& Mutex() { return mutex_; }
  bool ReadOnly() const { return readOnly_; }
  bool MultiUser() const { return multiUser_; }
  bool NeedsRepair() const { return needsRepair_; }
  int32_t MaxConnections() const { return maxConnections_; }
  uint16_t PageSize() const { return pm_->PageSize(); }
  double FormatVersion() const { return pm_->FileVersion(); }

  // Session number of a new connection: 0 in single-user mode; in multi-user mode the first
  // lockable connection slot (20094 when none).
  int32_t Connect();
  void Disconnect(int32_t session);

  // The table-list entry of a table (30396 "Table '%s' not exists." when missing).
  TEdbTableListEntry FindTable(std::string_view name);
  // Table names in stored order; re-reads the list first.
  std::vector<std::string> GetTableNames();
  TEdbTableListFile& TableList() { return *tableList_; }
  TEdbSystemDirectory& SystemDirectory() { return *directory_; }
  TEdbInternalDBDirectAccessFile& SessionsFile() { return *sessionsFile_; }

  int32_t NextObjectID() { return pm_->NextObjectID(); }

 private:
  void LoadSystemFiles();
  void Reset();

  std::mutex mutex_;
  std::unique_ptr<TEdbDiskPageManager> pm_;
  std::unique_ptr<TEdbSystemDirectory> directory_;
  std::unique_ptr<TEdbInternalDBDirectAccessFile> sessionsFile_;
  std::unique_ptr<TEdbTableListFile> tableList_;
  bool open_ = false;
  bool readOnly_ = false;
  bool multiUser_ = false;
  bool needsRepair_ = false;
  int32_t maxConnections_ = 0;
  int connections_ = 0;
  std::vector<int32_t> heldSlots_;
};

}  // namespace edb
