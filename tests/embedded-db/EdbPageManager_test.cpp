// Opening and creating databases, page round trips (plain and every cipher id), corrupt-input
// failures with their codes, the session life cycle of pages, the cache bound and the commit
// protocol.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "EdbCrc.h"
#include "EdbException.h"
#include "EdbFreeSpaceMap.h"
#include "EdbPageManager.h"
#include "EdbStorageTestDb.h"

using namespace edb;
using namespace edbtest;

namespace {

Bytes NewBytes() { return std::make_shared<std::vector<uint8_t>>(); }

void SetVersion(std::vector<uint8_t>& b, size_t base, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  for (int i = 0; i < 8; ++i) b[base + 18 + i] = uint8_t(bits >> (8 * i));
}

}  // namespace

TEST(EdbDiskPageManager, NewDatabaseLayoutAndPageOffsets) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 3);
  const std::vector<uint8_t>& b = *bytes;
  // Header: signature, length 76, version 5.12, page size, extent, counts, state.
  EXPECT_EQ(0, std::memcmp(b.data(), kEdbSignature, 16));
  EXPECT_EQ(b[16], 76);
  double v;
  std::memcpy(&v, b.data() + 18, 8);
  EXPECT_EQ(v, 5.12);
  EXPECT_EQ(b[26] | (b[27] << 8), 4096);
  EXPECT_EQ(b[28], 8);
  EXPECT_EQ(U32At(b, 30), 6u);  // the first growth: 6 pages
  EXPECT_EQ(U32At(b, 34), 4u);  // pages 2, 3, 4 handed out
  EXPECT_EQ(U32At(b, 38), 1u);  // one commit
  EXPECT_EQ(b[42], 2);
  EXPECT_EQ(b[43], 0);
  EXPECT_EQ(b[76] | (b[77] << 8), 280);   // check block length
  EXPECT_EQ(b[356] | (b[357] << 8), 20);  // lock area length
  EXPECT_EQ(U32At(b, 376), 0u);           // object-ID counter
  EXPECT_EQ(b.size(), 380u + 6u * 4096u);
  EXPECT_EQ(nos, (std::vector<int32_t>{2, 3, 4}));
  // Page n starts at 380 + 4096 n: magic, then type at offset 8.
  for (int32_t n = 0; n < 5; ++n) {  // page 5 was never written
    const size_t off = 380 + 4096 * size_t(n);
    EXPECT_EQ(0, std::memcmp(b.data() + off, kEdbPageMagic, 4)) << n;
  }
  EXPECT_EQ(b[380 + 8], ptPFS);
  EXPECT_EQ(b[380 + 4096 + 8], ptEAM);
  EXPECT_EQ(b[380 + 2 * 4096 + 8], ptTableRecord);
  auto pm = OpenMemory(bytes);
  EXPECT_EQ(pm->PageFileOffset(7), 380 + 4096 * 7);
  EXPECT_EQ(pm->PageFileOffset(1000000), 380 + int64_t(4096) * 1000000);
  EXPECT_EQ(CodeOf([&] { pm->PageFileOffset(-1); }), errc::kInvalidPageNo);
}

