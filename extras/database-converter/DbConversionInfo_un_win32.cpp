// Fallback notice when an error text cannot be stored: a modal box owned by the desktop.
#include <windows.h>

#include <string>

#include "DbConversionInfo_un.h"

namespace mrv {

void ShowErrorStoreFailure(const std::string& text) noexcept {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring wide(n > 0 ? static_cast<size_t>(n) : 1u, L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
  MessageBoxW(GetDesktopWindow(), wide.c_str(), L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace mrv
