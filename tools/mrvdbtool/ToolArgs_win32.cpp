#include "ToolArgs.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "BaseWide_win32.h"

namespace mrvtool {

TUtf8Args::TUtf8Args(int argc, wchar_t** argv) {
  for (int i = 0; i < argc; ++i) {
    args_.push_back(base::Narrow(argv[i]));
  }
  for (auto& a : args_) ptrs_.push_back(a.data());
  ptrs_.push_back(nullptr);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleOutputCP(CP_UTF8);
}

std::optional<std::string> Utf8Environment(const char* name) {
  const std::wstring wideName(name, name + std::char_traits<char>::length(name));  // ASCII names
  const wchar_t* value = _wgetenv(wideName.c_str());
  if (!value) return std::nullopt;
  const int n = WideCharToMultiByte(CP_UTF8, 0, value, -1, nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, value, -1, s.data(), n, nullptr, nullptr);
  return s;
}

}  // namespace mrvtool
