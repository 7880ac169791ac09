// The in-memory file store: one file held in a shared byte vector, for tests and fuzzers.

#include <algorithm>
#include <cstring>

#include "EdbDatabaseFile.h"

namespace edb {
namespace {
// The system error numbers the disk file reports for the same failures.
constexpr int kErrNotFound = 2;
constexpr int kErrAccess = 5;
constexpr int kErrIo = 1117;
constexpr int kErrNotLocked = 158;
constexpr int kErrLockViolation = 33;
constexpr int kErrInvalidHandle = 6;
constexpr int kErrSharingViolation = 32;
constexpr int kErrDiskFull = 112;
// Largest size the store grows to (guards SetSize/Write against absurd sizes).
constexpr uint64_t kMaxMemoryFile = uint64_t(1) << 31;
}  // namespace

TEdbMemoryFileStore::TEdbMemoryFileStore() : bytes_(std::make_shared<std::vector<uint8_t>>()) {}

TEdbMemoryFileStore::TEdbMemoryFileStore(std::vector<uint8_t> initialBytes)
    : bytes_(std::make_shared<std::vector<uint8_t>>(std::move(initialBytes))), exists_(true) {}

TEdbMemoryFileStore::TEdbMemoryFileStore(std::shared_ptr<std::vector<uint8_t>> bytes)
    : bytes_(bytes ? std::move(bytes) : std::make_shared<std::vector<uint8_t>>()), exists_(true) {}

bool TEdbMemoryFileStore::FileExists(const std::string&) { return exists_; }
bool TEdbMemoryFileStore::IsReadOnlyFile(const std::string&) { return exists_ && readOnly_; }
void TEdbMemoryFileStore::MakeWritable(const std::string&) { readOnly_ = false; }

bool TEdbMemoryFileStore::RemoveFile(const std::string&, int& err) {
  if (!exists_ || open_) {
    err = exists_ ? kErrAccess : kErrNotFound;
    return false;
  }
  exists_ = false;
  bytes_->clear();
  return true;
}

bool TEdbMemoryFileStore::Open(const std::string&, int access, int, int& err) {
  if (failing_) {
    err = kErrIo;
    return false;
  }
  if (!exists_) {
    err = kErrNotFound;
    return false;
  }
  if (open_) {
    err = kErrSharingViolation;
    return false;
  }  // sharing violation
  if (access == amReadWrite && readOnly_) {
    err = kErrAccess;
    return false;
  }
  open_ = true;
  writable_ = access == amReadWrite;
  locks_.clear();
  return true;
}

bool TEdbMemoryFileStore::Create(const std::string&, int& err) {
  if (failing_ || open_) {
    err = failing_ ? kErrIo : kErrSharingViolation;
    return false;
  }
  bytes_->clear();
  exists_ = true;
  readOnly_ = false;
  open_ = true;
  writable_ = true;
  locks_.clear();
  return true;
}

bool TEdbMemoryFileStore::Close(int& err) {
  if (!open_) {
    err = kErrInvalidHandle;
    return false;
  }
  open_ = false;
  locks_.clear();
  return true;
}

bool TEdbMemoryFileStore::Ready(int& err, bool writing) const {
  if (!open_ || failing_) {
    err = open_ ? kErrIo : kErrInvalidHandle;
    return false;
  }
  if (writing && !writable_) {
    err = kErrAccess;
    return false;
  }
  return true;
}

bool TEdbMemoryFileStore::Read(uint64_t pos, void* buf, size_t count, size_t& done, int& err) {
  done = 0;
  if (!Ready(err, false)) return false;
  if (pos >= bytes_->size()) return true;
  done = size_t(std::min<uint64_t>(count, bytes_->size() - pos));
  if (done) std::memcpy(buf, bytes_->data() + pos, done);
  return true;
}

bool TEdbMemoryFileStore::Write(uint64_t pos, const void* buf, size_t count, size_t& done,
                                int& err) {
  done = 0;
  if (!Ready(err, true)) return false;
  if (pos + count > kMaxMemoryFile || pos + count < pos) {
    err = kErrDiskFull;
    return false;
  }
  if (bytes_->size() < pos + count) bytes_->resize(size_t(pos + count));
  if (count) std::memcpy(bytes_->data() + pos, buf, count);
  done = count;
  return true;
}

bool TEdbMemoryFileStore::GetSize(uint64_t& size, int& err) {
  if (!Ready(err, false)) return false;
  size = bytes_->size();
  return true;
}

bool TEdbMemoryFileStore::SetSize(uint64_t size, int& err) {
  if (!Ready(err, true)) return false;
  if (size > kMaxMemoryFile) {
    err = kErrDiskFull;
    return false;
  }
  bytes_->resize(size_t(size));
  return true;
}

bool TEdbMemoryFileStore::Flush(int& err) {
  if (!Ready(err, false)) return false;
  return true;
}

bool TEdbMemoryFileStore::Overlaps(uint64_t pos, uint64_t len) const {
  auto it = locks_.upper_bound(pos);
  if (it != locks_.begin()) {
    auto prev = std::prev(it);
    if (prev->first + prev->second > pos) return true;
  }
  return it != locks_.end() && it->first < pos + len;
}

std::optional<TEdbLockResult> TEdbMemoryFileStore::Refused(uint64_t pos, uint64_t len,
                                                           int& err) const {
  if (!open_ || failing_) {
    err = kErrInvalidHandle;
    return TEdbLockResult::BadHandle;
  }
  if (Overlaps(pos, len)) {
    err = kErrLockViolation;
    return TEdbLockResult::Conflict;
  }
  return std::nullopt;
}

TEdbLockResult TEdbMemoryFileStore::Lock(uint64_t pos, uint64_t len, int& err) {
  if (const auto refused = Refused(pos, len, err)) return *refused;
  locks_[pos] = len;
  return TEdbLockResult::Granted;
}

TEdbLockResult TEdbMemoryFileStore::Unlock(uint64_t pos, uint64_t len, int& err) {
  if (!open_ || failing_) {
    err = kErrInvalidHandle;
    return TEdbLockResult::BadHandle;
  }
  auto it = locks_.find(pos);
  if (it == locks_.end() || it->second != len) {
    err = kErrNotLocked;
    return TEdbLockResult::Conflict;
  }
  locks_.erase(it);
  return TEdbLockResult::Granted;
}

TEdbLockResult TEdbMemoryFileStore::TestLock(uint64_t pos, uint64_t len, int& err) {
  if (const auto refused = Refused(pos, len, err)) return *refused;
  return TEdbLockResult::Granted;
}

std::string TEdbMemoryFileStore::ErrorText(int err) const {
  switch (err) {
    case 0: return "The operation completed successfully.";
    case kErrNotFound: return "The system cannot find the file specified.";
    case kErrAccess: return "Access is denied.";
    case 6: return "The handle is invalid.";
    case 32:
      return "The process cannot access the file because it is being used by another process.";
    case kErrLockViolation:
      return "The process cannot access the file because another process has locked a portion of "
             "the file.";
    case 112: return "There is not enough space on the disk.";
    case kErrNotLocked: return "The segment is already unlocked.";
    default: return "I/O error " + std::to_string(err) + ".";
  }
}

}  // namespace edb
