#pragma once
// Pages and the page managers.
//
// Everything in a database behind the file header lives in fixed-size pages: a 40-byte page
// header followed by the data area. TEdbPageManager hands pages to the layers above per session:
// get (by number and expected type), release, add, delete, commit and roll back, with a shared
// LRU cache of clean pages and a change list per session. TEdbDiskPageManager keeps them in a
// database file: it opens and creates databases, reads and writes pages (deciphering and
// enciphering encrypted databases), allocates page numbers through the free-space map, wraps
// commits in the header protocol and offers direct partial page access and page byte locks.
//
// Usage from the layers above:
//   TEdbPage* p = pm.GetPage(session, pageNo, true, ptTableRecord);   // raises on failure
//   ... read p->Data(), p->DataSize(); to change: write p->Data(), p->SetDirty(true) ...
//   pm.ReleasePage(p);           // or hold it in a TEdbPageRef
//   pm.Commit(session);

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "EdbCipher.h"
#include "EdbDatabaseFile.h"
#include "EdbFileFormat.h"
#include "EdbPageCache.h"
#include "EdbPageFormat.h"

namespace edb {

class TEdbPageManager;
class TEdbDatabaseFreeSpaceManager;

// Session of the database's own system work; -1 is invalid.
constexpr int32_t kEdbSystemSession = -2;
constexpr int32_t kEdbInvalidSession = -1;

// The engine's name of a page type ("TableRecord Page", ...). A type above 12 raises 30382
// "Unknown Page Type: (%d)".
std::string EdbPageTypeName(int pageType);

// One page in memory. Owned by its page manager's lists; callers hold raw pointers between
// GetPage/AddPage and ReleasePage.
class TEdbPage {
 public:
  TEdbPage(TEdbPageManager* manager, uint32_t pageSize);
  ~TEdbPage();
  TEdbPage(const TEdbPage&) = delete;
  TEdbPage& operator=(const TEdbPage&) = delete;

  TEdbPageManager* Manager() const { return manager_; }
  int32_t PageNo() const { return pageNo_; }
  void SetPageNo(int32_t n) { pageNo_ = n; }

  uint8_t* Buffer() { return buffer_.data(); }
  const uint8_t* Buffer() const { return buffer_.data(); }
  size_t BufferSize() const { return buffer_.size(); }
  uint8_t* Header() { return buffer_.data(); }
  const uint8_t* Header() const { return buffer_.data(); }
  uint8_t* Data() { return buffer_.data() + kEdbPageHeaderSize; }
  const uint8_t* Data() const { return buffer_.data() + kEdbPageHeaderSize; }
  uint32_t DataSize() const { return pageSize_ - kEdbPageHeaderSize; }
  uint32_t PageSize() const { return pageSize_; }
  // Grows the buffer (never below the page size; 20038/20039 otherwise).
  void ResizeBuffer(size_t size);
  // Writes a fresh header: magic, counter 0, type 0, next page -1, CRC 0, cipher 0, owner -1,
  // reserved -1 and 0; the data area is zeroed.
  void InitHeader();

  uint16_t PageType() const;
  void SetPageType(uint16_t type);
  int32_t ChangeCounter() const;
  void SetChangeCounter(int32_t value);
  int32_t NextPage() const;
  void SetNextPage(int32_t pageNo);
  uint32_t DataCrc() const;
  uint8_t CipherId() const;
  int32_t OwnerTableId() const;
  void SetOwnerTableId(int32_t id);

  bool Dirty() const { return dirty_; }
  // A caller that changed the page marks it dirty before releasing it.
  void SetDirty(bool dirty) { dirty_ = dirty; }
  int UseCount() const { return useCount_; }
  int32_t OwnerSession() const { return ownerSession_; }
  bool Loaded() const { return loaded_; }
  bool EncipherOnWrite() const { return encipherOnWrite_; }
  // Cleared for the pages of direct-access internal files, which are stored plain.
  void SetEncipherOnWrite(bool v) { encipherOnWrite_ = v; }

  // Multi-user revalidation: the table change counter a session last checked this page against.
  bool SessionCounter(int32_t session, int64_t& counter) const;
  void SetSessionCounter(int32_t session, int64_t counter);
  void ClearSessionCounters() { sessionCounters_.clear(); }

 private:
  friend class TEdbPageManager;
  friend class TEdbDiskPageManager;
  friend class TEdbDatabaseFreeSpaceManager;