TEST(EdbDiskPageManager, RoundTripPlainAndEveryCipher) {
  std::vector<TEdbPassword> passwords = {{}};
  for (uint8_t id = 0; id < kEdbCipherCount; ++id) passwords.push_back({"pass word", id});
  for (const TEdbPassword& pw : passwords) {
    SCOPED_TRACE(pw.Text.empty() ? "plain" : EdbCipherName(pw.CipherId));
    Bytes bytes = NewBytes();
    std::vector<int32_t> nos = MakeDatabase(bytes, 20, pw);
    // Enciphered databases store no page data in plain text.
    const size_t off2 = 380 + 4096 * size_t(nos[0]);
    {
      TEdbDiskPageManager probe(std::make_unique<TEdbMemoryFileStore>(bytes), 4);
      TEdbPage plain(&probe, 4096);
      plain.SetPageNo(nos[0]);
      Fill(&plain, 1);
      const bool same = std::memcmp(bytes->data() + off2 + 40, plain.Data(), 4056) == 0;
      EXPECT_EQ(same, pw.Text.empty());
      if (!pw.Text.empty()) {
        EXPECT_EQ((*bytes)[off2 + 20], pw.CipherId);
        EXPECT_EQ(U32At(*bytes, off2 + 14), EdbCrc32(plain.Data(), 4056));
      }
    }
    TEdbPassword given{pw.Text, 0};  // the cipher id comes from the file
    auto pm = OpenMemory(bytes, given);
    EXPECT_EQ(pm->Encrypted(), !pw.Text.empty());
    for (int32_t n : nos) {
      TEdbPage* p = pm->GetPage(0, n, true, ptTableRecord);
      EXPECT_TRUE(HasFill(p, 1)) << n;
      pm->ReleasePage(p);
    }
    // Rewrite one page, commit, and read it back through a fresh open.
    TEdbPage* p = pm->GetPage(0, nos[5], true, ptTableRecord);
    Fill(p, 9);
    p->SetDirty(true);
    pm->ReleasePage(p);
    pm->Commit(0);
    pm->CloseDatabase();
    auto again = OpenMemory(bytes, given);
    TEdbPage* q = again->GetPage(0, nos[5], true, ptTableRecord);
    EXPECT_TRUE(HasFill(q, 9));
    again->ReleasePage(q);
  }
}

TEST(EdbDiskPageManager, CorruptInputFailsWithItsCode) {
  Bytes good = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(good, 4);
  auto openCode = [](std::vector<uint8_t> b, TEdbPassword pw = {}) {
    Bytes bytes = std::make_shared<std::vector<uint8_t>>(std::move(b));
    return CodeOf([&] { OpenMemory(bytes, pw); });
  };
  // Short files and a wrong signature.
  EXPECT_EQ(openCode({}), errc::kInvalidFileSignature);
  EXPECT_EQ(openCode(std::vector<uint8_t>(good->begin(), good->begin() + 91)),
            errc::kInvalidFileSignature);
  std::vector<uint8_t> b = *good;
  b[3] = 'X';
  try {
    OpenMemory(std::make_shared<std::vector<uint8_t>>(b));
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kInvalidFileSignature);
    EXPECT_NE(e.BareMessage().find("Found signature: 'ABSX"), std::string::npos) << e.what();
  }
  // Check block length other than 280; a file cut inside the check block.
  b = *good;
  b[76] = 0x19;
  EXPECT_EQ(openCode(b), errc::kInvalidDatabaseFormat);
  EXPECT_EQ(openCode(std::vector<uint8_t>(good->begin(), good->begin() + 200)),
            errc::kInvalidDatabaseFormat);
  // Numbers that would size or position reads: page size, extent, counts, lock area, header length.
  struct Patch {
    size_t off;
    std::vector<uint8_t> v;
  };
  for (const Patch& p : {Patch{26, {0, 0}}, Patch{26, {40, 0}}, Patch{28, {0, 0}},
                         Patch{30, {0xFF, 0xFF, 0xFF, 0xFF}}, Patch{34, {6, 0, 0, 0}},
                         Patch{34, {0xFE, 0xFF, 0xFF, 0xFF}}, Patch{356, {1, 0}},
                         Patch{356, {0x00, 0x80}}, Patch{16, {0x00, 0x20}}}) {
    b = *good;
    std::copy(p.v.begin(), p.v.end(), b.begin() + long(p.off));
    EXPECT_NE(openCode(b), 0) << p.off;
  }
  // A page of another type than expected; 255 accepts any type.
  auto pm = OpenMemory(good);
  try {
    pm->GetPage(0, nos[0], true, ptTableBlob);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kInvalidPageType);
    EXPECT_EQ(e.BareMessage(),
              "Invalid page type. Possibly data is corrupted. Expected type 11, but found 10");
  }
  TEdbPage* any = pm->GetPage(0, nos[0], true, kEdbAnyPageType);
  pm->ReleasePage(any);
  // Beyond the end of the file: a fresh header of type 0.
  EXPECT_EQ(CodeOf([&] { pm->GetPage(0, 500, true, ptTableRecord); }), errc::kInvalidPageType);
  TEdbPage* beyond = pm->GetPage(0, 500, true, 0);
  EXPECT_EQ(beyond->ChangeCounter(), 0);
  pm->ReleasePage(beyond);
  EXPECT_EQ(CodeOf([&] { pm->GetPage(0, 0, true, kEdbAnyPageType); }), errc::kCannotDeleteMapPage);
  EXPECT_EQ(CodeOf([&] { pm->GetPage(-1, nos[0], true, kEdbAnyPageType); }),
            errc::kInvalidSessionId);
}

