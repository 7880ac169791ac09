// The database file object: modes, messages, 64-bit positioned I/O with the reopen-on-failure
// rule, byte-range locks with the no-locking-medium rule, the counted handle and the signature
// search. The platform work is done by an IEdbFileStore.

#include "EdbDatabaseFile.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "EdbEndian.h"
#include "EdbException.h"

namespace edb {

namespace {
long long LL(int64_t v) { return static_cast<long long>(v); }
constexpr int kReopenAttempts = 3;
}  // namespace

TEdbDatabaseFile::TEdbDatabaseFile(std::unique_ptr<IEdbFileStore> store)
    : store_(store ? std::move(store) : EdbCreatePlatformFileStore()) {}

TEdbDatabaseFile::~TEdbDatabaseFile() {
  if (opened_) {
    int err = 0;
    store_->Close(err);
  }
}

std::string TEdbDatabaseFile::SysText(int err) const { return store_->ErrorText(err); }

void TEdbDatabaseFile::CheckOpened(const char* operation) const {
  if (!opened_)
    EdbRaise(errc::kFileClosed, "Cannot perform this operation (%s) on a closed file", operation);
}

void TEdbDatabaseFile::OpenFile(const std::string& fileName, int accessMode, int shareMode) {
  if (opened_)
    EdbRaise(errc::kFileAlreadyOpened, "Cannot perform this operation (%s) on a opened file",
             "OpenFile");
  if (accessMode != amRead && accessMode != amReadWrite)
    EdbRaise(errc::kUnknownAccessMode, "Unknown Access mode: '%d'", accessMode);
  if (shareMode < smExclusive || shareMode > smShareRead)
    EdbRaise(errc::kUnknownShareMode, "Unknown Share mode: '%d'", shareMode);
  int err = 0;
  if (!store_->Open(fileName, accessMode, shareMode, err))
    EdbRaise(errc::kCannotOpenFile, "Cannot open file:'%s' Error code: %d. ErrorMessage: %s",
             fileName.c_str(), err, SysText(err).c_str());
  fileName_ = fileName;
  accessMode_ = accessMode;
  shareMode_ = shareMode;
  opened_ = true;
  position_ = 0;
  noLocking_ = false;
}

void TEdbDatabaseFile::CreateNewFile(const std::string& fileName) {
  if (opened_)
    EdbRaise(errc::kFileAlreadyOpened, "Cannot perform this operation (%s) on a opened file",
             "CreateFile");
  if (fileName.empty()) EdbRaise(errc::kBlankFileName, "Cannot create file with blank FileName");
  int err = 0;
  if (store_->FileExists(fileName)) {
    store_->MakeWritable(fileName);
    store_->RemoveFile(fileName, err);  // a failure shows in the create below
  }
  if (!store_->Create(fileName, err))
    EdbRaise(errc::kCannotCreateFile, "Cannot create file: '%s' Error code: %d. ErrorMessage: %s",
             fileName.c_str(), err, SysText(err).c_str());
  fileName_ = fileName;
  accessMode_ = amReadWrite;
  shareMode_ = smExclusive;
  opened_ = true;
  position_ = 0;
  noLocking_ = false;
}

void TEdbDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  int err = 0;
  bool ok = store_->Close(err);
  opened_ = false;
  handleCount_ = 0;
  if (!ok)
    EdbRaise(errc::kCannotCloseFile, "Cannot close file:'%s' Error code: %d. ErrorMessage: %s",
             fileName_.c_str(), err, SysText(err).c_str());
}

bool TEdbDatabaseFile::RecoverHandle() {
  noLocking_ = false;
  uint64_t size = 0;
  int err = 0;
  if (store_->IsOpen() && store_->GetSize(size, err)) return true;  // the handle is fine
  for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
    if (store_->IsOpen()) store_->Close(err);
    if (store_->Open(fileName_, accessMode_, shareMode_, err)) return true;
    if (attempt + 1 < kReopenAttempts && reopenDelayMs_ > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(reopenDelayMs_));
  }
  return store_->IsOpen();
}

