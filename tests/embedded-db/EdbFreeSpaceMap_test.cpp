// The free-space map: the PFS/EAM numbering rule with the worked numbers, the growth amounts,
// new map pages when the file grows across their boundaries, release and shrinking.

#include <gtest/gtest.h>

#include <set>

#include "EdbException.h"
#include "EdbFreeSpaceMap.h"
#include "EdbPageManager.h"
#include "EdbStorageTestDb.h"

using namespace edb;
using namespace edbtest;

namespace {

int32_t AddCommitted(TEdbDiskPageManager& pm) {
  TEdbPage* p = pm.AddPage(0, ptTableRecord);
  const int32_t n = p->PageNo();
  pm.ReleasePage(p);
  pm.Commit(0);
  return n;
}

uint16_t TypeOnDisk(const std::vector<uint8_t>& b, uint16_t pageSize, int64_t n) {
  const size_t off = 380 + size_t(pageSize) * size_t(n) + 8;
  return uint16_t(b[off] | (b[off + 1] << 8));
}

}  // namespace

TEST(EdbFreeSpaceMap, SystemPageNumbersFor4096BytePages) {
  Bytes bytes = std::make_shared<std::vector<uint8_t>>();
  MakeDatabase(bytes, 1);
  auto pm = OpenMemory(bytes);
  TEdbDatabaseFreeSpaceManager& m = *pm->FreeSpaceMap();
  EXPECT_EQ(m.PfsSpan(), 32448);
  EXPECT_EQ(m.EamSpan(), 129792);
  for (int64_t n : {0, 32448, 64896, 97344, 129792}) EXPECT_TRUE(m.IsPfsPage(n)) << n;
  for (int64_t n : {1, 129793, 259585}) {
    EXPECT_TRUE(m.IsEamPage(n)) << n;
    EXPECT_FALSE(m.IsPfsPage(n)) << n;
  }
  EXPECT_EQ(m.EamPageNo(1), 129793);
  EXPECT_EQ(m.EamPageNo(2), 259585);
  for (int64_t n : {2, 32447, 32449, 129791, 129794, 259583}) EXPECT_FALSE(m.IsSystemPage(n)) << n;
  EXPECT_EQ(CodeOf([&] { m.CheckDeletable(129793); }), errc::kCannotDeleteMapPage);
}

TEST(EdbFreeSpaceMap, GrowthAmountsAt40And120Pages) {
  for (int32_t last : {39, 119}) {
    Bytes bytes = std::make_shared<std::vector<uint8_t>>();
    auto pm = MemoryManager(bytes);
    pm->CreateDatabase("g.abs", {}, 8, 4096);
    while (AddCommitted(*pm) < last) {
    }
    pm->Trim();  // the file now ends right after the last page: no free page left
    ASSERT_EQ(pm->Header().TotalPageCount, last + 1);
    EXPECT_EQ(AddCommitted(*pm), last + 1);
    EXPECT_EQ(pm->Header().TotalPageCount, last + 1 + (last == 119 ? 12 : 8));
    EXPECT_EQ(int64_t(bytes->size()), 380 + int64_t(4096) * pm->Header().TotalPageCount);
  }
}

TEST(EdbFreeSpaceMap, GrowingAcrossMapBoundariesCreatesMapPages) {
  // 128-byte pages: PFS every 704 pages, EAM every 2816 pages (2816 is a PFS page, so its EAM
  // page is 2817).
  Bytes bytes = std::make_shared<std::vector<uint8_t>>();
  auto pm = MemoryManager(bytes, 8);
  pm->CreateDatabase("m.abs", {}, 8, 128);
  std::set<int32_t> handed;
  int32_t n = 0;
  while ((n = AddCommitted(*pm)) < 2900) {
    ASSERT_FALSE(pm->IsSystemPage(n)) << n;
    ASSERT_TRUE(handed.insert(n).second) << n;
    ASSERT_FALSE(pm->IsSystemPage(pm->Header().TotalPageCount - 1));
  }
  for (int64_t pfs : {0, 704, 1408, 2112, 2816})
    EXPECT_EQ(TypeOnDisk(*bytes, 128, pfs), ptPFS) << pfs;
  EXPECT_EQ(TypeOnDisk(*bytes, 128, 1), ptEAM);
  EXPECT_EQ(TypeOnDisk(*bytes, 128, 2817), ptEAM);
  EXPECT_TRUE(pm->FreeSpaceMap()->IsPageUsed(2817));
  EXPECT_TRUE(pm->FreeSpaceMap()->IsPageUsed(704));
  // The map survives a reopen: it still knows every handed-out page as used.
  pm->CloseDatabase();
  auto again = OpenMemory(bytes);
  for (int32_t h : {2, 703, 705, 2111, 2113, 2765, 2818})
    EXPECT_TRUE(again->FreeSpaceMap()->IsPageUsed(h)) << h;
  EXPECT_FALSE(
      again->FreeSpaceMap()->IsPageUsed(2766));  // skipped: the last EAM page is searched first
}

