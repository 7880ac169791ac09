// The disk page manager: opening and creating database files, the header and its lock, page
// reads and writes with encipherment, direct partial page access, page byte locks and the commit
// protocol around the base page manager.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "EdbCrc.h"
#include "EdbException.h"
#include "EdbFreeSpaceMap.h"
#include "EdbPageManager.h"

namespace edb {

namespace {

uint16_t Rd16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Rd32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
void Wr16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
void Wr32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24);
}

// Read codes of the header, check block, lock-area length and object-ID counter.
constexpr int kCodeHeaderRead = 10464;
constexpr int kCodeCheckBlockRead = 30439;
constexpr int kCodeLockAreaRead = 30442;
constexpr int kCodeObjectIdRead = 30400;
constexpr int kCodeInvalidFormat = 20237;
// Largest header length accepted from a file (the engine writes 76).
constexpr int16_t kMaxHeaderLength = 4096;

std::string SignatureText(const uint8_t* p, size_t n) {
  std::string s;
  for (size_t i = 0; i < n && p[i] != 0; ++i) s.push_back(char(p[i]));
  return s;
}

// The numbers of a header that size and position later work: a page larger than its header, a
// non-empty extent, a non-negative page count and a last allocated page inside it (or -1).
bool HeaderNumbersValid(const TEdbFileHeader& h) {
  return h.PageSize > kEdbPageHeaderSize && h.PagesPerExtent > 0 && h.TotalPageCount >= 0 &&
         h.LastAllocatedPage >= -1 && h.LastAllocatedPage < h.TotalPageCount + (h.LastAllocatedPage == -1 ? 1 : 0);
}

