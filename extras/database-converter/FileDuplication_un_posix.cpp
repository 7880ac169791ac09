// File duplication on POSIX systems: exclusive mode-0600 temporary files, chunked copy. The
// chunks go through copy_file_range, which copies inside the kernel (and shares the blocks on
// file systems that can); where the kernel or the file systems refuse it, read and write.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include "BaseText.h"
#include "DbConversionInfo_un.h"
#include "FileDuplication_un.h"

namespace mrv {

namespace {

constexpr size_t ChunkSize = 1 << 20;  // 1 MiB per copy step
constexpr size_t MaxPath = 260;        // longest temporary path handed out

[[noreturn]] void RaiseErrno(int code) {
  throw EOSError(code, TFileDuplication::SystemErrorText(code));
}

std::string CurrentFolder() {
  std::error_code ec;
  std::string folder = std::filesystem::current_path(ec).string();
  if (ec || folder.empty()) folder = ".";
  if (folder.back() != '/') folder += '/';
  return folder;
}

// Closes a descriptor on scope exit.
struct TFd {
  int fd = -1;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The errors with which copy_file_range says it cannot copy between these two files at all
// (an old kernel, different file systems, a file system without support).
bool IsCopyRangeRefusal(int code) {
  return code == ENOSYS || code == EXDEV || code == EINVAL || code == EOPNOTSUPP ||
         code == ENOTSUP || code == EBADF;
}

// Creates "<folder><prefix><hex>.tmp" exclusively; returns the descriptor or -1 (errno set).
int CreateUnique(const std::string& folder, const std::string& prefix, std::string& path) {
  static std::atomic<unsigned> counter{static_cast<unsigned>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^ (::getpid() << 4))};
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    const unsigned number = (counter.fetch_add(1) & 0xFFFFu);
    if (number == 0) continue;  // 0 would ask for a caller-chosen number elsewhere
    path = folder + prefix + base::Format("%04X", number) + ".tmp";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) break;
  }
  path.clear();
  return -1;
}

}  // namespace

std::string TFileDuplication::SystemErrorText(int code) {
  return std::generic_category().message(code);
}

std::string TFileDuplication::GetTempFolder() {
  const char* env = std::getenv("TMPDIR");
  std::string folder = (env && *env) ? env : "/tmp";
  if (folder.back() != '/') folder += '/';
  if (folder.size() + 1 + 12 > MaxPath) return CurrentFolder();
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) return CurrentFolder();
  }
  return folder;
}

std::int64_t TFileDuplication::GetFileSize(const std::string& path, std::string& errorText) {
  errorText.clear();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) RaiseErrno(errno);
  if (S_ISDIR(st.st_mode)) {
    errorText = base::Format("File '%s' is a directory.", path.c_str());
    return -1;
  }
  return static_cast<std::int64_t>(st.st_size);
}

std::int64_t TFileDuplication::GetFreeBytes(const std::string& folder) {
  struct statvfs sv {};
  if (::statvfs(folder.c_str(), &sv) != 0) return -1;
  const unsigned long long blocks = sv.f_bavail;
  const unsigned long long size = sv.f_frsize ? sv.f_frsize : sv.f_bsize;
  const auto max = static_cast<unsigned long long>(std::numeric_limits<std::int64_t>::max());
  if (size != 0 && blocks > max / size) return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(blocks * size);
}

bool TFileDuplication::RemoveFile(const std::string& path, std::string& errorText) {
  errorText.clear();
  if (::unlink(path.c_str()) == 0) return true;
  errorText = SystemErrorText(errno);
  return false;
}

bool TFileDuplication::Duplicate(const std::string& source, const std::string& prefix,
                                 std::string& tempPath) {
  tempPath.clear();
  if (prefix.size() != 3) throw EFileDuplication("Prefix must be 3 characters long.");

  TFd target;
  std::string path;
  target.fd = CreateUnique(GetTempFolder(), prefix, path);
  if (target.fd < 0) target.fd = CreateUnique(CurrentFolder(), prefix, path);
  if (target.fd < 0) RaiseErrno(errno);
  tempPath = path;

  // Whatever ends the copy other than success takes the new file with it.
  auto discard = [&] {
    ::close(target.fd);
    target.fd = -1;
    ::unlink(path.c_str());
    tempPath.clear();
  };

  TFd input;
  input.fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (input.fd < 0 || ::fstat(input.fd, &st) != 0) {
    const int code = errno;
    discard();
    RaiseErrno(code);
  }
  if (S_ISDIR(st.st_mode)) {
    discard();
    RaiseErrno(EISDIR);
  }
  const auto total = static_cast<std::int64_t>(st.st_size);
  std::vector<char> buffer;  // only for the read/write fallback
  bool inKernel = true;
  std::int64_t done = 0;
  for (;;) {
    if (Cancelled()) {
      discard();
      return false;
    }
    ssize_t n;
    if (inKernel) {
      n = ::copy_file_range(input.fd, nullptr, target.fd, nullptr, ChunkSize, 0);
      if (n < 0 && IsCopyRangeRefusal(errno)) {
        // Nothing moved in this call; both offsets are where the fallback continues.
        inKernel = false;
        continue;
      }
      if (n == 0) {
        // The end, or a file system that reports nothing copied instead of refusing (pseudo
        // files whose size says 0 among them): read decides where the file ends.
        inKernel = false;
        continue;
      }
    } else {
      if (buffer.empty()) buffer.resize(ChunkSize);
      n = ::read(input.fd, buffer.data(), buffer.size());
      if (n > 0 && !WriteAll(target.fd, buffer.data(), static_cast<size_t>(n))) n = -1;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int code = errno;
      discard();
      RaiseErrno(code);
    }
    if (n == 0) break;
    done += n;
    try {
      Progress(done, total);
    } catch (...) {
      discard();
      throw;
    }
  }
  if (::close(target.fd) != 0) {
    const int code = errno;
    target.fd = -1;
    ::unlink(path.c_str());
    tempPath.clear();
    RaiseErrno(code);
  }
  target.fd = -1;
  return true;
}

}  // namespace mrv