  TEdbPageManager* manager_;
  uint32_t pageSize_;
  int32_t pageNo_ = kEdbNoPage;
  std::vector<uint8_t> buffer_;
  bool dirty_ = false;
  int useCount_ = 0;
  int32_t ownerSession_ = kEdbInvalidSession;
  bool loaded_ = false;
  bool encipherOnWrite_ = true;
  bool inCache_ = false;  // else in its owner session's change list (or in no list)
  bool stale_ = false;    // a newer committed copy exists: leave the cache when released
  struct SessionCounterEntry {
    int64_t counter = 0;
    bool valid = false;
  };
  std::vector<SessionCounterEntry> sessionCounters_;  // indexed by session + 2
};

// The page manager: sessions, the shared cache and the page life cycle. Storage-specific
// operations are virtual (the disk page manager overrides them).
class TEdbPageManager {
 public:
  // cacheCapacity 0: min(available physical memory / 65536, 1000) pages.
  explicit TEdbPageManager(uint16_t pageSize = kEdbDefaultPageSize, size_t cacheCapacity = 0);
  // Frees every page; uncommitted session pages are discarded (see CheckAllCommitted).
  virtual ~TEdbPageManager();
  TEdbPageManager(const TEdbPageManager&) = delete;
  TEdbPageManager& operator=(const TEdbPageManager&) = delete;

  uint16_t PageSize() const { return pageSize_; }
  uint16_t PageHeaderSize() const { return kEdbPageHeaderSize; }
  uint16_t PageDataSize() const { return uint16_t(pageSize_ - kEdbPageHeaderSize); }
  bool MultiUser() const { return multiUser_; }

  size_t CacheCapacity() const { return cacheCapacity_; }
  void SetCacheCapacity(size_t capacity) { cacheCapacity_ = capacity; }
  size_t CachedPageCount() const { return cache_.Count(); }
  // Pages in a session's change list (0 for an unknown session).
  size_t ChangedPageCount(int32_t session) const;

  // Virtual operations, in the engine's slot order.
  virtual int32_t GetTotalPageCount();
  virtual bool IsPageCurrent(int32_t session, TEdbPage* page);
  virtual void MarkPageCurrent(int32_t session, TEdbPage* page);
  virtual void AssignPageNo(TEdbPage* page) = 0;
  virtual void FreePageNo(int32_t pageNo) = 0;
  virtual bool ReadPage(TEdbPage* page) = 0;
  virtual void WritePage(TEdbPage* page) = 0;
  virtual void DeletePage(int32_t session, int32_t pageNo);
  // Returns the page with its use count raised; the caller must release it. Raises 20186
  // (session -1), 20153 (type differs from `expectedType` unless it is 255), 20090 (in use by
  // another session), 30446 (encrypted page whose CRC does not match).
  virtual TEdbPage* GetPage(int32_t session, int32_t pageNo, bool sync = true,
                            uint16_t expectedType = kEdbAnyPageType);
  virtual void Commit(int32_t session);

  // A new dirty page of `pageType` with a fresh page number, in use by the caller.
  TEdbPage* AddPage(int32_t session, uint16_t pageType);
  void ReleasePage(TEdbPage* page);
  void Rollback(int32_t session);
  // Raises 20097 "Cannot free not commited pages" when a session change list still holds pages.
  void CheckAllCommitted() const;

 protected:
  struct TSession {
    int32_t id;
    TEdbSortedPageList changes;
    std::vector<int32_t> added;
    std::vector<int32_t> deleted;
  };
  TSession* FindSession(int32_t session);
  const TSession* FindSession(int32_t session) const;
  TSession& SessionEntry(int32_t session);
  bool SessionHasWork(int32_t session) const;
  // A page object from the spare pool (or a new one), header initialised.
  std::unique_ptr<TEdbPage> NewPageObject();
  void RecyclePage(std::unique_ptr<TEdbPage> page);
  void SetPageSize(uint16_t pageSize);
  void EvictIfOverCapacity();
  // Drops every cached page and session list (used when a database is closed).
  void DropAllPages();
  // Brings a cached page up to date before a session trusts it (multi-user databases).
  virtual void RevalidatePage(TEdbPage* page);
  // Puts a written page into the cache (room permitting), replacing an older unused copy.
  void ReturnToCache(std::unique_ptr<TEdbPage> page);

