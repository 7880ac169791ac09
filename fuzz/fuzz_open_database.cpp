// Opens arbitrary bytes as a database held in memory, reads every page through the page manager
// and the free-space map, and, when the header is consistent with the file size, runs one write
// transaction (add, change, delete, commit) on it. Only engine exceptions may come out.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "EdbException.h"
#include "EdbFreeSpaceMap.h"
#include "EdbPageManager.h"

using namespace edb;

namespace {

void ReadEveryPage(TEdbDiskPageManager& pm, int64_t pages) {
  for (int64_t n = 0; n < pages; ++n) {
    try {
      if (pm.IsSystemPage(int32_t(n))) {
        pm.FreeSpaceMap()->IsPageUsed(int32_t(n));
        continue;
      }
      TEdbPage* p = pm.GetPage(0, int32_t(n), true, kEdbAnyPageType);
      volatile uint8_t sink = p->Data()[p->DataSize() - 1];
      (void)sink;
      pm.ReleasePage(p);
    } catch (const EEdbException&) {
    }
  }
}

void WriteSomething(TEdbDiskPageManager& pm) {
  try {
    TEdbPage* p = pm.AddPage(0, ptTableRecord);
    std::memset(p->Data(), 0x5A, p->DataSize());
    const int32_t added = p->PageNo();
    pm.ReleasePage(p);
    pm.Commit(0);
    pm.DeletePage(0, added);
    pm.Commit(0);
    pm.NextObjectID();
  } catch (const EEdbException&) {
    try {
      pm.Rollback(0);
    } catch (const EEdbException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + size);
  TEdbDiskPageManager pm(std::make_unique<TEdbMemoryFileStore>(bytes), 32);
  pm.SetLockWait(1, 0);
  pm.File().SetReopenDelayMs(0);
  TEdbPassword password{"fuzz", ciRijndael128};
  bool multiUser = false, needsRepair = false, readOnly = false;
  try {
    pm.OpenDatabase("fuzz.abs", password, multiUser, false, needsRepair, readOnly);
  } catch (const EEdbException&) {
    return 0;
  }
  try {
    const int64_t fileSize = pm.File().GetSize();
    const int64_t onDisk =
        std::max<int64_t>(0, (fileSize - pm.PageAreaOffset()) / pm.PageSize() + 1);
    const int64_t total = pm.GetTotalPageCount();
    ReadEveryPage(pm, std::min<int64_t>({total, onDisk, 4096}));
    // The write path only on files whose page area really holds the pages the header claims.
    if (total <= onDisk && total < 4096) WriteSomething(pm);
    pm.CloseDatabase();
  } catch (const EEdbException&) {
  }
  return 0;
}
