// The disk page manager's database level: opening and creating database files, the file header
// with its lock, the trim of the page area and the object-ID counter.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "EdbCrc.h"
#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbFreeSpaceMap.h"
#include "EdbPageManager.h"

namespace edb {

namespace {

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
         h.LastAllocatedPage >= -1 &&
         h.LastAllocatedPage < h.TotalPageCount + (h.LastAllocatedPage == -1 ? 1 : 0);
}

std::mt19937& Rng() {
  static thread_local std::mt19937 rng{std::random_device{}()};
  return rng;
}

}  // namespace

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
  lockAreaLength_ = int16_t(kEdbLockAreaSize);
  base_ = checkBlockOffset_ = lockAreaOffset_ = objectIdOffset_ = pageAreaOffset_ = 0;
  headerLockCount_ = 0;
  readOnly_ = false;
  exclusive_ = false;
  multiUser_ = false;
}

void TEdbDiskPageManager::ProbeReadOnly(const std::string& fileName, bool& multiUser,
                                        bool& readOnly) {
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

void TEdbDiskPageManager::OpenDatabase(const std::string& fileName, TEdbPassword& password,
                                       bool& multiUser, bool exclusive, bool& needsRepair,
                                       bool& readOnly) {
  if (file_.IsOpened())
    EdbRaise(errc::kOpenDatabaseInUse, "Error - database file %s is in use.", fileName.c_str());
  ResetState();
  password_ = password;
  needsRepair = false;
  ProbeReadOnly(fileName, multiUser, readOnly);
  OpenDatabaseFile(fileName, multiUser, exclusive, readOnly);
  try {
    needsRepair = ReadOpenHeader();
    ReadOpenCheckBlock();
    LocateRegions();
    CreateFreeSpaceMap();
  } catch (...) {
    CloseAfterFailure();
    throw;
  }
  password = password_;
  readOnly = readOnly_;
}

void TEdbDiskPageManager::OpenDatabaseFile(const std::string& fileName, bool& multiUser,
                                           bool exclusive, bool readOnly) {
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
}

bool TEdbDiskPageManager::ReadOpenHeader() {
  bool shortFile = false;
  bool needsRepair = false;
  // Until the header is read, the header lock byte is taken where a database written by this
  // engine at the start of its file has it.
  lockAreaOffset_ = kEdbFileHeaderSize + kEdbCheckBlockSize;
  LockHeader(errc::kLockedOnOpen);
  try {
    base_ = file_.FindDatabaseStart();
    uint8_t raw[kEdbFileHeaderSize] = {};
    // A database shorter than the signature search's first read (92 bytes) has no header.
    if (file_.GetSize() - base_ >= int64_t(kEdbSignatureSize) + kEdbFileHeaderSize) {
      file_.ReadBuffer(raw, base_, sizeof raw, errc::kReadHeader);
    } else {
      file_.ReadBuffer(raw, base_, kEdbSignatureSize, errc::kReadHeader);
      std::memset(raw + kEdbSignatureSize, 0, sizeof raw - kEdbSignatureSize);
      shortFile = true;
    }
    header_.Parse(raw);
    needsRepair = header_.State != kEdbStateConsistent || header_.Version < kEdbOldFormatVersion;
  } catch (...) {
    UnlockHeader();
    throw;
  }
  UnlockHeader();

  if (shortFile || std::memcmp(header_.Signature, kEdbSignature, kEdbSignatureSize) != 0)
    EdbRaise(errc::kInvalidFileSignature,
             "Invalid file format. Found signature: '%s', expected: '%s'",
             SignatureText(header_.Signature, kEdbSignatureSize).c_str(),
             SignatureText(kEdbSignature, kEdbSignatureSize).c_str());

  // Every number that positions or sizes later reads is checked before use.
  if (header_.HeaderLength < kEdbFileHeaderSize || header_.HeaderLength > kMaxHeaderLength)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  if (!HeaderNumbersValid(header_))
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  SetPageSize(header_.PageSize);
  return needsRepair;
}

void TEdbDiskPageManager::ReadOpenCheckBlock() {
  checkBlockOffset_ = base_ + header_.HeaderLength;
  lockAreaOffset_ = checkBlockOffset_ + kEdbCheckBlockSize;
  uint8_t cb[kEdbCheckBlockSize] = {};
  if (file_.ReadBuffer(cb, checkBlockOffset_, sizeof cb, errc::kReadCheckBlock) != sizeof cb)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  checkBlock_.Parse(cb);

  if (header_.Encrypted != 0) {
    password_.CipherId = checkBlock_.CipherId;
    CheckPassword();
  }
  if (checkBlockOffset_ + checkBlock_.Length != lockAreaOffset_)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
}

void TEdbDiskPageManager::LocateRegions() {
  uint8_t lw[lockarea::kLengthSize] = {};
  if (file_.ReadBuffer(lw, lockAreaOffset_ + lockarea::kLength, sizeof lw,
                       errc::kReadLockAreaLength) != sizeof lw)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  lockAreaLength_ = GetI16(lw);
  if (lockAreaLength_ < int16_t(lockarea::kLengthSize))
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  objectIdOffset_ = lockAreaOffset_ + lockAreaLength_;
  pageAreaOffset_ = objectIdOffset_ + kEdbObjectIdCounterSize;
}

void TEdbDiskPageManager::CloseAfterFailure() {
  try {
    file_.CloseFile();
  } catch (...) {
  }
  ResetState();
}

void TEdbDiskPageManager::CheckPassword() {
  cipher_ = std::make_unique<TEdbCipher>(password_.Text, password_.CipherId);
  uint8_t data[checkblk::kCheckDataSize];
  std::memcpy(data, checkBlock_.CheckData, sizeof data);
  cipher_->Decrypt(data, sizeof data);
  if (EdbCrc32(data, sizeof data) != checkBlock_.Crc)
    EdbRaise(errc::kIncorrectPassword, "Cannot open database because incorrect password");
}

void TEdbDiskPageManager::CreateFreeSpaceMap() {
  fsm_ = std::make_unique<TEdbDatabaseFreeSpaceManager>(*this, header_.PagesPerExtent,
                                                        header_.LastAllocatedPage,
                                                        header_.TotalPageCount, PageDataSize());
}

void TEdbDiskPageManager::CreateDatabase(const std::string& fileName, const TEdbPassword& password,
                                         uint16_t pagesPerExtent, uint16_t pageSize) {
  if (file_.IsOpened())
    EdbRaise(errc::kCreateDatabaseInUse, "Error - database file %s is in use.", fileName.c_str());
  if (pageSize <= kEdbPageHeaderSize)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid page size: %d", int(pageSize));
  if (pagesPerExtent == 0)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid pages per extent: %d", int(pagesPerExtent));
  ResetState();
  SetPageSize(pageSize);
  file_.CreateNewFile(fileName);
  try {
    password_ = password;
    std::memcpy(header_.Signature, kEdbSignature, kEdbSignatureSize);
    header_.HeaderLength = kEdbFileHeaderSize;
    header_.Version = kEdbCurrentVersion;
    header_.PageSize = pageSize;
    header_.PagesPerExtent = pagesPerExtent;
    header_.TotalPageCount = 0;
    header_.LastAllocatedPage = -1;
    header_.ChangeCounter = 0;
    header_.State = kEdbStateConsistent;
    header_.Encrypted = password.Text.empty() ? 0 : kEdbEncryptedMark;
    checkBlock_ = TEdbCheckBlock();
    if (header_.Encrypted) {
      checkBlock_.CipherId = password.CipherId;
      std::uniform_int_distribution<int> byte(0, 254);
      for (uint8_t& b : checkBlock_.CheckData) b = uint8_t(byte(Rng()));
      checkBlock_.Crc = EdbCrc32(checkBlock_.CheckData, checkblk::kCheckDataSize);
      cipher_ = std::make_unique<TEdbCipher>(password.Text, password.CipherId);
      cipher_->Encrypt(checkBlock_.CheckData, checkblk::kCheckDataSize);
    }
    base_ = 0;
    checkBlockOffset_ = kEdbFileHeaderSize;
    lockAreaOffset_ = checkBlockOffset_ + kEdbCheckBlockSize;
    lockAreaLength_ = int16_t(kEdbLockAreaSize);
    objectIdOffset_ = lockAreaOffset_ + kEdbLockAreaSize;
    pageAreaOffset_ = objectIdOffset_ + kEdbObjectIdCounterSize;

    // Header, check block, lock area and object-ID counter (0).
    uint8_t block[kEdbFileHeaderSize + kEdbCheckBlockSize + kEdbLockAreaSize +
                  kEdbObjectIdCounterSize] = {};
    header_.Serialize(block);
    checkBlock_.Serialize(block + kEdbFileHeaderSize);
    PutI16(block + kEdbFileHeaderSize + kEdbCheckBlockSize + lockarea::kLength,
           int16_t(kEdbLockAreaSize));
    file_.WriteBuffer(block, 0, sizeof block, errc::kWriteHeader);
    readOnly_ = false;
    exclusive_ = true;
    multiUser_ = false;
    CreateFreeSpaceMap();
  } catch (...) {
    CloseAfterFailure();
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
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  TEdbFileHeader h;
  h.Parse(raw);
  // Another writer may have changed the header; values this manager relies on must still hold.
  if (std::memcmp(h.Signature, kEdbSignature, kEdbSignatureSize) != 0 || h.PageSize != pageSize_ ||
      h.PagesPerExtent != header_.PagesPerExtent || !HeaderNumbersValid(h))
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  header_ = h;
}

void TEdbDiskPageManager::ReadHeader() {
  if (!file_.IsOpened()) EdbRaise(errc::kDatabaseNotOpened, "Error - database file is not opened.");
  ReadHeaderAt(errc::kReadHeader);
}

void TEdbDiskPageManager::WriteHeader() {
  if (!file_.IsOpened()) EdbRaise(errc::kWriteHeader, "Error - database file is not opened.");
  uint8_t raw[kEdbFileHeaderSize];
  header_.Serialize(raw);
  file_.WriteBuffer(raw, base_, sizeof raw, errc::kWriteHeader);
}

void TEdbDiskPageManager::LockHeader(int errorCode) {
  if (headerLockCount_ > 0) {
    ++headerLockCount_;
    return;
  }
  for (int attempt = 0; attempt < std::max(1, lockAttempts_); ++attempt) {
    if (file_.LockBytes(lockAreaOffset_ + lockarea::kHeaderLockByte, 1)) {
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
  if (--headerLockCount_ == 0 && file_.IsOpened())
    file_.UnlockBytes(lockAreaOffset_ + lockarea::kHeaderLockByte, 1);
}

bool TEdbDiskPageManager::TryLockTables() {
  return file_.LockBytes(lockAreaOffset_ + lockarea::kTablesLockByte, 1);
}
bool TEdbDiskPageManager::UnlockTables() {
  return file_.UnlockBytes(lockAreaOffset_ + lockarea::kTablesLockByte, 1);
}

int32_t TEdbDiskPageManager::GetTotalPageCount() {
  if (headerLockCount_ == 0) {
    if (!file_.LockBytes(lockAreaOffset_ + lockarea::kHeaderLockByte, 1))
      EdbRaise(errc::kLockedOnPageCount, "Database is locked");
    headerLockCount_ = 1;
  } else {
    ++headerLockCount_;
  }
  try {
    ReadHeaderAt(errc::kReadHeader);
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
  if (!locked) EdbRaise(errc::kObjectIdLocked, "Cannot get NextObjectID. File area is Locked.");
  int32_t id = 0;
  try {
    uint8_t b[kEdbObjectIdCounterSize] = {};
    file_.ReadBuffer(b, objectIdOffset_, sizeof b, errc::kReadObjectIdCounter);
    const uint32_t stored = GetU32(b);
    if (readOnly_) {
      id = int32_t(stored + 1u + uint32_t(std::uniform_int_distribution<int>(0, 9999)(Rng())));
    } else {
      id = int32_t(stored + 1u);
      PutI32(b, id);
      file_.WriteBuffer(b, objectIdOffset_, sizeof b, errc::kReadObjectIdCounter);
    }
  } catch (...) {
    file_.UnlockBytes(objectIdOffset_, 1);
    throw;
  }
  file_.UnlockBytes(objectIdOffset_, 1);
  return id;
}

void TEdbDiskPageManager::Trim() {
  LockHeader(errc::kLockedOnRelease);
  try {
    ReadHeaderAt(errc::kReadHeader);
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

}  // namespace edb
