// The disk page manager's page level: page reads and writes with encipherment, direct partial
// page access, page byte locks, page-number allocation and the commit protocol around the base
// page manager.

#include <cstring>

#include "EdbCrc.h"
#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbFreeSpaceMap.h"
#include "EdbPageManager.h"

namespace edb {

// ---------------------------------------------------------------------------------------------
// Pages on disk

int64_t TEdbDiskPageManager::PageFileOffset(int32_t pageNo) const {
  if (pageNo < 0) EdbRaise(errc::kInvalidPageNo, "Invalid PageNo = %d", pageNo);
  return pageAreaOffset_ + int64_t(pageNo) * int64_t(pageSize_);
}

bool TEdbDiskPageManager::IsPfsOrEam(int32_t pageNo) const { return IsSystemPage(pageNo); }

bool TEdbDiskPageManager::IsSystemPage(int32_t pageNo) const {
  return fsm_ ? fsm_->IsSystemPage(pageNo) : false;
}

void TEdbDiskPageManager::ReadPagePart(void* buf, int32_t pageNo, uint32_t count, uint32_t offset) {
  if (uint64_t(offset) + count > pageSize_)
    EdbRaise(errc::kInvalidPageOffsetRead, "Error - invalid page offset = %d, page size = %d",
             int(offset + count), int(pageSize_));
  size_t got = file_.ReadBuffer(buf, PageFileOffset(pageNo) + offset, count, errc::kReadPage);
  if (got < count) std::memset(static_cast<uint8_t*>(buf) + got, 0, count - got);
}

void TEdbDiskPageManager::WritePagePart(const void* buf, int32_t pageNo, uint32_t count,
                                        uint32_t offset) {
  if (uint64_t(offset) + count > pageSize_)
    EdbRaise(errc::kInvalidPageOffsetWrite, "Error - invalid page offset = %d, page size = %d",
             int(offset + count), int(pageSize_));
  file_.WriteBuffer(buf, PageFileOffset(pageNo) + offset, count, errc::kWritePagePart);
}

int32_t TEdbDiskPageManager::ReadPageChangeCounter(int32_t pageNo) {
  try {
    uint8_t b[sizeof(int32_t)];
    if (file_.ReadBuffer(b, PageFileOffset(pageNo) + pagehdr::kChangeCounter, sizeof b,
                         errc::kReadPageChangeCounter) != sizeof b)
      return kEdbFreedPageCounter;
    return GetI32(b);
  } catch (const EEdbException&) {
    return kEdbFreedPageCounter;
  }
}

void TEdbDiskPageManager::SetPageChangeCounter(int32_t pageNo, int32_t value) {
  uint8_t b[sizeof(int32_t)];
  PutI32(b, value);
  file_.WriteBuffer(b, PageFileOffset(pageNo) + pagehdr::kChangeCounter, sizeof b,
                    errc::kWritePageChangeCounter);
}

bool TEdbDiskPageManager::LockPageByte(int32_t pageNo, uint32_t offset) {
  return file_.LockBytes(PageFileOffset(pageNo) + offset, 1);
}
bool TEdbDiskPageManager::UnlockPageByte(int32_t pageNo, uint32_t offset) {
  return file_.UnlockBytes(PageFileOffset(pageNo) + offset, 1);
}
bool TEdbDiskPageManager::IsPageByteLocked(int32_t pageNo, uint32_t offset) {
  return file_.IsByteLocked(PageFileOffset(pageNo) + offset);
}
bool TEdbDiskPageManager::IsPageRegionLocked(int32_t pageNo, uint32_t offset, uint32_t length) {
  if (uint64_t(offset) + length > pageSize_)
    EdbRaise(errc::kInvalidPageOffsetRead, "Error - invalid page offset = %d, page size = %d",
             int(offset + length), int(pageSize_));
  return file_.IsRegionLocked(PageFileOffset(pageNo) + offset, length);
}

void TEdbDiskPageManager::SetCurrencyHooks(std::function<bool(int32_t, TEdbPage*)> isCurrent,
                                           std::function<void(int32_t, TEdbPage*)> markCurrent) {
  isCurrentHook_ = std::move(isCurrent);
  markCurrentHook_ = std::move(markCurrent);
}

bool TEdbDiskPageManager::IsPageCurrent(int32_t session, TEdbPage* page) {
  if (!multiUser_) return true;
  return isCurrentHook_ ? isCurrentHook_(session, page) : false;
}

void TEdbDiskPageManager::MarkPageCurrent(int32_t session, TEdbPage* page) {
  if (multiUser_ && markCurrentHook_) markCurrentHook_(session, page);
}

void TEdbDiskPageManager::RevalidatePage(TEdbPage* page) {
  if (!multiUser_) return;
  const int32_t onDisk = ReadPageChangeCounter(page->PageNo());
  if (onDisk == kEdbFreedPageCounter || onDisk == page->ChangeCounter()) return;
  if (!ReadPage(page)) return;
}

void TEdbDiskPageManager::AssignPageNo(TEdbPage* page) {
  if (!fsm_) EdbRaise(errc::kDatabaseNotOpened, "Error - database file is not opened.");
  page->SetPageNo(fsm_->AllocatePage());
}

void TEdbDiskPageManager::FreePageNo(int32_t pageNo) {
  if (!fsm_) EdbRaise(errc::kDatabaseNotOpened, "Error - database file is not opened.");
  SetPageChangeCounter(pageNo, kEdbFreedPageCounter);
  fsm_->ReleasePage(pageNo);
}

bool TEdbDiskPageManager::ReadPage(TEdbPage* page) {
  if (page->BufferSize() < pageSize_) page->buffer_.assign(pageSize_, 0), page->InitHeader();
  size_t got = 0;
  try {
    got = file_.ReadBuffer(page->Buffer(), PageFileOffset(page->PageNo()), pageSize_,
                           errc::kReadPage);
  } catch (const EEdbException&) {
    page->SetChangeCounter(kEdbFreedPageCounter);
    return false;
  }
  (void)got;
  if (Encrypted() && !IsPfsOrEam(page->PageNo())) {
    const uint8_t id = page->CipherId();
    TEdbCipher* c = cipher_.get();
    if (!c || c->CipherId() != id) {
      if (id < kEdbCipherCount) {
        if (!readCiphers_[id]) readCiphers_[id] = std::make_unique<TEdbCipher>(password_.Text, id);
        c = readCiphers_[id].get();
      } else {
        c = nullptr;  // an unknown id enciphers nothing
      }
    }
    if (c) c->Decrypt(page->Data(), page->DataSize());
    if (EdbCrc32(page->Data(), page->DataSize()) != page->DataCrc())
      EdbRaise(errc::kPageCrcMismatch, "Decrypt page error. Check CRC failed. PageNo: %d",
               page->PageNo());
  }
  page->loaded_ = true;
  return true;
}

void TEdbDiskPageManager::WritePage(TEdbPage* page) {
  int64_t next = int64_t(page->ChangeCounter()) + 1;
  if (next >= kEdbChangeCounterWrap) next = 0;
  page->SetChangeCounter(int32_t(next));
  const bool encipher = Encrypted() && !IsPfsOrEam(page->PageNo()) && page->EncipherOnWrite();
  if (encipher) {
    if (!cipher_) cipher_ = std::make_unique<TEdbCipher>(password_.Text, password_.CipherId);
    page->Header()[pagehdr::kCipherId] = cipher_->CipherId();
    PutU32(page->Header() + pagehdr::kDataCrc, EdbCrc32(page->Data(), page->DataSize()));
    cipher_->Encrypt(page->Data(), page->DataSize());
  }
  try {
    file_.WriteBuffer(page->Buffer(), PageFileOffset(page->PageNo()), pageSize_, errc::kWritePage);
  } catch (...) {
    if (encipher) cipher_->Decrypt(page->Data(), page->DataSize());
    throw;
  }
  if (encipher) cipher_->Decrypt(page->Data(), page->DataSize());
}

void TEdbDiskPageManager::DeletePage(int32_t session, int32_t pageNo) {
  if (fsm_) fsm_->CheckDeletable(pageNo);
  TEdbPageManager::DeletePage(session, pageNo);
}

TEdbPage* TEdbDiskPageManager::GetPage(int32_t session, int32_t pageNo, bool sync,
                                       uint16_t expectedType) {
  if (fsm_) fsm_->CheckDeletable(pageNo);
  if (pageNo < 0) EdbRaise(errc::kInvalidPageNo, "Invalid PageNo = %d", pageNo);
  return TEdbPageManager::GetPage(session, pageNo, sync, expectedType);
}

void TEdbDiskPageManager::Commit(int32_t session) {
  if (session == kEdbInvalidSession) EdbRaise(errc::kInvalidSessionId, "Invalid Session ID");
  if (!SessionHasWork(session)) return;
  LockHeader(errc::kLockedOnCommit);
  try {
    ReadHeaderAt(errc::kReadHeader);
    header_.State = kEdbStateCommitting;
    WriteHeader();
    TEdbPageManager::Commit(session);
    header_.ChangeCounter = int32_t(uint32_t(header_.ChangeCounter) + 1u);
    header_.State = kEdbStateConsistent;
    WriteHeader();
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();
}

}  // namespace edb
