#include "ToolArgs.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

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

}  // namespace mrvtool
