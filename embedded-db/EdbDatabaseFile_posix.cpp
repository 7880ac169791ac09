// POSIX file store: open/pread/pwrite/ftruncate/fsync, open-file-description byte locks through
// fcntl (per-process record locks where those are missing) and flock for the share modes.

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <optional>

#include "EdbDatabaseFile.h"

namespace edb {
namespace {

class TPosixFileStore : public IEdbFileStore {
 public:
  ~TPosixFileStore() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool FileExists(const std::string& name) override {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  bool IsReadOnlyFile(const std::string& name) override {
    struct stat st;
    if (::stat(name.c_str(), &st) != 0) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;  // the read-only attribute
    return ::access(name.c_str(), W_OK) != 0;
  }
  void MakeWritable(const std::string& name) override {
    struct stat st;
    if (::stat(name.c_str(), &st) == 0) ::chmod(name.c_str(), st.st_mode | S_IWUSR);
  }
  bool RemoveFile(const std::string& name, int& err) override {
    if (::unlink(name.c_str()) == 0) return true;
    err = errno;
    return false;
  }

  bool Open(const std::string& name, int access, int share, int& err) override {
    if (fd_ >= 0) {
      err = EBUSY;
      return false;
    }
    int flags = (access == amReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    int fd = ::open(name.c_str(), flags);
    if (fd < 0) {
      err = errno;
      return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      err = (::fstat(fd, &st) != 0) ? errno : EISDIR;
      ::close(fd);
      return false;
    }
    // Share modes: exclusive opens take an exclusive whole-file flock, shared opens a shared one.
    // A medium without flock support is not a reason to refuse the open.
    int how = (share == smExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
    if (::flock(fd, how) != 0 && errno == EWOULDBLOCK) {
      err = EBUSY;
      ::close(fd);
      return false;
    }
    fd_ = fd;
    writable_ = access == amReadWrite;
    held_.clear();
    return true;
  }
  bool Create(const std::string& name, int& err) override {
    if (fd_ >= 0) {
      err = EBUSY;
      return false;
    }
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
      err = errno;
      return false;
    }
    ::flock(fd, LOCK_EX | LOCK_NB);
    fd_ = fd;
    writable_ = true;
    held_.clear();
    return true;
  }
  bool Close(int& err) override {
    if (fd_ < 0) {
      err = EBADF;
      return false;
    }
    int rc = ::close(fd_);
    fd_ = -1;
    held_.clear();
    if (rc != 0) {
      err = errno;
      return false;
    }
    return true;
  }
  bool IsOpen() const override { return fd_ >= 0; }

  bool Read(uint64_t pos, void* buf, size_t count, size_t& done, int& err) override {
    done = 0;
    auto* p = static_cast<uint8_t*>(buf);
    while (done < count) {
      ssize_t n = ::pread(fd_, p + done, count - done, off_t(pos + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        return false;
      }
      if (n == 0) break;  // end of file: a short read
      done += size_t(n);
    }
    return true;
  }
  bool Write(uint64_t pos, const void* buf, size_t count, size_t& done, int& err) override {
    done = 0;
    auto* p = static_cast<const uint8_t*>(buf);
    while (done < count) {
      ssize_t n = ::pwrite(fd_, p + done, count - done, off_t(pos + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        err = errno;
        return false;
      }
      if (n == 0) {
        err = ENOSPC;
        return false;
      }
      done += size_t(n);
    }
    return true;
  }
  bool GetSize(uint64_t& size, int& err) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) {
      err = errno;
      return false;
    }
    size = uint64_t(st.st_size);
    return true;
  }
  bool SetSize(uint64_t size, int& err) override {
    if (::ftruncate(fd_, off_t(size)) != 0) {
      err = errno;
      return false;
    }
    return true;
  }
  bool Flush(int& err) override {
    if (!writable_) return true;
    if (::fsync(fd_) != 0) {
      err = errno;
      return false;
    }
    return true;
  }

  // Why a lock (or a test for one) on the range cannot even be tried: a closed store, or a range
  // this store already holds.
  std::optional<TEdbLockResult> Refused(uint64_t pos, uint64_t len, int& err) const {
    if (fd_ < 0) {
      err = EBADF;
      return TEdbLockResult::BadHandle;
    }
    if (OverlapsHeld(pos, len)) {
      err = EAGAIN;
      return TEdbLockResult::Conflict;
    }
    return std::nullopt;
  }

  // Byte-range locks behave like the Windows ones the format was made for: exclusive, and a
  // second lock on a range this store already holds conflicts (fcntl alone would grant it).
  TEdbLockResult Lock(uint64_t pos, uint64_t len, int& err) override {
    if (const auto refused = Refused(pos, len, err)) return *refused;
    TEdbLockResult r = Fcntl(true, writable_ ? F_WRLCK : F_RDLCK, pos, len, err);
    if (r == TEdbLockResult::Granted) held_[pos] = len;
    return r;
  }
  TEdbLockResult Unlock(uint64_t pos, uint64_t len, int& err) override {
    if (fd_ < 0) {
      err = EBADF;
      return TEdbLockResult::BadHandle;
    }
    auto it = held_.find(pos);
    if (it == held_.end() || it->second != len) {
      err = ENOLCK;
      return TEdbLockResult::Conflict;
    }
    TEdbLockResult r = Fcntl(true, F_UNLCK, pos, len, err);
    if (r == TEdbLockResult::Granted || r == TEdbLockResult::Unsupported) held_.erase(it);
    return r;
  }
  TEdbLockResult TestLock(uint64_t pos, uint64_t len, int& err) override {
    if (const auto refused = Refused(pos, len, err)) return *refused;
    return Fcntl(false, F_WRLCK, pos, len, err);
  }

  std::string ErrorText(int err) const override { return std::strerror(err); }

 private:
  bool OverlapsHeld(uint64_t pos, uint64_t len) const {
    auto it = held_.upper_bound(pos);
    if (it != held_.begin()) {
      auto prev = std::prev(it);
      if (prev->first + prev->second > pos) return true;
    }
    return it != held_.end() && it->first < pos + len;
  }

  static TEdbLockResult Classify(int e) {
    switch (e) {
      case EACCES:
      case EAGAIN: return TEdbLockResult::Conflict;
      case EBADF: return TEdbLockResult::BadHandle;
      case ENOLCK:
      case EINVAL:
      case ENOSYS:
      case EOPNOTSUPP:
#if defined(ENOTSUP) && ENOTSUP != EOPNOTSUPP
      case ENOTSUP:
#endif
        return TEdbLockResult::Unsupported;
      default: return TEdbLockResult::Conflict;
    }
  }

  // set = F_SETLK-style request, else a test (F_GETLK-style).
  TEdbLockResult Fcntl(bool set, short type, uint64_t pos, uint64_t len, int& err) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(pos);
    fl.l_len = off_t(len);
#if defined(F_OFD_SETLK)
    if (ofd_) {
      if (::fcntl(fd_, set ? F_OFD_SETLK : F_OFD_GETLK, &fl) == 0)
        return (!set && fl.l_type != F_UNLCK) ? TEdbLockResult::Conflict : TEdbLockResult::Granted;
      if (errno != EINVAL) {
        err = errno;
        return Classify(errno);
      }
      ofd_ = false;  // the kernel lacks open-file-description locks: fall back
      std::memset(&fl, 0, sizeof fl);
      fl.l_type = type;
      fl.l_whence = SEEK_SET;
      fl.l_start = off_t(pos);
      fl.l_len = off_t(len);
    }
#endif
    if (::fcntl(fd_, set ? F_SETLK : F_GETLK, &fl) == 0)
      return (!set && fl.l_type != F_UNLCK) ? TEdbLockResult::Conflict : TEdbLockResult::Granted;
    err = errno;
    return Classify(errno);
  }

  int fd_ = -1;
  bool writable_ = false;
  bool ofd_ = true;
  std::map<uint64_t, uint64_t> held_;
};

}  // namespace

std::unique_ptr<IEdbFileStore> EdbCreatePlatformFileStore() {
  return std::make_unique<TPosixFileStore>();
}

}  // namespace edb
