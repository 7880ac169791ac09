#pragma once
// Temporary copies of database files: a unique file in the temporary folder, copied with
// progress reports and a cancel flag that another thread may set. Also the two queries the
// conversion uses to check free space before copying. Paths are UTF-8.

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace mrv {

// Errors of the file duplication itself.
class EFileDuplication : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failed system call: "System Error.  Code: %d.\r\n%s" with the code and the system's text.
class EOSError : public std::runtime_error {
 public:
  EOSError(int code, const std::string& systemText);
  int Code() const noexcept { return code_; }

 private:
  int code_;
};

class TFileDuplication {
 public:
  using TProgressEvent = std::function<void(std::int64_t done, std::int64_t total)>;

  // Called after each copied chunk with the bytes copied so far and the file's size.
  TProgressEvent OnProgress;

  // The folder for temporary copies, with a trailing path separator. The system's temporary
  // folder (created if missing), or the current directory when it cannot be used or when its
  // length plus the terminating zero plus 12 exceeds 260.
  static std::string GetTempFolder();
  // Size of a file in bytes. For a directory: -1 and errorText "File '%s' is a directory.".
  // errorText is emptied first. A missing path raises EOSError.
  static std::int64_t GetFileSize(const std::string& path, std::string& errorText);
  // Bytes available to the calling user in the folder, or -1 when the query fails.
  static std::int64_t GetFreeBytes(const std::string& folder);
  // Deletes a file; on failure returns false with the system's text for the error.
  static bool RemoveFile(const std::string& path, std::string& errorText);
  // The system's text for an error code of the platform.
  static std::string SystemErrorText(int code);

  // Copies `source` to a new, uniquely named file "<prefix><hex>.tmp" in GetTempFolder()
  // (or the current directory when no name can be made there). True when copied, with
  // tempPath the new file; false when cancelled. Raises EFileDuplication for a prefix that is
  // not 3 characters, EOSError for any other failure. When it does not return true, no file
  // is left behind and tempPath is empty.
  bool Duplicate(const std::string& source, const std::string& prefix, std::string& tempPath);

  // Aborts a running copy and every later one. Any thread.
  void Cancel() noexcept { cancelled_.store(1); }
  bool Cancelled() const noexcept { return cancelled_.load() != 0; }

 private:
  void Progress(std::int64_t done, std::int64_t total);

  // A 32-bit flag the system copy routine may watch while it copies.
  std::atomic<std::int32_t> cancelled_{0};
  friend struct TFileDuplicationAccess;
};

}  // namespace mrv