std::mt19937& Rng() {
  static thread_local std::mt19937 rng{std::random_device{}()};
  return rng;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Header records

void TEdbFileHeader::Parse(const uint8_t* b) {
  std::memcpy(Signature, b, 16);
  HeaderLength = int16_t(Rd16(b + 16));
  uint64_t bits = uint64_t(Rd32(b + 18)) | (uint64_t(Rd32(b + 22)) << 32);
  std::memcpy(&Version, &bits, 8);
  PageSize = Rd16(b + 26);
  PagesPerExtent = Rd16(b + 28);
  TotalPageCount = int32_t(Rd32(b + 30));
  LastAllocatedPage = int32_t(Rd32(b + 34));
  ChangeCounter = int32_t(Rd32(b + 38));
  State = b[42];
  Encrypted = b[43];
}

void TEdbFileHeader::Serialize(uint8_t* b) const {
  std::memset(b, 0, size_t(kEdbFileHeaderSize));
  std::memcpy(b, Signature, 16);
  Wr16(b + 16, uint16_t(HeaderLength));
  uint64_t bits;
  std::memcpy(&bits, &Version, 8);
  Wr32(b + 18, uint32_t(bits));
  Wr32(b + 22, uint32_t(bits >> 32));
  Wr16(b + 26, PageSize);
  Wr16(b + 28, PagesPerExtent);
  Wr32(b + 30, uint32_t(TotalPageCount));
  Wr32(b + 34, uint32_t(LastAllocatedPage));
  Wr32(b + 38, uint32_t(ChangeCounter));
  b[42] = State;
  b[43] = Encrypted;
}

void TEdbCheckBlock::Parse(const uint8_t* b) {
  Length = int16_t(Rd16(b));
  CipherId = b[2];
  std::memcpy(CheckData, b + 4, 256);
  Crc = Rd32(b + 260);
}

void TEdbCheckBlock::Serialize(uint8_t* b) const {
  std::memset(b, 0, size_t(kEdbCheckBlockSize));
  Wr16(b, uint16_t(Length));
  b[2] = CipherId;
  std::memcpy(b + 4, CheckData, 256);
  Wr32(b + 260, Crc);
}

// ---------------------------------------------------------------------------------------------
// Open, create, close

TEdbDiskPageManager::TEdbDiskPageManager(std::unique_ptr<IEdbFileStore> store, size_t cacheCapacity)
    : TEdbPageManager(kEdbDefaultPageSize, cacheCapacity), file_(std::move(store)) {}

TEdbDiskPageManager::~TEdbDiskPageManager() {
  try {
    if (file_.IsOpened()) CloseDatabase();
  } catch (...) {
  }
}

void TEdbDiskPageManager::ResetState() {
  DropAllPages();
  fsm_.reset();
  cipher_.reset();
  for (auto& c : readCiphers_) c.reset();
  header_ = TEdbFileHeader();
  checkBlock_ = TEdbCheckBlock();
  lockAreaLength_ = 20;
  base_ = checkBlockOffset_ = lockAreaOffset_ = objectIdOffset_ = pageAreaOffset_ = 0;
  headerLockCount_ = 0;
  readOnly_ = false;
  exclusive_ = false;
  multiUser_ = false;
}

void TEdbDiskPageManager::ProbeReadOnly(const std::string& fileName, bool& multiUser, bool& readOnly) {
  IEdbFileStore& st = file_.Store();
  if (readOnly || !st.FileExists(fileName)) return;
  if (st.IsReadOnlyFile(fileName)) {
    readOnly = true;
    multiUser = false;
    return;
  }
  int err = 0;
  if (!st.Open(fileName, amReadWrite, multiUser ? smShareReadWrite : kEdbShareWriteOnly, err)) {
    readOnly = true;
    return;
  }
  uint8_t b = 0;
  size_t done = 0;
  if (st.Read(0, &b, 1, done, err) && done == 1) {
    size_t wrote = 0;
    if (!st.Write(0, &b, 1, wrote, err) || wrote != 1) readOnly = true;
  }
  st.Close(err);
}

void TEdbDiskPageManager::OpenDatabase(const std::string& fileName, TEdbPassword& password, bool& multiUser,
                                       bool exclusive, bool& needsRepair, bool& readOnly) {
  if (file_.IsOpened()) EdbRaise(10462, "Error - database file %s is in use.", fileName.c_str());
  ResetState();
  password_ = password;
  needsRepair = false;
  ProbeReadOnly(fileName, multiUser, readOnly);
  int access = amReadWrite, share = smShareReadWrite;
  if (readOnly) {
    access = amRead;
  } else if (exclusive) {
    share = smExclusive;
    multiUser = false;
  }
  file_.OpenFile(fileName, access, share);
  readOnly_ = readOnly;
  exclusive_ = exclusive && !readOnly;
  multiUser_ = multiUser;
  bool shortFile = false;
  // Until the header is read, the header lock byte is taken where a database written by this
  // engine at the start of its file has it.
  lockAreaOffset_ = kEdbFileHeaderSize + kEdbCheckBlockSize;
  try {
    LockHeader(20230);
    try {
      base_ = file_.FindDatabaseStart();
      uint8_t raw[kEdbFileHeaderSize] = {};
      // A database shorter than the signature search's first read (92 bytes) has no header.
      if (file_.GetSize() - base_ >= int64_t(kEdbSignatureSize) + kEdbFileHeaderSize) {
        file_.ReadBuffer(raw, base_, sizeof raw, kCodeHeaderRead);
      } else {
        file_.ReadBuffer(raw, base_, kEdbSignatureSize, kCodeHeaderRead);
        std::memset(raw + kEdbSignatureSize, 0, sizeof raw - kEdbSignatureSize);
        shortFile = true;
      }
      header_.Parse(raw);
      needsRepair = header_.State != 2 || header_.Version < kEdbOldFormatVersion;
    } catch (...) {
      UnlockHeader();
      throw;
    }
    UnlockHeader();

    if (shortFile || std::memcmp(header_.Signature, kEdbSignature, kEdbSignatureSize) != 0)
      EdbRaise(10470, "Invalid file format. Found signature: '%s', expected: '%s'",
               SignatureText(header_.Signature, 16).c_str(), SignatureText(kEdbSignature, 16).c_str());

    // Every number that positions or sizes later reads is checked before use.
    if (header_.HeaderLength < kEdbFileHeaderSize || header_.HeaderLength > kMaxHeaderLength)
      EdbRaise(kCodeInvalidFormat, "Invalid database format");
    if (!HeaderNumbersValid(header_)) EdbRaise(kCodeInvalidFormat, "Invalid database format");
    SetPageSize(header_.PageSize);

    checkBlockOffset_ = base_ + header_.HeaderLength;
    lockAreaOffset_ = checkBlockOffset_ + kEdbCheckBlockSize;
    uint8_t cb[kEdbCheckBlockSize] = {};
    if (file_.ReadBuffer(cb, checkBlockOffset_, sizeof cb, kCodeCheckBlockRead) != sizeof cb)
      EdbRaise(kCodeInvalidFormat, "Invalid database format");
    checkBlock_.Parse(cb);

    if (header_.Encrypted != 0) {
      password_.CipherId = checkBlock_.CipherId;
      CheckPassword();
    }
    if (checkBlockOffset_ + checkBlock_.Length != lockAreaOffset_)
      EdbRaise(kCodeInvalidFormat, "Invalid database format");

    uint8_t lw[2] = {};
    if (file_.ReadBuffer(lw, lockAreaOffset_, 2, kCodeLockAreaRead) != 2)
      EdbRaise(kCodeInvalidFormat, "Invalid database format");
    lockAreaLength_ = int16_t(Rd16(lw));
    if (lockAreaLength_ < 2) EdbRaise(kCodeInvalidFormat, "Invalid database format");
    objectIdOffset_ = lockAreaOffset_ + lockAreaLength_;
    pageAreaOffset_ = objectIdOffset_ + 4;

    CreateFreeSpaceMap();
  } catch (...) {
    try {
      file_.CloseFile();
    } catch (...) {
    }
    ResetState();
    throw;
  }
  password = password_;
  readOnly = readOnly_;
}

void TEdbDiskPageManager::CheckPassword() {
  cipher_ = std::make_unique<TEdbCipher>(password_.Text, password_.CipherId);
  uint8_t data[256];
  std::memcpy(data, checkBlock_.CheckData, 256);
  cipher_->Decrypt(data, 256);
  if (EdbCrc32(data, 256) != checkBlock_.Crc) EdbRaise(30445, "Cannot open database because incorrect password");
}

void TEdbDiskPageManager::CreateFreeSpaceMap() {
  fsm_ = std::make_unique<TEdbDatabaseFreeSpaceManager>(*this, header_.PagesPerExtent, header_.LastAllocatedPage,
                                                       header_.TotalPageCount, PageDataSize());
}

void TEdbDiskPageManager::CreateDatabase(const std::string& fileName, const TEdbPassword& password,
                                         uint16_t pagesPerExtent, uint16_t pageSize) {
  if (file_.IsOpened()) EdbRaise(10461, "Error - database file %s is in use.", fileName.c_str());
  if (pageSize <= kEdbPageHeaderSize) EdbRaise(kCodeInvalidFormat, "Invalid page size: %d", int(pageSize));
  if (pagesPerExtent == 0) EdbRaise(kCodeInvalidFormat, "Invalid pages per extent: %d", int(pagesPerExtent));
  ResetState();
  SetPageSize(pageSize);
  file_.CreateNewFile(fileName);
  try {
    password_ = password;
    std::memcpy(header_.Signature, kEdbSignature, 16);
    header_.HeaderLength = kEdbFileHeaderSize;
    header_.Version = kEdbCurrentVersion;
    header_.PageSize = pageSize;
    header_.PagesPerExtent = pagesPerExtent;
    header_.TotalPageCount = 0;
    header_.LastAllocatedPage = -1;
    header_.ChangeCounter = 0;
    header_.State = 2;
    header_.Encrypted = password.Text.empty() ? 0 : 0xFF;
    checkBlock_ = TEdbCheckBlock();
    if (header_.Encrypted) {
      checkBlock_.CipherId = password.CipherId;
      std::uniform_int_distribution<int> byte(0, 254);
      for (uint8_t& b : checkBlock_.CheckData) b = uint8_t(byte(Rng()));
      checkBlock_.Crc = EdbCrc32(checkBlock_.CheckData, 256);
      cipher_ = std::make_unique<TEdbCipher>(password.Text, password.CipherId);
      cipher_->Encrypt(checkBlock_.CheckData, 256);
    }
    base_ = 0;
    checkBlockOffset_ = kEdbFileHeaderSize;
    lockAreaOffset_ = checkBlockOffset_ + kEdbCheckBlockSize;
    lockAreaLength_ = int16_t(kEdbLockAreaSize);
    objectIdOffset_ = lockAreaOffset_ + kEdbLockAreaSize;
    pageAreaOffset_ = objectIdOffset_ + 4;

    uint8_t block[kEdbFileHeaderSize + kEdbCheckBlockSize + kEdbLockAreaSize + 4] = {};
    header_.Serialize(block);
    checkBlock_.Serialize(block + kEdbFileHeaderSize);
    Wr16(block + kEdbFileHeaderSize + kEdbCheckBlockSize, uint16_t(kEdbLockAreaSize));
    file_.WriteBuffer(block, 0, sizeof block, 10460);
    readOnly_ = false;
    exclusive_ = true;
    multiUser_ = false;
    CreateFreeSpaceMap();
  } catch (...) {
    try {
      file_.CloseFile();
    } catch (...) {
    }
    ResetState();
    throw;
  }
}

void TEdbDiskPageManager::CloseDatabase() {
  ResetState();
  if (file_.IsOpened()) file_.CloseFile();
}

// ---------------------------------------------------------------------------------------------
// Header, lock and object IDs

void TEdbDiskPageManager::ReadHeaderAt(int errorCode) {
  uint8_t raw[kEdbFileHeaderSize] = {};
  if (file_.ReadBuffer(raw, base_, sizeof raw, errorCode) != sizeof raw)
    EdbRaise(kCodeInvalidFormat, "Invalid database format");
  TEdbFileHeader h;
  h.Parse(raw);
  // Another writer may have changed the header; values this manager relies on must still hold.
  if (std::memcmp(h.Signature, kEdbSignature, 16) != 0 || h.PageSize != pageSize_ ||
      h.PagesPerExtent != header_.PagesPerExtent || !HeaderNumbersValid(h))
    EdbRaise(kCodeInvalidFormat, "Invalid database format");
  header_ = h;
}

void TEdbDiskPageManager::ReadHeader() {
  if (!file_.IsOpened()) EdbRaise(10459, "Error - database file is not opened.");
  ReadHeaderAt(kCodeHeaderRead);
}

void TEdbDiskPageManager::WriteHeader() {
  if (!file_.IsOpened()) EdbRaise(10460, "Error - database file is not opened.");
  uint8_t raw[kEdbFileHeaderSize];
  header_.Serialize(raw);
  file_.WriteBuffer(raw, base_, sizeof raw, 10460);
}

void TEdbDiskPageManager::LockHeader(int errorCode) {
  if (headerLockCount_ > 0) {
    ++headerLockCount_;
    return;
  }
  for (int attempt = 0; attempt < std::max(1, lockAttempts_); ++attempt) {
    if (file_.LockBytes(lockAreaOffset_ + 4, 1)) {
      headerLockCount_ = 1;
      return;
    }
    if (attempt + 1 < lockAttempts_ && lockIntervalMs_ > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(lockIntervalMs_));
  }
  EdbRaise(errorCode, "Database is locked");
}

void TEdbDiskPageManager::UnlockHeader() {
  if (headerLockCount_ <= 0) return;
  if (--headerLockCount_ == 0 && file_.IsOpened()) file_.UnlockBytes(lockAreaOffset_ + 4, 1);
}

bool TEdbDiskPageManager::TryLockTables() { return file_.LockBytes(lockAreaOffset_ + 3, 1); }
bool TEdbDiskPageManager::UnlockTables() { return file_.UnlockBytes(lockAreaOffset_ + 3, 1); }

int32_t TEdbDiskPageManager::GetTotalPageCount() {
  if (headerLockCount_ == 0) {
    if (!file_.LockBytes(lockAreaOffset_ + 4, 1)) EdbRaise(20236, "Database is locked");
    headerLockCount_ = 1;
  } else {
    ++headerLockCount_;
  }
  try {
    ReadHeaderAt(kCodeHeaderRead);
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();
  storedTotalPageCount_ = header_.TotalPageCount;
  return header_.TotalPageCount;
}

int32_t TEdbDiskPageManager::NextObjectID() {
  bool locked = false;
  for (int attempt = 0; attempt < std::max(1, lockAttempts_) && !locked; ++attempt) {
    locked = file_.LockBytes(objectIdOffset_, 1);
    if (!locked && attempt + 1 < lockAttempts_ && lockIntervalMs_ > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(lockIntervalMs_));
  }
  if (!locked) EdbRaise(30401, "Cannot get NextObjectID. File area is Locked.");
  int32_t id = 0;
  try {
    uint8_t b[4] = {};
    file_.ReadBuffer(b, objectIdOffset_, 4, kCodeObjectIdRead);
    const uint32_t stored = Rd32(b);
    if (readOnly_) {
      id = int32_t(stored + 1u + uint32_t(std::uniform_int_distribution<int>(0, 9999)(Rng())));
    } else {
      id = int32_t(stored + 1u);
      Wr32(b, uint32_t(id));
      file_.WriteBuffer(b, objectIdOffset_, 4, kCodeObjectIdRead);
    }
  } catch (...) {
    file_.UnlockBytes(objectIdOffset_, 1);
    throw;
  }
  file_.UnlockBytes(objectIdOffset_, 1);
  return id;
}

void TEdbDiskPageManager::Trim() {
  LockHeader(20232);
  try {
    ReadHeaderAt(kCodeHeaderRead);
    header_.TotalPageCount = header_.LastAllocatedPage + 1;
    WriteHeader();
    file_.SetSize(pageAreaOffset_ + int64_t(header_.TotalPageCount) * pageSize_);
    CreateFreeSpaceMap();
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();
}

// ---------------------------------------------------------------------------------------------
// Pages on disk

int64_t TEdbDiskPageManager::PageFileOffset(int32_t pageNo) const {
  if (pageNo < 0) EdbRaise(10471, "Invalid PageNo = %d", pageNo);
  return pageAreaOffset_ + int64_t(pageNo) * int64_t(pageSize_);
}

bool TEdbDiskPageManager::IsPfsOrEam(int32_t pageNo) const { return IsSystemPage(pageNo); }

bool TEdbDiskPageManager::IsSystemPage(int32_t pageNo) const {
  return fsm_ ? fsm_->IsSystemPage(pageNo) : false;
}

void TEdbDiskPageManager::ReadPagePart(void* buf, int32_t pageNo, uint32_t count, uint32_t offset) {
  if (uint64_t(offset) + count > pageSize_)
    EdbRaise(10476, "Error - invalid page offset = %d, page size = %d", int(offset + count), int(pageSize_));
  size_t got = file_.ReadBuffer(buf, PageFileOffset(pageNo) + offset, count, 10474);
  if (got < count) std::memset(static_cast<uint8_t*>(buf) + got, 0, count - got);
}

void TEdbDiskPageManager::WritePagePart(const void* buf, int32_t pageNo, uint32_t count, uint32_t offset) {
  if (uint64_t(offset) + count > pageSize_)
    EdbRaise(10477, "Error - invalid page offset = %d, page size = %d", int(offset + count), int(pageSize_));
  file_.WriteBuffer(buf, PageFileOffset(pageNo) + offset, count, 10475);
}

int32_t TEdbDiskPageManager::ReadPageChangeCounter(int32_t pageNo) {
  try {
    uint8_t b[4];
    if (file_.ReadBuffer(b, PageFileOffset(pageNo) + pagehdr::kChangeCounter, 4, 20197) != 4)
      return kEdbFreedPageCounter;
    return int32_t(Rd32(b));
  } catch (const EEdbException&) {
    return kEdbFreedPageCounter;
  }
}

void TEdbDiskPageManager::SetPageChangeCounter(int32_t pageNo, int32_t value) {
  uint8_t b[4];
  Wr32(b, uint32_t(value));
  file_.WriteBuffer(b, PageFileOffset(pageNo) + pagehdr::kChangeCounter, 4, 20198);
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
    EdbRaise(10476, "Error - invalid page offset = %d, page size = %d", int(offset + length), int(pageSize_));
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
  if (!fsm_) EdbRaise(10459, "Error - database file is not opened.");
  page->SetPageNo(fsm_->AllocatePage());
}

void TEdbDiskPageManager::FreePageNo(int32_t pageNo) {
  if (!fsm_) EdbRaise(10459, "Error - database file is not opened.");
  SetPageChangeCounter(pageNo, kEdbFreedPageCounter);
  fsm_->ReleasePage(pageNo);
}

bool TEdbDiskPageManager::ReadPage(TEdbPage* page) {
  if (page->BufferSize() < pageSize_) page->buffer_.assign(pageSize_, 0), page->InitHeader();
  size_t got = 0;
  try {
    got = file_.ReadBuffer(page->Buffer(), PageFileOffset(page->PageNo()), pageSize_, 10474);
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
      EdbRaise(30446, "Decrypt page error. Check CRC failed. PageNo: %d", page->PageNo());
  }
  page->loaded_ = true;
  return true;
}

void TEdbDiskPageManager::WritePage(TEdbPage* page) {
  int64_t next = int64_t(page->ChangeCounter()) + 1;
  if (next >= 0x7FFFFFFD) next = 0;
  page->SetChangeCounter(int32_t(next));
  const bool encipher = Encrypted() && !IsPfsOrEam(page->PageNo()) && page->EncipherOnWrite();
  if (encipher) {
    if (!cipher_) cipher_ = std::make_unique<TEdbCipher>(password_.Text, password_.CipherId);
    page->Header()[pagehdr::kCipherId] = cipher_->CipherId();
    Wr32(page->Header() + pagehdr::kDataCrc, EdbCrc32(page->Data(), page->DataSize()));
    cipher_->Encrypt(page->Data(), page->DataSize());
  }
  try {
    file_.WriteBuffer(page->Buffer(), PageFileOffset(page->PageNo()), pageSize_, 10469);
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

TEdbPage* TEdbDiskPageManager::GetPage(int32_t session, int32_t pageNo, bool sync, uint16_t expectedType) {
  if (fsm_) fsm_->CheckDeletable(pageNo);
  if (pageNo < 0) EdbRaise(10471, "Invalid PageNo = %d", pageNo);
  return TEdbPageManager::GetPage(session, pageNo, sync, expectedType);
}

void TEdbDiskPageManager::Commit(int32_t session) {
  if (session == kEdbInvalidSession) EdbRaise(20186, "Invalid Session ID");
  if (!SessionHasWork(session)) return;
  LockHeader(20213);
  try {
    ReadHeaderAt(kCodeHeaderRead);
    header_.State = 1;
    WriteHeader();
    TEdbPageManager::Commit(session);
    header_.ChangeCounter = int32_t(uint32_t(header_.ChangeCounter) + 1u);
    header_.State = 2;
    WriteHeader();
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();
}

}  // namespace edb
