// Available physical memory on Windows (sizes the page cache).

#include <windows.h>

#include "EdbPageManager.h"

namespace edb {

uint64_t EdbAvailablePhysicalMemory() {
  MEMORYSTATUSEX ms{};
  ms.dwLength = sizeof ms;
  if (GlobalMemoryStatusEx(&ms)) return uint64_t(ms.ullAvailPhys);
  return 0;
}

}  // namespace edb
