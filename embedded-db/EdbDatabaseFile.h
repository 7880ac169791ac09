#pragma once
// The database file object: one operating-system file (or an in-memory buffer) through which
// every byte of a database is read and written, with 64-bit offsets, byte-range locks, the
// reopen-on-failure rule and the signature search that finds where a database starts.
//
// The object sits on a small platform interface (IEdbFileStore). The POSIX half implements it
// with open/pread/pwrite/fcntl, the Windows half with CreateFileW/ReadFile/WriteFile/LockFileEx;
// TEdbMemoryFileStore keeps the bytes in memory for tests and fuzzers.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "EdbErrorCodes.h"
#include "EdbFileFormat.h"

namespace edb {

// Access modes and share modes of TEdbDatabaseFile.
enum TEdbAccessMode : int { amRead = 0, amReadWrite = 1 };
enum TEdbShareMode : int { smExclusive = 0, smShareReadWrite = 1, smShareRead = 2 };

// Share value used only by the read-only probe: others may write but not read.
constexpr int kEdbShareWriteOnly = 3;

// Result of a byte-range lock request at the platform level.
enum class TEdbLockResult {
  Granted,
  Conflict,     // another holder has the range
  Unsupported,  // the medium does not support locking (treated as granted by the file object)
  BadHandle,    // the handle is no longer usable
};

// Platform file interface. `err` receives the system error code of a failure; `ErrorText`
// turns it into the system's message text.
class IEdbFileStore {
 public:
  virtual ~IEdbFileStore() = default;

  virtual bool FileExists(const std::string& name) = 0;
  virtual bool IsReadOnlyFile(const std::string& name) = 0;
  // Resets a read-only attribute (so that the file can be deleted or written).
  virtual void MakeWritable(const std::string& name) = 0;
  virtual bool RemoveFile(const std::string& name, int& err) = 0;

  // `access` is a TEdbAccessMode; `share` a TEdbShareMode or kEdbShareWriteOnly.
  virtual bool Open(const std::string& name, int access, int share, int& err) = 0;
  // Creates (truncating) with read-write access and no sharing.
  virtual bool Create(const std::string& name, int& err) = 0;
  virtual bool Close(int& err) = 0;
  virtual bool IsOpen() const = 0;

  // Reads/writes at an absolute position; `done` gets the bytes moved. A short read at the end
  // of the file is a success with done < count.
  virtual bool Read(uint64_t pos, void* buf, size_t count, size_t& done, int& err) = 0;
  virtual bool Write(uint64_t pos, const void* buf, size_t count, size_t& done, int& err) = 0;
  virtual bool GetSize(uint64_t& size, int& err) = 0;
  virtual bool SetSize(uint64_t size, int& err) = 0;
  virtual bool Flush(int& err) = 0;

  virtual TEdbLockResult Lock(uint64_t pos, uint64_t len, int& err) = 0;
  virtual TEdbLockResult Unlock(uint64_t pos, uint64_t len, int& err) = 0;
  // Whether the range could be locked now (Granted) without keeping a lock. The default locks
  // and unlocks at once; stores whose locks don't conflict with their own holder override it.
  virtual TEdbLockResult TestLock(uint64_t pos, uint64_t len, int& err);

  virtual std::string ErrorText(int err) const = 0;
};

// The operating system's file store (POSIX or Windows half).
std::unique_ptr<IEdbFileStore> EdbCreatePlatformFileStore();

// A file kept in memory. The bytes are shared so that a test can inspect or hand them over after
// the database is closed. File names are ignored: the store holds exactly one file, which
// "exists" once it has been created or was given initial bytes. Byte locks are exclusive per
// store (a second lock on a held byte conflicts), like Windows byte-range locks.
class TEdbMemoryFileStore : public IEdbFileStore {
 public:
  TEdbMemoryFileStore();
  explicit TEdbMemoryFileStore(std::vector<uint8_t> initialBytes);
  explicit TEdbMemoryFileStore(std::shared_ptr<std::vector<uint8_t>> bytes);

  std::shared_ptr<std::vector<uint8_t>> Bytes() const { return bytes_; }
  void SetReadOnly(bool readOnly) { readOnly_ = readOnly; }
  // Makes every later operation fail (for testing the reopen rule and failed reads).
  void SetFailing(bool failing) { failing_ = failing; }

