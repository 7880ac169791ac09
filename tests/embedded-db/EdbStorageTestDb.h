#pragma once
// Helpers of the storage-layer tests: databases built in memory by our own writer.

#include <cstring>
#include <memory>
#include <vector>

#include "EdbException.h"
#include "EdbPageManager.h"

namespace edbtest {

// The native code of the engine error that f raises, or 0 when it raises none.
template <class F>
int CodeOf(F&& f) {
  try {
    f();
  } catch (const edb::EEdbException& e) {
    return e.NativeError();
  }
  return 0;
}

using Bytes = std::shared_ptr<std::vector<uint8_t>>;

inline uint32_t U32At(const std::vector<uint8_t>& b, size_t off) {
  return uint32_t(b[off]) | (uint32_t(b[off + 1]) << 8) | (uint32_t(b[off + 2]) << 16) |
         (uint32_t(b[off + 3]) << 24);
}
inline void PutU32At(std::vector<uint8_t>& b, size_t off, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (8 * i));
}

// A page manager over `bytes` with short lock waits and no reopen delay.
inline std::unique_ptr<edb::TEdbDiskPageManager> MemoryManager(const Bytes& bytes,
                                                               size_t cache = 64) {
  auto pm = std::make_unique<edb::TEdbDiskPageManager>(
      std::make_unique<edb::TEdbMemoryFileStore>(bytes), cache);
  pm->SetLockWait(2, 0);
  pm->File().SetReopenDelayMs(0);
  return pm;
}

// Fills a page's data area with a pattern that depends on its number.
inline void Fill(edb::TEdbPage* p, uint8_t salt) {
  for (uint32_t i = 0; i < p->DataSize(); ++i)
    p->Data()[i] = uint8_t(i * 13 + p->PageNo() * 7 + salt);
}
inline bool HasFill(const edb::TEdbPage* p, uint8_t salt) {
  for (uint32_t i = 0; i < p->DataSize(); ++i)
    if (p->Data()[i] != uint8_t(i * 13 + p->PageNo() * 7 + salt)) return false;
  return true;
}

// Creates a database with `pages` committed pages of type TableRecord; returns their numbers.
inline std::vector<int32_t> MakeDatabase(const Bytes& bytes, int pages,
                                         const edb::TEdbPassword& pw = {}, uint16_t pageSize = 4096,
                                         uint16_t extent = 8) {
  auto pm = MemoryManager(bytes);
  pm->CreateDatabase("test.abs", pw, extent, pageSize);
  std::vector<int32_t> nos;
  for (int i = 0; i < pages; ++i) {
    edb::TEdbPage* p = pm->AddPage(0, edb::ptTableRecord);
    Fill(p, 1);
    nos.push_back(p->PageNo());
    pm->ReleasePage(p);
  }
  pm->Commit(0);
  pm->CloseDatabase();
  return nos;
}

// Opens `bytes`; returns the manager (throws what the open throws).
inline std::unique_ptr<edb::TEdbDiskPageManager> OpenMemory(const Bytes& bytes,
                                                            edb::TEdbPassword pw = {},
                                                            bool* needsRepair = nullptr,
                                                            bool* readOnly = nullptr) {
  auto pm = MemoryManager(bytes);
  bool mu = false, nr = false, ro = false;
  pm->OpenDatabase("test.abs", pw, mu, false, nr, ro);
  if (needsRepair) *needsRepair = nr;
  if (readOnly) *readOnly = ro;
  return pm;
}

}  // namespace edbtest
