#pragma once
// UTF-8 (and ANSI) <-> wchar_t text for Win32 calls. wchar_t is a UTF-16 unit on Windows, so these
// are the base layer's UTF-16 conversions seen through the system's character type.

#include <windows.h>

#include <string>
#include <string_view>

#include "BaseText.h"

namespace base {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

inline std::wstring Widen(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(reinterpret_cast<const wchar_t*>(wide.data()), wide.size());
}

inline std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// Text in the system's ANSI code page (as the ...A functions return it) as UTF-16.
inline std::wstring AnsiToWide(std::string_view ansi) {
  if (ansi.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

}  // namespace base