  bool FileExists(const std::string& name) override;
  bool IsReadOnlyFile(const std::string& name) override;
  void MakeWritable(const std::string& name) override;
  bool RemoveFile(const std::string& name, int& err) override;
  bool Open(const std::string& name, int access, int share, int& err) override;
  bool Create(const std::string& name, int& err) override;
  bool Close(int& err) override;
  bool IsOpen() const override { return open_; }
  bool Read(uint64_t pos, void* buf, size_t count, size_t& done, int& err) override;
  bool Write(uint64_t pos, const void* buf, size_t count, size_t& done, int& err) override;
  bool GetSize(uint64_t& size, int& err) override;
  bool SetSize(uint64_t size, int& err) override;
  bool Flush(int& err) override;
  TEdbLockResult Lock(uint64_t pos, uint64_t len, int& err) override;
  TEdbLockResult Unlock(uint64_t pos, uint64_t len, int& err) override;
  TEdbLockResult TestLock(uint64_t pos, uint64_t len, int& err) override;
  std::string ErrorText(int err) const override;

 private:
  bool Overlaps(uint64_t pos, uint64_t len) const;
  // Whether the store can serve a call (`writing` one that changes it); when not, `err` is the
  // system error it answers with.
  bool Ready(int& err, bool writing) const;
  // Why a lock (or a test for one) on the range cannot even be tried.
  std::optional<TEdbLockResult> Refused(uint64_t pos, uint64_t len, int& err) const;
  std::shared_ptr<std::vector<uint8_t>> bytes_;
  bool exists_ = false;
  bool open_ = false;
  bool writable_ = false;
  bool readOnly_ = false;
  bool failing_ = false;
  std::map<uint64_t, uint64_t> locks_;  // start -> length
};

// The file object of one database.
class TEdbDatabaseFile {
 public:
  // `store` null: the platform's file store.
  explicit TEdbDatabaseFile(std::unique_ptr<IEdbFileStore> store = nullptr);
  ~TEdbDatabaseFile();
  TEdbDatabaseFile(const TEdbDatabaseFile&) = delete;
  TEdbDatabaseFile& operator=(const TEdbDatabaseFile&) = delete;

  IEdbFileStore& Store() { return *store_; }

  // Opens an existing file. Raises 30366/30367 for unknown modes, 30377 when already open,
  // 30364 when the system refuses.
  void OpenFile(const std::string& fileName, int accessMode = amReadWrite,
                int shareMode = smExclusive);
  // Deletes an existing file of that name (resetting its read-only attribute first), then
  // creates it read-write and unshared. 30374 blank name, 30377 when open, 30361 on failure.
  void CreateNewFile(const std::string& fileName);
  void CloseFile();
  bool IsOpened() const { return opened_; }

  const std::string& FileName() const { return fileName_; }
  int AccessMode() const { return accessMode_; }
  int ShareMode() const { return shareMode_; }

  void SetPosition(int64_t position, int errorCode = errc::kCannotSetFilePosition);
  int64_t GetPosition();
  int64_t GetSize();
  void SetSize(int64_t size);
  // Reads `count` bytes at `position` (moving the position behind them). Returns the bytes read;
  // a short read at the end of the file is not a failure. A system failure raises "Cannot Read
  // from file..." with `errorCode`.
  size_t ReadBuffer(void* buf, int64_t position, size_t count, int errorCode);
  size_t WriteBuffer(const void* buf, int64_t position, size_t count, int errorCode);
  void FlushFileBuffers();

  // Byte-range locks. True when granted (or when the medium does not support locking).
  bool LockBytes(int64_t position, int64_t length);
  bool UnlockBytes(int64_t position, int64_t length);
  bool IsByteLocked(int64_t position);
  bool IsRegionLocked(int64_t position, int64_t length);
  bool MediumWithoutLocking() const { return noLocking_; }

  // Where the database starts in the file (0 when no signature is found). Restores the position.
  int64_t FindDatabaseStart();

  // Counted handle: the first acquire of a closed file reopens it with the stored name and
  // modes, the last release closes it.
  void AcquireHandle();
  void ReleaseHandle();
  int HandleCount() const { return handleCount_; }

  // Sleep between reopen attempts (1000 ms; tests shorten it).
  void SetReopenDelayMs(int ms) { reopenDelayMs_ = ms; }

 private:
  void CheckOpened(const char* operation) const;
  // The reopen-on-failure rule: true when the failed operation may be repeated once.
  bool RecoverHandle();
  std::string SysText(int err) const;
  // Raises `errorCode` for a failed read or write ("Read from" / "Write to") of `count` bytes at
  // `position`, naming the file, its size and the system's error.
  [[noreturn]] void RaiseTransferFailure(int errorCode, const char* what, int64_t position,
                                         size_t count, int err) const;

  std::unique_ptr<IEdbFileStore> store_;
  std::string fileName_;
  int accessMode_ = amReadWrite;
  int shareMode_ = smExclusive;
  bool opened_ = false;
  int handleCount_ = 0;
  bool noLocking_ = false;
  int64_t position_ = 0;
  int reopenDelayMs_ = 1000;
};

}  // namespace edb
