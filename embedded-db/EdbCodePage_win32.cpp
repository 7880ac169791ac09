// Code pages through the Windows national-language functions.
#include <windows.h>

#include <string>

#include "EdbCodePage.h"

namespace edb {

uint32_t EdbSysDefaultCodePage() { return GetACP(); }

bool EdbSysAnsiToUtf8(uint32_t codePage, const char* bytes, size_t len, std::string& out,
                      bool* invalid) {
  out.clear();
  if (len == 0) return IsValidCodePage(codePage) != 0;
  if (invalid &&
      MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, int(len), nullptr, 0) <= 0 &&
      GetLastError() == ERROR_NO_UNICODE_TRANSLATION)
    *invalid = true;
  int n = MultiByteToWideChar(codePage, 0, bytes, int(len), nullptr, 0);
  if (n <= 0) return false;
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(codePage, 0, bytes, int(len), w.data(), n);
  int m = WideCharToMultiByte(CP_UTF8, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
  out.resize(size_t(m));
  WideCharToMultiByte(CP_UTF8, 0, w.data(), n, out.data(), m, nullptr, nullptr);
  return true;
}

bool EdbSysUtf8ToAnsi(uint32_t codePage, const std::string& utf8, std::string& out) {
  out.clear();
  if (utf8.empty()) return IsValidCodePage(codePage) != 0;
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
  if (n <= 0) return false;
  std::wstring w(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
  int m = WideCharToMultiByte(codePage, 0, w.data(), n, nullptr, 0, nullptr, nullptr);
  if (m <= 0) return false;
  out.resize(size_t(m));
  WideCharToMultiByte(codePage, 0, w.data(), n, out.data(), m, nullptr, nullptr);
  return true;
}

}  // namespace edb