TEST(EdbDiskPageManager, PasswordAndCrcChecks) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 3, {"right", ciTwofish256});
  const std::vector<uint8_t> before = *bytes;
  auto pm = MemoryManager(bytes);
  TEdbPassword wrong{"wrong", 0};
  bool mu = false, nr = false, ro = false;
  EXPECT_EQ(CodeOf([&] { pm->OpenDatabase("x", wrong, mu, false, nr, ro); }),
            errc::kIncorrectPassword);
  EXPECT_FALSE(pm->IsOpen());
  EXPECT_EQ(*bytes, before);  // a failed open writes nothing
  TEdbPassword none;
  EXPECT_EQ(CodeOf([&] { pm->OpenDatabase("x", none, mu, false, nr, ro); }),
            errc::kIncorrectPassword);
  TEdbPassword right{"right", 0};
  pm->OpenDatabase("x", right, mu, false, nr, ro);
  EXPECT_EQ(right.CipherId, ciTwofish256);  // handed back from the check block
  pm->CloseDatabase();
  // A flipped byte in an enciphered data area fails the CRC check; the page is not kept.
  (*bytes)[380 + 4096 * size_t(nos[1]) + 100] ^= 0x01;
  auto again = OpenMemory(bytes, {"right", 0});
  EXPECT_EQ(CodeOf([&] { again->GetPage(0, nos[1], true, ptTableRecord); }),
            errc::kPageCrcMismatch);
  EXPECT_EQ(CodeOf([&] { again->GetPage(0, nos[1], true, kEdbAnyPageType); }),
            errc::kPageCrcMismatch);
  TEdbPage* ok = again->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_TRUE(HasFill(ok, 1));
  again->ReleasePage(ok);
}

TEST(EdbDiskPageManager, NeedsRepairAndRelocatedRegions) {
  Bytes good = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(good, 2);
  auto repair = [](std::vector<uint8_t> b) {
    bool nr = false;
    OpenMemory(std::make_shared<std::vector<uint8_t>>(std::move(b)), {}, &nr);
    return nr;
  };
  std::vector<uint8_t> b = *good;
  EXPECT_FALSE(repair(b));
  SetVersion(b, 0, 2.98);
  EXPECT_TRUE(repair(b));
  SetVersion(b, 0, 2.99);
  EXPECT_FALSE(repair(b));
  b[42] = 1;
  EXPECT_TRUE(repair(b));
  // A database behind other bytes, at a window seam, with a lock area of 24 bytes.
  for (size_t prefix : {size_t(1234), size_t(9983)}) {
    std::vector<uint8_t> moved(prefix, 0xAB);
    moved.insert(moved.end(), good->begin(), good->begin() + 356);
    moved.push_back(24);
    moved.push_back(0);
    moved.insert(moved.end(), 22, 0);                             // lock area is now 24 bytes
    moved.insert(moved.end(), good->begin() + 376, good->end());  // counter and pages
    auto pm = OpenMemory(std::make_shared<std::vector<uint8_t>>(moved));
    EXPECT_EQ(pm->Base(), int64_t(prefix));
    EXPECT_EQ(pm->PageAreaOffset(), int64_t(prefix) + 384);
    TEdbPage* p = pm->GetPage(0, nos[1], true, ptTableRecord);
    EXPECT_TRUE(HasFill(p, 1));
    pm->ReleasePage(p);
    EXPECT_EQ(pm->NextObjectID(), 1);
  }
}

