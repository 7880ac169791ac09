// Product settings discovery, Windows half: the installation folder from the service's
// registration (HKEY_LOCAL_MACHINE, "ImagePath" with environment expansion); the configuration
// file is read in the system's ANSI code page and handed on as UTF-8.
#include <windows.h>

#include <stdexcept>
#include <vector>

#include "BaseWide_win32.h"
#include "MrvConfigPeek_un.h"

namespace mrv {

namespace {

std::string LastErrorText(DWORD code) {
  wchar_t* buf = nullptr;
  FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text = buf ? buf : L"";
  if (buf) LocalFree(buf);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return base::Narrow(text);
}

}  // namespace

char TMrvConfigPeek::PathDelimiter() { return '\\'; }

std::string TMrvConfigPeek::PlatformInstallFolder() {
  std::string result;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\MRVSVC", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return result;
  try {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, L"ImagePath", nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
      std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2, L'\0');
      DWORD got = static_cast<DWORD>(buf.size() * sizeof(wchar_t));
      if (RegQueryValueExW(key, L"ImagePath", nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                           &got) == ERROR_SUCCESS) {
        std::wstring value(buf.data());
        bool ok = true;
        if (type == REG_EXPAND_SZ) {
          DWORD need = ExpandEnvironmentStringsW(value.c_str(), nullptr, 0);
          if (need == 0) {
            ok = false;
          } else {
            std::vector<wchar_t> exp(need + 1, L'\0');
            if (ExpandEnvironmentStringsW(value.c_str(), exp.data(), need + 1) == 0)
              ok = false;
            else
              value = exp.data();
          }
        }
        if (ok) result = FolderOfImagePath(base::Narrow(value));
      }
    }
  } catch (...) {
    // Errors on the way are swallowed; what we had so far is the result.
  }
  RegCloseKey(key);
  return result;
}

std::optional<std::string> TMrvConfigPeek::PlatformReadTextFile(const std::string& path) {
  std::wstring wpath = base::Widen(path);
  DWORD attrs = GetFileAttributesW(wpath.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES) {
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
        err == ERROR_BAD_NETPATH || err == ERROR_INVALID_DRIVE)
      return std::nullopt;
    throw std::runtime_error("Cannot open file \"" + path + "\". " + LastErrorText(err));
  }
  HANDLE h = CreateFileW(wpath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    throw std::runtime_error("Cannot open file \"" + path + "\". " + LastErrorText(GetLastError()));
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(h, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(h);
  return base::Narrow(base::AnsiToWide(bytes));
}

}  // namespace mrv
