// Available physical memory on POSIX systems (sizes the page cache).

#include <unistd.h>

#include "EdbPageManager.h"

namespace edb {

uint64_t EdbAvailablePhysicalMemory() {
#if defined(_SC_AVPHYS_PAGES) && defined(_SC_PAGESIZE)
  long pages = sysconf(_SC_AVPHYS_PAGES);
  long size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && size > 0) return uint64_t(pages) * uint64_t(size);
#endif
  return 0;
}

}  // namespace edb