TEST(EdbDiskPageManager, ChangeCounterWrapsBeforeReservedValues) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 1);
  auto pm = OpenMemory(bytes);
  for (int32_t start : {0x7FFFFFFC, 0x7FFFFFFE, 0x7FFFFFFF, 41}) {
    TEdbPage* p = pm->GetPage(0, nos[0], true, ptTableRecord);
    p->SetChangeCounter(start);
    p->SetDirty(true);
    pm->ReleasePage(p);
    pm->Commit(0);
    EXPECT_EQ(int32_t(U32At(*bytes, 380 + 4096 * size_t(nos[0]) + 4)), start == 41 ? 42 : 0)
        << start;
  }
  EXPECT_EQ(pm->ReadPageChangeCounter(nos[0]), 42);
  EXPECT_EQ(pm->ReadPageChangeCounter(100000), kEdbFreedPageCounter);  // read beyond the end
}

TEST(EdbDiskPageManager, SessionsCommitRollbackAndDelete) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 3);
  auto pm = OpenMemory(bytes);
  const int32_t counter = int32_t(U32At(*bytes, 38));
  // Two sessions asking for the same page: the second fails while the first holds it.
  TEdbPage* a = pm->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_EQ(CodeOf([&] { pm->GetPage(1, nos[0], true, ptTableRecord); }),
            errc::kPageUsedByOtherSession);
  TEdbPage* again = pm->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_EQ(again, a);
  EXPECT_EQ(a->UseCount(), 2);
  Fill(a, 5);
  a->SetDirty(true);
  pm->DeletePage(0, nos[1]);  // gives the session work to commit
  EXPECT_EQ(CodeOf([&] { pm->Commit(0); }),
            errc::kSessionPagesNotReleased);  // a page is still in use
  pm->ReleasePage(a);
  pm->ReleasePage(a);
  EXPECT_EQ(pm->ChangedPageCount(0), 1u);
  // Session 1 sees the committed copy, not session 0's change.
  TEdbPage* other = pm->GetPage(1, nos[0], true, ptTableRecord);
  EXPECT_TRUE(HasFill(other, 1));
  pm->ReleasePage(other);
  pm->Rollback(0);
  EXPECT_EQ(pm->ChangedPageCount(0), 0u);
  TEdbPage* back = pm->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_TRUE(HasFill(back, 1));
  pm->ReleasePage(back);
  EXPECT_EQ(int32_t(U32At(*bytes, 38)), counter);  // nothing committed

  // A rolled-back added page gives its number back.
  TEdbPage* added = pm->AddPage(0, ptTableBlob);
  const int32_t addedNo = added->PageNo();
  EXPECT_EQ(CodeOf([&] { pm->Rollback(0); }), errc::kRollbackPageInUse);
  pm->ReleasePage(added);
  pm->Rollback(0);
  EXPECT_FALSE(pm->FreeSpaceMap()->IsPageUsed(addedNo));

  // Delete at commit: the number is freed, its counter on disk marks it.
  EXPECT_EQ(CodeOf([&] { pm->DeletePage(0, 1); }), errc::kCannotDeleteMapPage);
  pm->DeletePage(0, nos[2]);
  pm->Commit(0);
  EXPECT_FALSE(pm->FreeSpaceMap()->IsPageUsed(nos[2]));
  EXPECT_EQ(pm->ReadPageChangeCounter(nos[2]), kEdbFreedPageCounter);
  EXPECT_EQ(int32_t(U32At(*bytes, 38)), counter + 1);
  EXPECT_EQ((*bytes)[42], 2);
  // A commit with nothing to do writes nothing.
  pm->Commit(0);
  EXPECT_EQ(int32_t(U32At(*bytes, 38)), counter + 1);
}

TEST(EdbDiskPageManager, CacheStaysWithinCapacity) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 60, {}, 512);
  auto pm = OpenMemory(bytes);
  pm->SetCacheCapacity(10);
  for (int round = 0; round < 2; ++round)
    for (int32_t n : nos) {
      TEdbPage* p = pm->GetPage(0, n, true, ptTableRecord);
      ASSERT_TRUE(HasFill(p, 1));
      pm->ReleasePage(p);
      EXPECT_LE(pm->CachedPageCount(), 11u);
    }
  // A page held by a caller is never evicted, and the cache still shrinks around it.
  TEdbPage* held = pm->GetPage(0, nos[0], true, ptTableRecord);
  for (int32_t n : nos) pm->ReleasePage(pm->GetPage(0, n, true, ptTableRecord));
  EXPECT_LE(pm->CachedPageCount(), 11u);
  EXPECT_TRUE(HasFill(held, 1));
  pm->ReleasePage(held);
}