TEST(EdbFreeSpaceMap, ReleaseMarksFreeRefusesTwiceAndShrinksTheTail) {
  Bytes bytes = std::make_shared<std::vector<uint8_t>>();
  auto pm = MemoryManager(bytes);
  pm->CreateDatabase("s.abs", {}, 8, 4096);
  std::vector<int32_t> nos;
  for (int i = 0; i < 12; ++i) nos.push_back(AddCommitted(*pm));
  ASSERT_EQ(nos.back(), 13);
  ASSERT_EQ(pm->Header().TotalPageCount, 14);
  TEdbDatabaseFreeSpaceManager& m = *pm->FreeSpaceMap();
  m.ReleasePage(7);
  EXPECT_FALSE(m.IsPageUsed(7));
  try {
    m.ReleasePage(7);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kPageAlreadyFree);
    EXPECT_EQ(e.BareMessage(), "Page: 7 already free");
  }
  EXPECT_EQ(CodeOf([&] { m.ReleasePage(100); }), errc::kPageNotAddressable);
  // Freeing pages 6..13 leaves a free tail of 8 pages = the growth amount: the file is cut.
  for (int32_t n = 6; n <= 13; ++n)
    if (n != 7) pm->DeletePage(0, n);
  pm->Commit(0);
  EXPECT_EQ(pm->Header().LastAllocatedPage, 5);
  EXPECT_EQ(pm->Header().TotalPageCount, 6);
  EXPECT_EQ(bytes->size(), 380u + 6u * 4096u);
  EXPECT_EQ(U32At(*bytes, 30), 6u);
  // The next allocation grows the file again and hands out the first free page.
  EXPECT_EQ(AddCommitted(*pm), 6);
  EXPECT_EQ(pm->Header().TotalPageCount, 14);
  // Freed pages inside the file are found again before the file grows.
  for (int i = 0; i < 20; ++i) AddCommitted(*pm);
  const int32_t total = pm->Header().TotalPageCount;
  pm->DeletePage(0, 10);
  pm->DeletePage(0, 20);
  pm->Commit(0);
  EXPECT_EQ(AddCommitted(*pm), 10);
  EXPECT_EQ(AddCommitted(*pm), 20);
  EXPECT_EQ(pm->Header().TotalPageCount, total);
}

TEST(EdbFreeSpaceMap, ExtentFieldsOnTheEamPage) {
  // Eight pages per extent. Pages 0..13 in use: extent 0 (pages 0..7) is full and extent 1
  // (pages 8..15) has free pages, so the first byte of the EAM page's data holds 3 in bits 0-1
  // and 1 in bits 2-3.
  Bytes bytes = std::make_shared<std::vector<uint8_t>>();
  auto pm = MemoryManager(bytes);
  pm->CreateDatabase("e.abs", {}, 8, 4096);
  for (int i = 0; i < 12; ++i) AddCommitted(*pm);
  ASSERT_EQ(pm->Header().TotalPageCount, 14);
  const size_t eamData = 380 + 4096 * 1 + 40;
  EXPECT_EQ((*bytes)[eamData], 0x07);
  EXPECT_EQ((*bytes)[eamData + 1], 0x00);
  // A page freed in extent 0 turns its field back to 1; the next allocation finds that page.
  pm->FreeSpaceMap()->ReleasePage(5);
  EXPECT_EQ((*bytes)[eamData], 0x05);
  EXPECT_EQ(AddCommitted(*pm), 5);
  EXPECT_EQ((*bytes)[eamData], 0x07);
}
