// Page objects and the session-aware page manager with its shared LRU cache.

#include "EdbPageManager.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "EdbEndian.h"
#include "EdbException.h"

namespace edb {

const uint8_t kEdbPageMagic[pagehdr::kMagicSize] = {0x41, 0x42, 0x53, 0x50};

namespace {

const char* const kPageTypeNames[] = {"Unknown Page",
                                      "Empty Page",
                                      "EAM Page",
                                      "PFS Page",
                                      "FileSystemDirectory Page",
                                      "ActiveSessionList Page",
                                      "TableList Page",
                                      "TableLocks Page",
                                      "TableMetaData Page",
                                      "TableMostUpdated Page",
                                      "TableRecord Page",
                                      "TableBlob Page",
                                      "TableIndex Page"};

// Largest number of spare page objects kept for reuse.
constexpr size_t kMaxSpare = 64;

}  // namespace

std::string EdbPageTypeName(int pageType) {
  if (pageType < 0 || pageType > kEdbLastPageType)
    EdbRaise(errc::kUnknownPageType, "Unknown Page Type: (%d)", pageType);
  return kPageTypeNames[pageType];
}

// ---------------------------------------------------------------------------------------------
// TEdbPage

TEdbPage::TEdbPage(TEdbPageManager* manager, uint32_t pageSize)
    : manager_(manager), pageSize_(pageSize), buffer_(pageSize, 0) {
  InitHeader();
}

TEdbPage::~TEdbPage() = default;

void TEdbPage::ResizeBuffer(size_t size) {
  if (buffer_.empty()) EdbRaise(errc::kPageBufferNil, "Invalid page buffer. Buffer is Nil");
  if (size < pageSize_) EdbRaise(errc::kInvalidPageModification, "Invalid page modification");
  buffer_.resize(size, 0);
}

void TEdbPage::InitHeader() {
  std::fill(buffer_.begin(), buffer_.end(), uint8_t(0));
  uint8_t* h = buffer_.data();
  std::memcpy(h + pagehdr::kMagic, kEdbPageMagic, pagehdr::kMagicSize);
  PutI32(h + pagehdr::kNextPage, kEdbNoPage);
  PutI32(h + pagehdr::kOwnerTableId, -1);
  PutI32(h + pagehdr::kReserved26, -1);
}

uint16_t TEdbPage::PageType() const { return GetU16(Header() + pagehdr::kPageType); }
void TEdbPage::SetPageType(uint16_t type) { PutU16(Header() + pagehdr::kPageType, type); }
int32_t TEdbPage::ChangeCounter() const {
  return int32_t(GetU32(Header() + pagehdr::kChangeCounter));
}
void TEdbPage::SetChangeCounter(int32_t value) {
  PutU32(Header() + pagehdr::kChangeCounter, uint32_t(value));
}
int32_t TEdbPage::NextPage() const { return int32_t(GetU32(Header() + pagehdr::kNextPage)); }
void TEdbPage::SetNextPage(int32_t pageNo) {
  PutU32(Header() + pagehdr::kNextPage, uint32_t(pageNo));
}
uint32_t TEdbPage::DataCrc() const { return GetU32(Header() + pagehdr::kDataCrc); }
uint8_t TEdbPage::CipherId() const { return Header()[pagehdr::kCipherId]; }
int32_t TEdbPage::OwnerTableId() const {
  return int32_t(GetU32(Header() + pagehdr::kOwnerTableId));
}
void TEdbPage::SetOwnerTableId(int32_t id) {
  PutU32(Header() + pagehdr::kOwnerTableId, uint32_t(id));
}

bool TEdbPage::SessionCounter(int32_t session, int64_t& counter) const {
  const int64_t i = int64_t(session) + 2;
  if (i < 0 || i >= int64_t(sessionCounters_.size()) || !sessionCounters_[size_t(i)].valid)
    return false;
  counter = sessionCounters_[size_t(i)].counter;
  return true;
}

void TEdbPage::SetSessionCounter(int32_t session, int64_t counter) {
  const int64_t i = int64_t(session) + 2;
  if (i < 0 || i > 1000000) return;
  if (i >= int64_t(sessionCounters_.size())) sessionCounters_.resize(size_t(i) + 1);
  sessionCounters_[size_t(i)] = {counter, true};
}

// ---------------------------------------------------------------------------------------------
// TEdbPageManager

TEdbPageManager::TEdbPageManager(uint16_t pageSize, size_t cacheCapacity)
    : pageSize_(pageSize), cacheCapacity_(cacheCapacity) {
  if (cacheCapacity_ == 0) {
    const uint64_t avail = EdbAvailablePhysicalMemory();
    cacheCapacity_ = avail == 0 ? 1000 : size_t(std::min<uint64_t>(avail / 65536, 1000));
    if (cacheCapacity_ == 0) cacheCapacity_ = 1;
  }
}

TEdbPageManager::~TEdbPageManager() = default;

void TEdbPageManager::SetPageSize(uint16_t pageSize) {
  if (pageSize != pageSize_) {
    DropAllPages();
    spare_.clear();
    pageSize_ = pageSize;
  }
}

void TEdbPageManager::DropAllPages() {
  for (auto& p : cache_.TakeAll())
    if (p->UseCount() > 0) orphans_.push_back(std::move(p));
  for (TSession& s : sessions_)
    for (auto& p : s.changes.TakeAll())
      if (p->UseCount() > 0) orphans_.push_back(std::move(p));
  sessions_.clear();
}

size_t TEdbPageManager::ChangedPageCount(int32_t session) const {
  const TSession* s = FindSession(session);
  return s ? s->changes.Count() : 0;
}

TEdbPageManager::TSession* TEdbPageManager::FindSession(int32_t session) {
  for (TSession& s : sessions_)
    if (s.id == session) return &s;
  return nullptr;
}

const TEdbPageManager::TSession* TEdbPageManager::FindSession(int32_t session) const {
  for (const TSession& s : sessions_)
    if (s.id == session) return &s;
  return nullptr;
}

TEdbPageManager::TSession& TEdbPageManager::SessionEntry(int32_t session) {
  if (TSession* s = FindSession(session)) return *s;
  sessions_.push_back(TSession{session, TEdbSortedPageList(), {}, {}});
  return sessions_.back();
}

bool TEdbPageManager::SessionHasWork(int32_t session) const {
  const TSession* s = FindSession(session);
  return s && (!s->changes.Empty() || !s->added.empty() || !s->deleted.empty());
}

std::unique_ptr<TEdbPage> TEdbPageManager::NewPageObject() {
  std::unique_ptr<TEdbPage> p;
  if (!spare_.empty()) {
    p = std::move(spare_.back());
    spare_.pop_back();
    p->InitHeader();
  } else {
    p = std::make_unique<TEdbPage>(this, pageSize_);
  }
  p->pageNo_ = kEdbNoPage;
  p->dirty_ = false;
  p->useCount_ = 0;
  p->ownerSession_ = kEdbInvalidSession;
  p->loaded_ = false;
  p->encipherOnWrite_ = true;
  p->inCache_ = false;
  p->stale_ = false;
  p->sessionCounters_.clear();
  return p;
}

void TEdbPageManager::RecyclePage(std::unique_ptr<TEdbPage> page) {
  if (!page) return;
  if (page->UseCount() > 0) {
    orphans_.push_back(std::move(page));
    return;
  }
  if (spare_.size() < kMaxSpare && page->BufferSize() == pageSize_)
    spare_.push_back(std::move(page));
}

int32_t TEdbPageManager::GetTotalPageCount() { return storedTotalPageCount_; }
bool TEdbPageManager::IsPageCurrent(int32_t, TEdbPage*) { return false; }
void TEdbPageManager::MarkPageCurrent(int32_t, TEdbPage*) {}
void TEdbPageManager::RevalidatePage(TEdbPage*) {}

void TEdbPageManager::DeletePage(int32_t session, int32_t pageNo) {
  if (session == kEdbInvalidSession) EdbRaise(errc::kInvalidSessionId, "Invalid Session ID");
  TSession& s = SessionEntry(session);
  if (std::find(s.deleted.begin(), s.deleted.end(), pageNo) == s.deleted.end())
    s.deleted.push_back(pageNo);
}

TEdbPage* TEdbPageManager::GetPage(int32_t session, int32_t pageNo, bool sync,
                                   uint16_t expectedType) {
  if (session == kEdbInvalidSession) EdbRaise(errc::kInvalidSessionId, "Invalid Session ID");
  TSession& s = SessionEntry(session);
  TEdbPage* page = s.changes.Find(pageNo);
  if (!page) {
    page = cache_.Find(pageNo);
    if (page) {
      if (sync && !IsPageCurrent(session, page)) {
        RevalidatePage(page);
        MarkPageCurrent(session, page);
      }
    } else {
      std::unique_ptr<TEdbPage> fresh = NewPageObject();
      fresh->pageNo_ = pageNo;
      fresh->ownerSession_ = session;
      fresh->inCache_ = true;
      page = fresh.get();
      cache_.Insert(std::move(fresh));
      try {
        ReadPage(page);
        if (expectedType != kEdbAnyPageType && page->PageType() != expectedType)
          EdbRaise(errc::kInvalidPageType,
                   "Invalid page type. Possibly data is corrupted. Expected type %d, but found %d",
                   int(expectedType), int(page->PageType()));
      } catch (...) {
        // A page that failed its checks is not kept: a later request reads it again.
        RecyclePage(cache_.Remove(pageNo));
        throw;
      }
      MarkPageCurrent(session, page);
    }
  }
  if (page->useCount_ > 0 && page->ownerSession_ != session)
    EdbRaise(errc::kPageUsedByOtherSession, "Page is used by other session");
  page->ownerSession_ = session;
  ++page->useCount_;
  return page;
}

TEdbPage* TEdbPageManager::AddPage(int32_t session, uint16_t pageType) {
  if (session == kEdbInvalidSession) EdbRaise(errc::kInvalidSessionId, "Invalid Session ID");
  TSession& s = SessionEntry(session);
  std::unique_ptr<TEdbPage> page = NewPageObject();
  AssignPageNo(page.get());
  const int32_t no = page->pageNo_;
  if (no == kEdbNoPage || s.changes.Find(no))
    EdbRaise(errc::kAddPageInvalidNumber, "Invalid page number");
  static thread_local std::mt19937 rng{std::random_device{}()};
  page->useCount_ = 1;
  page->dirty_ = true;
  page->loaded_ = false;
  page->SetPageType(pageType);
  page->SetChangeCounter(
      int32_t(std::uniform_int_distribution<int32_t>(0, kEdbNewPageCounterLimit - 1)(rng)));
  page->ownerSession_ = session;
  if (cache_.Find(no)) RecyclePage(cache_.Remove(no));
  TEdbPage* raw = page.get();
  s.changes.Insert(std::move(page));
  s.added.push_back(no);
  return raw;
}

void TEdbPageManager::ReleasePage(TEdbPage* page) {
  if (!page || page->useCount_ <= 0) return;
  --page->useCount_;
  if (page->inCache_ && page->useCount_ == 0) {
    if (page->dirty_) {
      std::unique_ptr<TEdbPage> p = cache_.Remove(page->pageNo_);
      p->inCache_ = false;
      p->stale_ = false;
      SessionEntry(p->ownerSession_).changes.Insert(std::move(p));
    } else if (page->stale_) {
      RecyclePage(cache_.Remove(page->pageNo_));
    } else {
      cache_.Touch(page->pageNo_);
    }
  }
  EvictIfOverCapacity();
}

void TEdbPageManager::EvictIfOverCapacity() {
  if (cache_.Count() <= cacheCapacity_) return;
  if (TEdbPage* lru = cache_.LeastRecentlyUsedUnused()) RecyclePage(cache_.Remove(lru->PageNo()));
}

void TEdbPageManager::ReturnToCache(std::unique_ptr<TEdbPage> page) {
  const int32_t no = page->pageNo_;
  if (TEdbPage* old = cache_.Find(no)) {
    if (old->UseCount() > 0) {
      // Someone still reads the old copy: it leaves the cache when released.
      old->stale_ = true;
      RecyclePage(std::move(page));
      return;
    }
    RecyclePage(cache_.Remove(no));
  }
  if (cache_.Count() < cacheCapacity_) {
    page->inCache_ = true;
    cache_.Insert(std::move(page));
  } else {
    RecyclePage(std::move(page));
  }
}

void TEdbPageManager::Commit(int32_t session) {
  if (session == kEdbInvalidSession) EdbRaise(errc::kInvalidSessionId, "Invalid Session ID");
  for (TEdbPage* p : cache_.Pages())
    if (p->ownerSession_ == session && p->useCount_ > 0)
      EdbRaise(errc::kSessionPagesNotReleased, "Some session pages are not released");
  TSession* s = FindSession(session);
  if (!s) return;
  for (TEdbPage* p : s->changes.Pages()) {
    if (!p->dirty_) EdbRaise(errc::kCommitPageNotDirty, "Invalid dirty page");
    if (p->useCount_ > 0) EdbRaise(errc::kCommitPageInUse, "Cannot write used page");
  }
  std::vector<int32_t> deleted = std::move(s->deleted);
  s->deleted.clear();
  s->added.clear();
  for (int32_t no : deleted) {
    FreePageNo(no);
    s = FindSession(session);
    if (s->changes.Find(no)) RecyclePage(s->changes.Remove(no));
    if (TEdbPage* c = cache_.Find(no)) {
      if (c->UseCount() > 0)
        c->stale_ = true;
      else
        RecyclePage(cache_.Remove(no));
    }
  }
  s = FindSession(session);
  for (TEdbPage* p : s->changes.Pages()) {
    WritePage(p);
    p->dirty_ = false;
    ReturnToCache(s->changes.Remove(p->pageNo_));
  }
}

void TEdbPageManager::Rollback(int32_t session) {
  if (session == kEdbInvalidSession) EdbRaise(errc::kInvalidSessionId, "Invalid Session ID");
  TSession* s = FindSession(session);
  if (!s) return;
  for (TEdbPage* p : s->changes.Pages()) {
    if (!p->dirty_) EdbRaise(errc::kRollbackPageNotDirty, "Invalid index page");
    if (p->useCount_ > 0) EdbRaise(errc::kRollbackPageInUse, "Cannot remove used page");
  }
  for (auto& p : s->changes.TakeAll()) RecyclePage(std::move(p));
  std::vector<int32_t> added = std::move(s->added);
  s->added.clear();
  s->deleted.clear();
  for (int32_t no : added) FreePageNo(no);
}

void TEdbPageManager::CheckAllCommitted() const {
  for (const TSession& s : sessions_)
    if (!s.changes.Empty()) EdbRaise(errc::kUncommittedPages, "Cannot free not commited pages");
}

}  // namespace edb