TEST(EdbDiskPageManager, DirectPartialAccessAndPageByteLocks) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 2, {"pw", ciBlowfish});
  auto pm = OpenMemory(bytes, {"pw", 0});
  uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  pm->WritePagePart(buf, nos[1], 8, 4088);
  EXPECT_EQ((*bytes)[380 + 4096 * size_t(nos[1]) + 4095], 8);
  uint8_t back[8] = {};
  pm->ReadPagePart(back, nos[1], 8, 4088);
  EXPECT_EQ(0, std::memcmp(back, buf, 8));
  EXPECT_EQ(CodeOf([&] { pm->ReadPagePart(back, nos[1], 8, 4089); }), errc::kInvalidPageOffsetRead);
  EXPECT_EQ(CodeOf([&] { pm->WritePagePart(buf, nos[1], 8, 4089); }),
            errc::kInvalidPageOffsetWrite);
  ASSERT_TRUE(pm->LockPageByte(nos[0], 17));
  EXPECT_TRUE(pm->IsPageByteLocked(nos[0], 17));
  EXPECT_TRUE(pm->IsPageRegionLocked(nos[0], 0, 40));
  EXPECT_FALSE(pm->IsPageRegionLocked(nos[0], 18, 100));
  EXPECT_TRUE(pm->UnlockPageByte(nos[0], 17));
  EXPECT_FALSE(pm->IsPageByteLocked(nos[0], 17));
  // The header lock nests; while held by another file object the commit waits and fails.
  pm->LockHeader(errc::kLockedOnCommit);
  pm->LockHeader(errc::kLockedOnCommit);
  pm->UnlockHeader();
  EXPECT_TRUE(pm->File().IsByteLocked(pm->LockAreaOffset() + 4));
  pm->UnlockHeader();
  EXPECT_FALSE(pm->File().IsByteLocked(pm->LockAreaOffset() + 4));
  ASSERT_TRUE(pm->File().LockBytes(pm->LockAreaOffset() + 4, 1));  // stands in for another process
  TEdbPage* p = pm->GetPage(0, nos[0], true, ptTableRecord);
  p->SetDirty(true);
  pm->ReleasePage(p);
  EXPECT_EQ(CodeOf([&] { pm->Commit(0); }), errc::kLockedOnCommit);
  EXPECT_EQ(CodeOf([&] { pm->GetTotalPageCount(); }), errc::kLockedOnPageCount);
  pm->File().UnlockBytes(pm->LockAreaOffset() + 4, 1);
  pm->Commit(0);
  EXPECT_EQ(pm->GetTotalPageCount(), 6);
}

TEST(EdbDiskPageManager, ObjectIdsAndReadOnlyOpen) {
  Bytes bytes = NewBytes();
  MakeDatabase(bytes, 1);
  auto pm = OpenMemory(bytes);
  EXPECT_EQ(pm->NextObjectID(), 1);
  EXPECT_EQ(pm->NextObjectID(), 2);
  pm->CloseDatabase();
  auto store = std::make_unique<TEdbMemoryFileStore>(bytes);
  store->SetReadOnly(true);
  TEdbDiskPageManager ro(std::move(store), 8);
  TEdbPassword pw;
  bool mu = true, nr = false, readOnly = false;
  ro.OpenDatabase("x", pw, mu, false, nr, readOnly);
  EXPECT_TRUE(readOnly);
  EXPECT_FALSE(mu);
  const std::vector<uint8_t> before = *bytes;
  const int32_t id = ro.NextObjectID();
  EXPECT_GE(id, 3);
  EXPECT_LT(id, 3 + 10000);
  EXPECT_EQ(*bytes, before);
}

