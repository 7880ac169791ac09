// Internal files: transacted chains that grow, shrink and compress; direct files with their
// addressable size, position rule across pages, size limits and byte locks.

#include <gtest/gtest.h>

#include <memory>

#include "EdbCompression.h"
#include "EdbDiskDatabase.h"
#include "EdbException.h"
#include "EdbStorageTestDb.h"
#include "EdbFormatWriter.h"
#include "EdbInternalFile.h"

using namespace edb;
using namespace edbtest;

namespace {

struct Db {
  std::shared_ptr<std::vector<uint8_t>> bytes = std::make_shared<std::vector<uint8_t>>();
  TEdbDiskDatabaseData db;
  Db() {
    TEdbFormatWriter w;
    w.CreateDatabase("i.abs", {}, {}, std::make_unique<TEdbMemoryFileStore>(bytes));
    w.CreateTable("T", {EdbMakeFieldDef("ID", aftInteger)});
    w.Close();
    db.Open("i.abs", {}, {}, std::make_unique<TEdbMemoryFileStore>(bytes));
  }
  uint8_t* PageByte(int32_t page, uint32_t offset) {
    return bytes->data() + 380 + size_t(page) * 4096 + offset;
  }
};

}  // namespace

TEST(EdbInternalFile, TransactedChainGrowsShrinksAndCompresses) {
  Db d;
  auto& pm = d.db.PageManager();
  const int32_t s = kEdbSystemSession;
  TEdbInternalDBTransactedAccessFile f(pm, ptTableMetaData);
  int32_t first = f.Create(s);
  std::vector<uint8_t> big(10000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7 + 3);
  f.Write(s, big.data(), int32_t(big.size()));
  pm.Commit(s);
  EXPECT_EQ(f.ReadAll(s), big);
  // Three pages: 10 + 10000 bytes over 4056-byte data areas.
  int chain = 0;
  for (int32_t p = first; p != kEdbNoPage; ++chain) {
    TEdbPageRef ref(pm.GetPage(s, p, true, ptTableMetaData));
    p = ref->NextPage();
  }
  EXPECT_EQ(chain, 3);
  // Logical byte 4045 is the last byte of the first data area, 4046 the first of the second.
  EXPECT_EQ(*d.PageByte(first, 40 + 4055), big[4045]);

  std::vector<uint8_t> small(100, 0xAB);
  f.Write(s, small.data(), int32_t(small.size()));
  pm.Commit(s);
  EXPECT_EQ(f.ReadAll(s), small);
  TEdbPageRef ref(pm.GetPage(s, first, true, ptTableMetaData));
  EXPECT_EQ(ref->NextPage(), kEdbNoPage);
  ref.Reset();

  f.Write(s, big.data(), int32_t(big.size()), caZlib, 9);
  pm.Commit(s);
  TEdbInternalFileSize size = f.GetSize(s);
  EXPECT_EQ(size.Compression, caZlib);
  EXPECT_EQ(size.Full, 10000);
  EXPECT_LT(size.Stored, 10000);
  EXPECT_EQ(f.ReadAll(s), big);
  std::vector<uint8_t> part(50);
  f.Read(s, part.data(), true, 50);
  EXPECT_EQ(part, std::vector<uint8_t>(big.begin(), big.begin() + 50));
  EXPECT_EQ(CodeOf([&] { f.Read(s, part.data(), true, 10001); }), errc::kInternalFileReadPastSize);

  // A compressed file whose stored bytes are not a valid stream.
  {
    TEdbPageRef p(pm.GetPage(s, first, true, ptTableMetaData));
    p->Data()[12] ^= 0xFF;
    p->Data()[20] ^= 0xFF;
    p->SetDirty(true);
  }
  EXPECT_EQ(CodeOf([&] { f.ReadAll(s); }), errc::kTableFileDecompression);
  EXPECT_EQ(CodeOf([&] { TEdbInternalDBTransactedAccessFile(pm, 8).ReadAll(s); }),
            errc::kTransactedFileClosed);
  EXPECT_EQ(CodeOf([&] { TEdbInternalDBTransactedAccessFile(pm, 8, first).Create(s); }),
            errc::kTransactedFileExists);
}

TEST(EdbInternalFile, DirectFilesAddressingAndLimits) {
  Db d;
  auto& pm = d.db.PageManager();
  // Connection slots: 500 bytes on one page, addressable up to the end of the data area.
  TEdbInternalDBDirectAccessFile& slots = d.db.SessionsFile();
  EXPECT_EQ(slots.StoredSize(), 500);
  EXPECT_EQ(slots.AddressableSize(), 4046);
  uint8_t b[2] = {1, 2};
  slots.WriteBytes(498, b, 2);
  EXPECT_EQ(CodeOf([&] { slots.WriteBytes(499, b, 2); }), errc::kDirectFileWritePastEnd);
  EXPECT_EQ(CodeOf([&] { slots.ReadBytes(4047, b, 1); }), errc::kDirectFileSeekPastEnd);
  slots.ReadBytes(4045, b, 1);  // inside the addressable size

  // The table-lock file: 12 x 500 bytes over two pages.
  TEdbInternalDBDirectAccessFile locks(pm, ptTableLocks);
  locks.Open(d.db.FindTable("t").LockPage);
  ASSERT_EQ(locks.Pages().size(), 2u);
  EXPECT_EQ(locks.StoredSize(), 6000);
  EXPECT_EQ(locks.AddressableSize(), 6000);
  const uint8_t rec[6] = {9, 8, 7, 6, 5, 4};
  locks.WriteBytes(4043, rec, 6);  // logical 4043..4048 cross into the second page at 4046
  EXPECT_EQ(*d.PageByte(locks.Pages()[0], 40 + 4053), 9);
  EXPECT_EQ(*d.PageByte(locks.Pages()[0], 4095), 7);
  EXPECT_EQ(*d.PageByte(locks.Pages()[1], 40), 6);
  uint8_t back[6] = {};
  locks.ReadBytes(4043, back, 6);
  EXPECT_EQ(std::vector<uint8_t>(back, back + 6), std::vector<uint8_t>(rec, rec + 6));
  // Stored plain even though the pages are written through the page layer.
  EXPECT_EQ(*d.PageByte(locks.Pages()[0], 8), ptTableLocks);

  // Byte locks are held until released.
  EXPECT_TRUE(locks.LockByte(4046));
  EXPECT_TRUE(locks.IsByteLocked(4046));
  EXPECT_TRUE(locks.IsRegionLocked(4000, 100));
  EXPECT_TRUE(locks.UnlockByte(4046));
  EXPECT_FALSE(locks.IsByteLocked(4046));
  EXPECT_TRUE(locks.LockFile());
  EXPECT_TRUE(locks.UnlockFile());

  TEdbInternalDBDirectAccessFile wrong(pm, ptTableLocks);
  EXPECT_EQ(CodeOf([&] { wrong.Open(slots.FirstPage()); }), errc::kInternalFileWrongPageType);
  EXPECT_EQ(CodeOf([&] { wrong.ReadBytes(0, b, 1); }), errc::kDirectFileClosed);
}