void TEdbDatabaseFile::SetPosition(int64_t position, int errorCode) {
  CheckOpened("SetPosition");
  if (position < 0) {
    uint64_t size = 0;
    int err = 0;
    store_->GetSize(size, err);
    EdbRaise(
        errorCode,
        "Cannot Set File Position to %lld. FileName='%s'. FilePosition = %lld, FileSize = %lld",
        LL(position), fileName_.c_str(), LL(position_), LL(int64_t(size)));
  }
  position_ = position;
}

int64_t TEdbDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  return position_;
}

int64_t TEdbDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  uint64_t size = 0;
  int err = 0;
  if (store_->GetSize(size, err)) return int64_t(size);
  if (RecoverHandle() && store_->GetSize(size, err)) return int64_t(size);
  EdbRaise(errc::kCannotGetFileSize,
           "Cannot Get File Size for file: '%s'. ErrorCode:%d. ErrorMessage: %s", fileName_.c_str(),
           err, SysText(err).c_str());
}

void TEdbDatabaseFile::SetSize(int64_t size) {
  CheckOpened("SetSize");
  int err = 0;
  if (size >= 0) {
    if (store_->SetSize(uint64_t(size), err)) return;
    if (RecoverHandle() && store_->SetSize(uint64_t(size), err)) return;
  }
  EdbRaise(errc::kCannotTruncateFile,
           "Cannot Truncate File '%s' to %lld bytes. ErrorCode:%d. ErrorMessage: %s",
           fileName_.c_str(), LL(size), err, SysText(err).c_str());
}

void TEdbDatabaseFile::RaiseTransferFailure(int errorCode, const char* what, int64_t position,
                                            size_t count, int err) const {
  uint64_t size = 0;
  int sizeErr = 0;
  store_->GetSize(size, sizeErr);
  EdbRaise(errorCode,
           "Cannot %s file: '%s' Position = %lld, Count = %lld, FilePosition = %lld, "
           "FileSize = %lld, ErrorCode:%d. ErrorMessage: %s",
           what, fileName_.c_str(), LL(position), LL(int64_t(count)), LL(position_),
           LL(int64_t(size)), err, SysText(err).c_str());
}

size_t TEdbDatabaseFile::ReadBuffer(void* buf, int64_t position, size_t count, int errorCode) {
  CheckOpened("ReadBuffer");
  SetPosition(position);
  size_t done = 0;
  int err = 0;
  bool ok = store_->Read(uint64_t(position), buf, count, done, err);
  if (!ok && RecoverHandle()) ok = store_->Read(uint64_t(position), buf, count, done, err);
  if (!ok) RaiseTransferFailure(errorCode, "Read from", position, count, err);
  position_ = position + int64_t(done);
  return done;
}

size_t TEdbDatabaseFile::WriteBuffer(const void* buf, int64_t position, size_t count,
                                     int errorCode) {
  CheckOpened("WriteBuffer");
  SetPosition(position);
  size_t done = 0;
  int err = 0;
  bool ok = store_->Write(uint64_t(position), buf, count, done, err) && done == count;
  if (!ok && RecoverHandle())
    ok = store_->Write(uint64_t(position), buf, count, done, err) && done == count;
  if (!ok) RaiseTransferFailure(errorCode, "Write to", position, count, err);
  position_ = position + int64_t(done);
  return done;
}

void TEdbDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  int err = 0;
  if (store_->Flush(err)) return;
  if (RecoverHandle() && store_->Flush(err)) return;
  EdbRaise(errc::kCannotFlushFile,
           "Cannot flush file buffers for file: '%s'. ErrorCode:%d. ErrorMessage: %s",
           fileName_.c_str(), err, SysText(err).c_str());
}

bool TEdbDatabaseFile::LockBytes(int64_t position, int64_t length) {
  CheckOpened("LockByte");
  if (position < 0 || length <= 0) return false;
  int err = 0;
  TEdbLockResult r = store_->Lock(uint64_t(position), uint64_t(length), err);
  if (r == TEdbLockResult::BadHandle && RecoverHandle())
    r = store_->Lock(uint64_t(position), uint64_t(length), err);
  switch (r) {
    case TEdbLockResult::Granted: return true;
    case TEdbLockResult::Unsupported: noLocking_ = true; return true;
    default: return noLocking_;
  }
}