TEST(EdbDiskPageManager, RealFileRoundTripAndExclusiveOpen) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      ("edb_pm_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "real.abs").string();
  {
    TEdbDiskPageManager pm;
    pm.CreateDatabase(path, {"pw", ciRijndael256});
    TEdbPage* p = pm.AddPage(kEdbSystemSession, ptTableList);
    Fill(p, 3);
    pm.ReleasePage(p);
    pm.Commit(kEdbSystemSession);
    pm.CloseDatabase();
  }
  TEdbDiskPageManager pm;
  TEdbPassword pw{"pw", 0};
  bool mu = true, nr = true, ro = false;
  pm.OpenDatabase(path, pw, mu, true, nr, ro);
  EXPECT_FALSE(mu);  // exclusive forces single-user
  EXPECT_FALSE(nr);
  TEdbPage* p = pm.GetPage(0, 2, true, ptTableList);
  EXPECT_TRUE(HasFill(p, 3));
  pm.ReleasePage(p);
  TEdbDiskPageManager second;
  bool mu2 = false, nr2 = false, ro2 = false;
  EXPECT_EQ(CodeOf([&] { second.OpenDatabase(path, pw, mu2, false, nr2, ro2); }),
            errc::kCannotOpenFile);
  EXPECT_EQ(CodeOf([&] { pm.OpenDatabase(path, pw, mu2, false, nr2, ro2); }),
            errc::kOpenDatabaseInUse);
  pm.CloseDatabase();
  // Shared read-write opens: while one holds the header lock, another cannot open.
  mu2 = true;
  ro2 = false;
  pm.OpenDatabase(path, pw, mu2, false, nr2, ro2);
  ro2 = false;
  pm.LockHeader(errc::kLockedOnCommit);
  second.SetLockWait(2, 1);
  EXPECT_EQ(CodeOf([&] { second.OpenDatabase(path, pw, mu2, false, nr2, ro2); }),
            errc::kLockedOnOpen);
  EXPECT_FALSE(second.IsOpen());
  pm.UnlockHeader();
  second.OpenDatabase(path, pw, mu2, false, nr2, ro2);
  second.CloseDatabase();
  pm.CloseDatabase();
  std::filesystem::remove_all(dir);
}

TEST(EdbDiskPageManager, MultiUserRevalidatesCachedPagesByChangeCounter) {
  Bytes bytes = NewBytes();
  std::vector<int32_t> nos = MakeDatabase(bytes, 2);
  // Two managers over the same bytes stand in for two processes sharing the file.
  auto openShared = [&](bool multiUser) {
    auto pm = MemoryManager(bytes);
    TEdbPassword pw;
    bool mu = multiUser, nr = false, ro = false;
    pm->OpenDatabase("shared.abs", pw, mu, false, nr, ro);
    return pm;
  };
  auto reader = openShared(true);
  auto single = openShared(false);
  auto writer = openShared(true);
  ASSERT_TRUE(reader->MultiUser());
  for (auto* pm : {reader.get(), single.get()})
    pm->ReleasePage(pm->GetPage(0, nos[0], true, ptTableRecord));
  TEdbPage* w = writer->GetPage(0, nos[0], true, ptTableRecord);
  Fill(w, 77);
  w->SetDirty(true);
  writer->ReleasePage(w);
  writer->Commit(0);
  // The multi-user reader notices the new change counter and reads the page again; a
  // single-user manager trusts its cache; without sync nobody looks.
  TEdbPage* stale = reader->GetPage(0, nos[0], false, ptTableRecord);
  EXPECT_TRUE(HasFill(stale, 1));
  reader->ReleasePage(stale);
  TEdbPage* fresh = reader->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_TRUE(HasFill(fresh, 77));
  reader->ReleasePage(fresh);
  TEdbPage* cached = single->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_TRUE(HasFill(cached, 1));
  single->ReleasePage(cached);
  // With the table layer's hook saying the page is current, no re-read happens.
  reader->SetCurrencyHooks([](int32_t, TEdbPage*) { return true; }, nullptr);
  TEdbPage* w2 = writer->GetPage(0, nos[0], true, ptTableRecord);
  Fill(w2, 78);
  w2->SetDirty(true);
  writer->ReleasePage(w2);
  writer->Commit(0);
  TEdbPage* trusted = reader->GetPage(0, nos[0], true, ptTableRecord);
  EXPECT_TRUE(HasFill(trusted, 77));
  reader->ReleasePage(trusted);
}
