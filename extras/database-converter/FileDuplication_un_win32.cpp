// File duplication on Windows: GetTempFileNameA names and creates the file, CopyFileExW copies
// over it with a progress routine and the cancel flag.
#include <windows.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "BaseText.h"
#include "BaseWide_win32.h"
#include "DbConversionInfo_un.h"
#include "FileDuplication_un.h"

namespace mrv {

namespace {

static_assert(sizeof(std::atomic<std::int32_t>) == sizeof(BOOL),
              "the cancel flag is read by the system copy routine as a BOOL");

[[noreturn]] void RaiseLastError() {
  const DWORD code = GetLastError();
  throw EOSError(static_cast<int>(code), TFileDuplication::SystemErrorText(static_cast<int>(code)));
}

std::string CurrentFolderAnsi() {
  const DWORD n = GetCurrentDirectoryA(0, nullptr);
  std::string folder(n ? n : 1, '\0');
  const DWORD len = n ? GetCurrentDirectoryA(n, folder.data()) : 0;
  if (len == 0 || len >= n) return ".\\";
  folder.resize(len);
  if (folder.back() != '\\' && folder.back() != '/') folder.push_back('\\');
  return folder;
}

// The temporary folder in the ANSI code page, with the current directory as the fallback.
std::string TempFolderAnsi() {
  const DWORD needed = GetTempPathA(0, nullptr);
  if (needed == 0) return CurrentFolderAnsi();
  std::string folder(needed, '\0');
  const DWORD len = GetTempPathA(needed, folder.data());
  if (len == 0 || len > needed) return CurrentFolderAnsi();
  folder.resize(len);
  if (needed + 12 > MAX_PATH) return CurrentFolderAnsi();
  std::error_code ec;
  const std::filesystem::path p(base::AnsiToWide(folder));
  if (!std::filesystem::is_directory(p, ec)) {
    std::filesystem::create_directories(p, ec);
    if (ec || !std::filesystem::is_directory(p, ec)) return CurrentFolderAnsi();
  }
  return folder;
}

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred,
                                   LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD callbackReason,
                                   HANDLE, HANDLE, LPVOID data);

}  // namespace

// Lets the progress routine reach the private parts.
struct TFileDuplicationAccess {
  static DWORD Chunk(TFileDuplication* self, std::int64_t done, std::int64_t total) {
    try {
      self->Progress(done, total);
    } catch (...) {
      return PROGRESS_CANCEL;
    }
    return self->Cancelled() ? PROGRESS_CANCEL : PROGRESS_CONTINUE;
  }
  static LPBOOL Flag(TFileDuplication* self) { return reinterpret_cast<LPBOOL>(&self->cancelled_); }
};

namespace {

DWORD CALLBACK CopyProgressRoutine(LARGE_INTEGER totalFileSize, LARGE_INTEGER totalBytesTransferred,
                                   LARGE_INTEGER, LARGE_INTEGER, DWORD, DWORD callbackReason,
                                   HANDLE, HANDLE, LPVOID data) {
  if (callbackReason != CALLBACK_CHUNK_FINISHED) return PROGRESS_CONTINUE;
  return TFileDuplicationAccess::Chunk(static_cast<TFileDuplication*>(data),
                                       totalBytesTransferred.QuadPart, totalFileSize.QuadPart);
}

}  // namespace

std::string TFileDuplication::SystemErrorText(int code) {
  LPWSTR buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  std::wstring text(buffer ? buffer : L"", n);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.pop_back();
  return base::Narrow(text);
}

std::string TFileDuplication::GetTempFolder() {
  return base::Narrow(base::AnsiToWide(TempFolderAnsi()));
}

std::int64_t TFileDuplication::GetFileSize(const std::string& path, std::string& errorText) {
  errorText.clear();
  WIN32_FIND_DATAW data{};
  const HANDLE find = FindFirstFileW(base::Widen(path).c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) RaiseLastError();
  FindClose(find);
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    errorText = base::Format("File '%s' is a directory.", path.c_str());
    return -1;
  }
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
}

std::int64_t TFileDuplication::GetFreeBytes(const std::string& folder) {
  ULARGE_INTEGER available{};
  if (!GetDiskFreeSpaceExW(base::Widen(folder).c_str(), &available, nullptr, nullptr)) return -1;
  if (available.QuadPart > static_cast<ULONGLONG>(INT64_MAX)) return INT64_MAX;
  return static_cast<std::int64_t>(available.QuadPart);
}

bool TFileDuplication::RemoveFile(const std::string& path, std::string& errorText) {
  errorText.clear();
  if (DeleteFileW(base::Widen(path).c_str())) return true;
  errorText = SystemErrorText(static_cast<int>(GetLastError()));
  return false;
}

bool TFileDuplication::Duplicate(const std::string& source, const std::string& prefix,
                                 std::string& tempPath) {
  tempPath.clear();
  if (prefix.size() != 3) throw EFileDuplication("Prefix must be 3 characters long.");

  char name[MAX_PATH + 1] = {};
  if (GetTempFileNameA(TempFolderAnsi().c_str(), prefix.c_str(), 0, name) == 0 &&
      GetTempFileNameA(CurrentFolderAnsi().c_str(), prefix.c_str(), 0, name) == 0)
    RaiseLastError();
  const std::wstring target = base::AnsiToWide(name);
  tempPath = base::Narrow(target);

  // Whatever ends the copy other than success takes the new file with it.
  auto discard = [&] {
    DeleteFileW(target.c_str());
    tempPath.clear();
  };
  if (Cancelled()) {
    discard();
    return false;
  }
  if (CopyFileExW(base::Widen(source).c_str(), target.c_str(), CopyProgressRoutine, this,
                  TFileDuplicationAccess::Flag(this), 0))
    return true;
  const DWORD code = GetLastError();
  discard();
  if (code == ERROR_REQUEST_ABORTED) return false;
  throw EOSError(static_cast<int>(code), SystemErrorText(static_cast<int>(code)));
}

}  // namespace mrv
