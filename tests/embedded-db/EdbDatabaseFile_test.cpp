// The database file object: modes and messages, the signature search (including a database that
// starts where two search windows meet), the reopen rule, and byte-range locks on a real file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "EdbDatabaseFile.h"
#include "EdbException.h"
#include "EdbStorageTestDb.h"

using namespace edb;
using namespace edbtest;

namespace {

std::vector<uint8_t> SignatureWith76() {
  std::vector<uint8_t> v(kEdbSignature, kEdbSignature + 16);
  v.push_back(76);
  v.push_back(0);
  return v;
}

int64_t FindIn(std::vector<uint8_t> bytes) {
  TEdbDatabaseFile f(std::make_unique<TEdbMemoryFileStore>(std::move(bytes)));
  f.OpenFile("x", amRead, smShareReadWrite);
  f.SetPosition(5);
  int64_t base = f.FindDatabaseStart();
  EXPECT_EQ(f.GetPosition(), 5);  // the position is restored
  return base;
}

std::vector<uint8_t> PlacedAt(size_t offset, size_t total) {
  std::vector<uint8_t> v(total, 0x20);
  auto sig = SignatureWith76();
  std::copy(sig.begin(), sig.end(), v.begin() + long(offset));
  return v;
}

}  // namespace

TEST(EdbDatabaseFile, SignatureSearchFindsEveryOffsetIncludingWindowSeams) {
  EXPECT_EQ(FindIn(PlacedAt(0, 200)), 0);
  EXPECT_EQ(FindIn(PlacedAt(300, 1000)), 300);
  // Windows start 9982 bytes apart: offsets around each seam must all be found. With windows
  // overlapping by only 16 bytes, a start at 9983 (or 9984*k + 9983) was missed.
  for (size_t off :
       {9981u, 9982u, 9983u, 9984u, 9985u, 19966u, 19967u, 19968u, 2u * 9984u + 9983u, 29946u})
    EXPECT_EQ(FindIn(PlacedAt(off, off + 500)), int64_t(off)) << off;
  // A signature at the very end of the file, followed by exactly its length word.
  EXPECT_EQ(FindIn(PlacedAt(25000, 25018)), 25000);
  // The signature without the length word 76 does not count; nothing found answers 0.
  std::vector<uint8_t> wrongLen = PlacedAt(500, 2000);
  wrongLen[500 + 16] = 77;
  EXPECT_EQ(FindIn(wrongLen), 0);
  EXPECT_EQ(FindIn(std::vector<uint8_t>(50, 0)), 0);
  EXPECT_EQ(FindIn({}), 0);
}

TEST(EdbDatabaseFile, ModesAndClosedOrOpenedFileMessages) {
  TEdbDatabaseFile f(std::make_unique<TEdbMemoryFileStore>(std::vector<uint8_t>(10, 1)));
  EXPECT_EQ(CodeOf([&] { f.OpenFile("x", 2, 0); }), errc::kUnknownAccessMode);
  EXPECT_EQ(CodeOf([&] { f.OpenFile("x", 0, 3); }), errc::kUnknownShareMode);
  uint8_t b[4];
  try {
    f.ReadBuffer(b, 0, 4, 1);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kFileClosed);
    EXPECT_EQ(e.BareMessage(), "Cannot perform this operation (ReadBuffer) on a closed file");
  }
  EXPECT_EQ(CodeOf([&] { f.LockBytes(0, 1); }), errc::kFileClosed);
  f.OpenFile("x", amReadWrite, smExclusive);
  EXPECT_EQ(CodeOf([&] { f.OpenFile("x"); }), errc::kFileAlreadyOpened);
  EXPECT_EQ(CodeOf([&] { f.CreateNewFile("x"); }), errc::kFileAlreadyOpened);
  // A read past the end is short, not a failure.
  EXPECT_EQ(f.ReadBuffer(b, 8, 4, 1), 2u);
  EXPECT_EQ(f.GetPosition(), 10);
  f.CloseFile();
  EXPECT_EQ(CodeOf([&] { f.CreateNewFile(""); }), errc::kBlankFileName);
  TEdbDatabaseFile g(std::make_unique<TEdbMemoryFileStore>());
  EXPECT_EQ(CodeOf([&] { g.OpenFile("missing.abs"); }), errc::kCannotOpenFile);
}