bool TEdbDatabaseFile::UnlockBytes(int64_t position, int64_t length) {
  CheckOpened("UnlockByte");
  if (position < 0 || length <= 0) return false;
  int err = 0;
  TEdbLockResult r = store_->Unlock(uint64_t(position), uint64_t(length), err);
  if (r == TEdbLockResult::BadHandle && RecoverHandle())
    r = store_->Unlock(uint64_t(position), uint64_t(length), err);
  switch (r) {
    case TEdbLockResult::Granted: return true;
    case TEdbLockResult::Unsupported: noLocking_ = true; return true;
    default: return noLocking_;
  }
}

bool TEdbDatabaseFile::IsByteLocked(int64_t position) {
  CheckOpened("IsByteLocked");
  return IsRegionLocked(position, 1);
}

bool TEdbDatabaseFile::IsRegionLocked(int64_t position, int64_t length) {
  CheckOpened("IsRegionLocked");
  if (position < 0 || length <= 0) return false;
  int err = 0;
  TEdbLockResult r = store_->TestLock(uint64_t(position), uint64_t(length), err);
  if (r == TEdbLockResult::BadHandle && RecoverHandle())
    r = store_->TestLock(uint64_t(position), uint64_t(length), err);
  switch (r) {
    case TEdbLockResult::Granted: return false;
    case TEdbLockResult::Unsupported: noLocking_ = true; return false;
    default: return !noLocking_;
  }
}

TEdbLockResult IEdbFileStore::TestLock(uint64_t pos, uint64_t len, int& err) {
  TEdbLockResult r = Lock(pos, len, err);
  if (r == TEdbLockResult::Granted) {
    int e2 = 0;
    Unlock(pos, len, e2);
  }
  return r;
}

int64_t TEdbDatabaseFile::FindDatabaseStart() {
  CheckOpened("Seek");
  const int64_t saved = position_;
  const int64_t size = GetSize();
  auto matches = [](const uint8_t* p) {
    return std::memcmp(p, kEdbSignature, kEdbSignatureSize) == 0 &&
           GetI16(p + filehdr::kHeaderLength) == kEdbFileHeaderSize;
  };
  int64_t found = -1;
  uint8_t head[kEdbSignatureSize + kEdbFileHeaderSize];
  size_t got = ReadBuffer(head, 0, sizeof head, errc::kReadHeader);
  if (got >= kEdbSignatureOverlap && matches(head)) found = 0;
  if (found < 0) {
    std::vector<uint8_t> window(kEdbSignatureWindow);
    // Consecutive windows overlap by the signature plus its length word, so that a signature and
    // word straddling a window end lie wholly inside the next window.
    const int64_t step = int64_t(kEdbSignatureWindow - kEdbSignatureOverlap);
    for (int64_t start = 0; start < size && found < 0; start += step) {
      size_t n = ReadBuffer(window.data(), start, window.size(), errc::kReadHeader);
      if (n < kEdbSignatureOverlap) break;
      for (size_t i = 0; i + kEdbSignatureOverlap <= n; ++i) {
        if (window[i] == kEdbSignature[0] && matches(window.data() + i)) {
          found = start + int64_t(i);
          break;
        }
      }
      if (start + int64_t(n) >= size) break;
    }
  }
  position_ = saved;
  return found < 0 ? 0 : found;
}

void TEdbDatabaseFile::AcquireHandle() {
  if (!opened_) {
    OpenFile(fileName_, accessMode_, shareMode_);
    handleCount_ = 0;
  }
  ++handleCount_;
}

void TEdbDatabaseFile::ReleaseHandle() {
  if (handleCount_ <= 0) return;
  if (--handleCount_ == 0 && opened_) CloseFile();
}

}  // namespace edb