  uint16_t pageSize_;
  size_t cacheCapacity_;
  bool multiUser_ = false;
  int32_t storedTotalPageCount_ = 0;
  TEdbSortedPageList cache_;
  std::vector<TSession> sessions_;
  std::vector<std::unique_ptr<TEdbPage>> spare_;
  // Pages dropped from the lists while a caller still held them; freed with the manager.
  std::vector<std::unique_ptr<TEdbPage>> orphans_;
};

// Available physical memory in bytes (platform half); 0 when unknown.
uint64_t EdbAvailablePhysicalMemory();

// Page manager over a database file (on disk or in memory).
class TEdbDiskPageManager : public TEdbPageManager {
 public:
  // `store` null: the platform's file store; a TEdbMemoryFileStore works on a buffer.
  explicit TEdbDiskPageManager(std::unique_ptr<IEdbFileStore> store = nullptr,
                               size_t cacheCapacity = 0);
  ~TEdbDiskPageManager() override;

  // Opens a database. `multiUser` and `readOnly` are in/out; `needsRepair` out. On failure the
  // file is closed again and nothing has been written.
  void OpenDatabase(const std::string& fileName, TEdbPassword& password, bool& multiUser,
                    bool exclusive, bool& needsRepair, bool& readOnly);
  // Creates a new, empty database (no pages yet) and leaves it open read-write, exclusive.
  void CreateDatabase(const std::string& fileName, const TEdbPassword& password,
                      uint16_t pagesPerExtent = kEdbDefaultPagesPerExtent,
                      uint16_t pageSize = kEdbDefaultPageSize);
  // Drops cached pages, closes the file and frees the free-space map. Uncommitted session pages
  // are discarded.
  void CloseDatabase();
  bool IsOpen() const { return file_.IsOpened(); }

  // Re-reads the 76 header bytes (10459 when not open) / writes the in-memory header (10460).
  void ReadHeader();
  void WriteHeader();
  const TEdbFileHeader& Header() const { return header_; }
  TEdbFileHeader& MutableHeader() { return header_; }
  const TEdbCheckBlock& CheckBlock() const { return checkBlock_; }

  double FileVersion() const { return header_.Version; }
  bool Encrypted() const { return header_.Encrypted != 0; }
  bool ReadOnly() const { return readOnly_; }
  const TEdbPassword& Password() const { return password_; }
  uint16_t PagesPerExtent() const { return header_.PagesPerExtent; }

  int64_t Base() const { return base_; }
  int64_t CheckBlockOffset() const { return checkBlockOffset_; }
  int64_t LockAreaOffset() const { return lockAreaOffset_; }
  int64_t ObjectIdOffset() const { return objectIdOffset_; }
  // File offset of page 0.
  int64_t PageAreaOffset() const { return pageAreaOffset_; }
  // base + page-area start + n * page size; 10471 "Invalid PageNo = %d" for n < 0.
  int64_t PageFileOffset(int32_t pageNo) const;

  // Total page count from a fresh read of the header (one lock try: 20236 when locked).
  int32_t GetTotalPageCount() override;
  // The next table ID (30401 when its lock can't be had).
  int32_t NextObjectID();

  // Direct partial page access, bypassing cache and encipherment. offset + count must not
  // exceed the page size (10476 read, 10477 write).
  void ReadPagePart(void* buf, int32_t pageNo, uint32_t count, uint32_t offset);
  void WritePagePart(const void* buf, int32_t pageNo, uint32_t count, uint32_t offset);
  // Page change counter on disk (multi-user databases; any failure answers 0x7FFFFFFF).
  int32_t ReadPageChangeCounter(int32_t pageNo);
  void SetPageChangeCounter(int32_t pageNo, int32_t value);

  // Byte-range locks on page bytes.
  bool LockPageByte(int32_t pageNo, uint32_t offset);
  bool UnlockPageByte(int32_t pageNo, uint32_t offset);
  bool IsPageByteLocked(int32_t pageNo, uint32_t offset);
  bool IsPageRegionLocked(int32_t pageNo, uint32_t offset, uint32_t length);

  // The header lock (lock-area byte 4), nested by a count. Lock waits `LockAttempts` tries
  // `LockIntervalMs` apart and raises "Database is locked" with `errorCode` after that.
  void LockHeader(int errorCode);
  void UnlockHeader();
  // The tables lock (lock-area byte 3), one try each; the table layer does its own waiting.
  bool TryLockTables();
  bool UnlockTables();
  // Lock waits (4500 attempts, 20 ms apart by default).
  void SetLockWait(int attempts, int intervalMs) {
    lockAttempts_ = attempts;
    lockIntervalMs_ = intervalMs;
  }
  int LockAttempts() const { return lockAttempts_; }
  int LockIntervalMs() const { return lockIntervalMs_; }

