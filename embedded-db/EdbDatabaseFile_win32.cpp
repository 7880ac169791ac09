// Windows file store: CreateFileW with the access and share modes, positioned ReadFile/WriteFile,
// SetEndOfFile, FlushFileBuffers and LockFileEx byte-range locks.

#include <windows.h>

#include <algorithm>
#include <map>
#include <string>

#include "BaseWide_win32.h"
#include "EdbDatabaseFile.h"

namespace edb {
namespace {

// System errors after which a medium is taken not to support locking.
bool MeansNoLocking(DWORD e) {
  switch (e) {
    case 5:
    case 6:
    case 29:
    case 30:
    case 31:
    case 53:
    case 57:
    case 59:
    case 64:
    case 65:
    case 67: return true;
    default: return false;
  }
}

OVERLAPPED At(uint64_t pos) {
  OVERLAPPED ov{};
  ov.Offset = DWORD(pos & 0xFFFFFFFFu);
  ov.OffsetHigh = DWORD(pos >> 32);
  return ov;
}

class TWin32FileStore : public IEdbFileStore {
 public:
  ~TWin32FileStore() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  bool FileExists(const std::string& name) override {
    DWORD a = GetFileAttributesW(base::Widen(name).c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
  }
  bool IsReadOnlyFile(const std::string& name) override {
    DWORD a = GetFileAttributesW(base::Widen(name).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
  }
  void MakeWritable(const std::string& name) override {
    SetFileAttributesW(base::Widen(name).c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  bool RemoveFile(const std::string& name, int& err) override {
    if (DeleteFileW(base::Widen(name).c_str())) return true;
    err = int(GetLastError());
    return false;
  }

  bool Open(const std::string& name, int access, int share, int& err) override {
    if (h_ != INVALID_HANDLE_VALUE) {
      err = ERROR_BUSY;
      return false;
    }
    DWORD acc = access == amReadWrite ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    DWORD sh = 0;
    if (share == smShareReadWrite)
      sh = FILE_SHARE_READ | FILE_SHARE_WRITE;
    else if (share == smShareRead)
      sh = FILE_SHARE_READ;
    else if (share == kEdbShareWriteOnly)
      sh = FILE_SHARE_WRITE;
    HANDLE h = CreateFileW(base::Widen(name).c_str(), acc, sh, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      err = int(GetLastError());
      return false;
    }
    h_ = h;
    return true;
  }
  bool Create(const std::string& name, int& err) override {
    if (h_ != INVALID_HANDLE_VALUE) {
      err = ERROR_BUSY;
      return false;
    }
    HANDLE h =
        CreateFileW(base::Widen(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      err = int(GetLastError());
      return false;
    }
    h_ = h;
    return true;
  }
  bool Close(int& err) override {
    if (h_ == INVALID_HANDLE_VALUE) {
      err = ERROR_INVALID_HANDLE;
      return false;
    }
    BOOL ok = CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    if (!ok) {
      err = int(GetLastError());
      return false;
    }
    return true;
  }
  bool IsOpen() const override { return h_ != INVALID_HANDLE_VALUE; }

  bool Read(uint64_t pos, void* buf, size_t count, size_t& done, int& err) override {
    done = 0;
    auto* p = static_cast<uint8_t*>(buf);
    while (done < count) {
      DWORD chunk = DWORD(std::min<size_t>(count - done, 1u << 30));
      DWORD got = 0;
      OVERLAPPED ov = At(pos + done);
      if (!ReadFile(h_, p + done, chunk, &got, &ov)) {
        DWORD e = GetLastError();
        if (e == ERROR_HANDLE_EOF) break;
        err = int(e);
        return false;
      }
      if (got == 0) break;
      done += got;
    }
    return true;
  }
  bool Write(uint64_t pos, const void* buf, size_t count, size_t& done, int& err) override {
    done = 0;
    auto* p = static_cast<const uint8_t*>(buf);
    while (done < count) {
      DWORD chunk = DWORD(std::min<size_t>(count - done, 1u << 30));
      DWORD put = 0;
      OVERLAPPED ov = At(pos + done);
      if (!WriteFile(h_, p + done, chunk, &put, &ov)) {
        err = int(GetLastError());
        return false;
      }
      if (put == 0) {
        err = ERROR_DISK_FULL;
        return false;
      }
      done += put;
    }
    return true;
  }
  bool GetSize(uint64_t& size, int& err) override {
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h_, &li)) {
      err = int(GetLastError());
      return false;
    }
    size = uint64_t(li.QuadPart);
    return true;
  }
  bool SetSize(uint64_t size, int& err) override {
    LARGE_INTEGER li;
    li.QuadPart = LONGLONG(size);
    if (!SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) || !SetEndOfFile(h_)) {
      err = int(GetLastError());
      return false;
    }
    return true;
  }
  bool Flush(int& err) override {
    if (!::FlushFileBuffers(h_)) {
      DWORD e = GetLastError();
      if (e == ERROR_ACCESS_DENIED) return true;  // a read-only handle has nothing to flush
      err = int(e);
      return false;
    }
    return true;
  }

  TEdbLockResult Lock(uint64_t pos, uint64_t len, int& err) override {
    OVERLAPPED ov = At(pos);
    if (LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                   DWORD(len & 0xFFFFFFFFu), DWORD(len >> 32), &ov))
      return TEdbLockResult::Granted;
    return Classify(err);
  }
  TEdbLockResult Unlock(uint64_t pos, uint64_t len, int& err) override {
    OVERLAPPED ov = At(pos);
    if (UnlockFileEx(h_, 0, DWORD(len & 0xFFFFFFFFu), DWORD(len >> 32), &ov))
      return TEdbLockResult::Granted;
    return Classify(err);
  }

  std::string ErrorText(int err) const override {
    wchar_t* msg = nullptr;
    DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(err), 0, reinterpret_cast<LPWSTR>(&msg), 0, nullptr);
    std::string s = n && msg ? base::Narrow(msg) : "Unknown error " + std::to_string(err);
    if (msg) LocalFree(msg);
    while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
    return s;
  }

 private:
  TEdbLockResult Classify(int& err) {
    DWORD e = GetLastError();
    err = int(e);
    if (MeansNoLocking(e)) return TEdbLockResult::Unsupported;
    return TEdbLockResult::Conflict;
  }

  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<IEdbFileStore> EdbCreatePlatformFileStore() {
  return std::make_unique<TWin32FileStore>();
}

}  // namespace edb