TEST(EdbDatabaseFile, FailedOperationsReopenOnceThenReport) {
  auto store = std::make_unique<TEdbMemoryFileStore>(std::vector<uint8_t>(100, 7));
  TEdbMemoryFileStore* raw = store.get();
  TEdbDatabaseFile f(std::move(store));
  f.SetReopenDelayMs(0);
  f.OpenFile("x", amReadWrite, smExclusive);
  raw->SetFailing(true);
  uint8_t b[4];
  try {
    f.ReadBuffer(b, 0, 4, errc::kReadPage);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kReadPage);  // the caller's code
    EXPECT_NE(e.BareMessage().find("Cannot Read from file: 'x' Position = 0, Count = 4"),
              std::string::npos);
  }
  raw->SetFailing(false);
  // The handle was lost while failing; the next operation reopens it and succeeds.
  EXPECT_EQ(f.ReadBuffer(b, 0, 4, errc::kReadPage), 4u);
  EXPECT_EQ(b[3], 7);
}

TEST(EdbDatabaseFile, CountedHandleClosesOnLastRelease) {
  TEdbDatabaseFile f(std::make_unique<TEdbMemoryFileStore>(std::vector<uint8_t>(10, 1)));
  f.OpenFile("x", amRead, smShareRead);
  f.CloseFile();
  f.AcquireHandle();
  f.AcquireHandle();
  EXPECT_TRUE(f.IsOpened());
  f.ReleaseHandle();
  EXPECT_TRUE(f.IsOpened());
  f.ReleaseHandle();
  EXPECT_FALSE(f.IsOpened());
}

class EdbRealFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("edb_file_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "db.abs").string();
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(EdbRealFile, ByteLocksConflictBetweenOpensAndAreTested) {
  TEdbDatabaseFile a, b;
  a.CreateNewFile(path_);
  uint8_t z[64] = {};
  a.WriteBuffer(z, 0, sizeof z, 1);
  a.CloseFile();
  a.OpenFile(path_, amReadWrite, smShareReadWrite);
  b.OpenFile(path_, amReadWrite, smShareReadWrite);
  ASSERT_TRUE(a.LockBytes(10, 1));
  EXPECT_FALSE(b.LockBytes(10, 1));
  EXPECT_TRUE(b.IsByteLocked(10));
  EXPECT_TRUE(b.IsRegionLocked(5, 10));
  EXPECT_FALSE(b.IsRegionLocked(11, 5));
  // The holder itself cannot take the byte twice, and testing does not drop its lock.
  EXPECT_FALSE(a.LockBytes(10, 1));
  EXPECT_TRUE(a.IsByteLocked(10));
  EXPECT_FALSE(b.LockBytes(10, 1));
  EXPECT_TRUE(a.UnlockBytes(10, 1));
  EXPECT_FALSE(b.IsByteLocked(10));
  EXPECT_TRUE(b.LockBytes(10, 1));
  EXPECT_FALSE(a.UnlockBytes(10, 1));  // not held by a
}

TEST_F(EdbRealFile, CreateReplacesReadOnlyFileAndSizesWork) {
  { std::ofstream(path_) << "old content"; }
  std::filesystem::permissions(path_, std::filesystem::perms::owner_read);
  TEdbDatabaseFile f;
  f.CreateNewFile(path_);
  EXPECT_EQ(f.GetSize(), 0);
  f.SetSize(int64_t(5) << 30);  // a 5 GB sparse file: 64-bit offsets
  EXPECT_EQ(f.GetSize(), int64_t(5) << 30);
  const uint8_t tag[3] = {1, 2, 3};
  f.WriteBuffer(tag, (int64_t(5) << 30) - 3, 3, 1);
  uint8_t back[3] = {};
  EXPECT_EQ(f.ReadBuffer(back, (int64_t(5) << 30) - 3, 3, 1), 3u);
  EXPECT_EQ(back[2], 3);
  f.SetSize(100);
  EXPECT_EQ(f.GetSize(), 100);
  f.FlushFileBuffers();
  f.CloseFile();
}