  // PFS and EAM pages by the number rule.
  bool IsSystemPage(int32_t pageNo) const;
  TEdbDatabaseFreeSpaceManager* FreeSpaceMap() { return fsm_.get(); }
  TEdbDatabaseFile& File() { return file_; }

  // Multi-user revalidation hooks supplied by the table layer (is page current / mark current).
  void SetCurrencyHooks(std::function<bool(int32_t, TEdbPage*)> isCurrent,
                        std::function<void(int32_t, TEdbPage*)> markCurrent);

  // Cuts the file right after the last allocated page and writes the header.
  void Trim();

  bool IsPageCurrent(int32_t session, TEdbPage* page) override;
  void MarkPageCurrent(int32_t session, TEdbPage* page) override;
  void AssignPageNo(TEdbPage* page) override;
  void FreePageNo(int32_t pageNo) override;
  bool ReadPage(TEdbPage* page) override;
  void WritePage(TEdbPage* page) override;
  void DeletePage(int32_t session, int32_t pageNo) override;
  TEdbPage* GetPage(int32_t session, int32_t pageNo, bool sync = true,
                    uint16_t expectedType = kEdbAnyPageType) override;
  void Commit(int32_t session) override;

 protected:
  void RevalidatePage(TEdbPage* page) override;

 private:
  friend class TEdbDatabaseFreeSpaceManager;
  void ReadHeaderAt(int errorCode);
  void ProbeReadOnly(const std::string& fileName, bool& multiUser, bool& readOnly);
  // The steps of OpenDatabase: the file in the modes asked for; the file header under the header
  // lock (answers needs-repair); the password check block; the lock area, object-ID counter and
  // page area behind it.
  void OpenDatabaseFile(const std::string& fileName, bool& multiUser, bool exclusive,
                        bool readOnly);
  bool ReadOpenHeader();
  void ReadOpenCheckBlock();
  void LocateRegions();
  // After a failed open or create: closes the file and forgets the database.
  void CloseAfterFailure();
  void CheckPassword();
  void CreateFreeSpaceMap();
  void ResetState();
  bool IsPfsOrEam(int32_t pageNo) const;

  TEdbDatabaseFile file_;
  TEdbFileHeader header_;
  TEdbCheckBlock checkBlock_;
  int16_t lockAreaLength_ = int16_t(kEdbLockAreaSize);
  int64_t base_ = 0;
  int64_t checkBlockOffset_ = 0;
  int64_t lockAreaOffset_ = 0;
  int64_t objectIdOffset_ = 0;
  int64_t pageAreaOffset_ = 0;
  TEdbPassword password_;
  std::unique_ptr<TEdbCipher> cipher_;
  std::unique_ptr<TEdbCipher> readCiphers_[kEdbCipherCount];  // pages enciphered with other ids
  bool readOnly_ = false;
  bool exclusive_ = false;
  int headerLockCount_ = 0;
  int lockAttempts_ = 4500;
  int lockIntervalMs_ = 20;
  std::unique_ptr<TEdbDatabaseFreeSpaceManager> fsm_;
  std::function<bool(int32_t, TEdbPage*)> isCurrentHook_;
  std::function<void(int32_t, TEdbPage*)> markCurrentHook_;
};

// Holds a page and releases it when it goes out of scope.
class TEdbPageRef {
 public:
  TEdbPageRef() = default;
  explicit TEdbPageRef(TEdbPage* page) : page_(page) {}
  ~TEdbPageRef() { Reset(); }
  TEdbPageRef(TEdbPageRef&& o) noexcept : page_(o.page_) { o.page_ = nullptr; }
  TEdbPageRef& operator=(TEdbPageRef&& o) noexcept {
    if (this != &o) {
      Reset();
      page_ = o.page_;
      o.page_ = nullptr;
    }
    return *this;
  }
  TEdbPageRef(const TEdbPageRef&) = delete;
  TEdbPageRef& operator=(const TEdbPageRef&) = delete;

  TEdbPage* get() const { return page_; }
  TEdbPage* operator->() const { return page_; }
  TEdbPage& operator*() const { return *page_; }
  explicit operator bool() const { return page_ != nullptr; }
  TEdbPage* release() {
    TEdbPage* p = page_;
    page_ = nullptr;
    return p;
  }
  void Reset() {
    if (page_) {
      TEdbPage* p = page_;
      page_ = nullptr;
      p->Manager()->ReleasePage(p);
    }
  }

 private:
  TEdbPage* page_ = nullptr;
};

}  // namespace edb
