// The format writer's files read back by the reader: the new-database layout, every field type,
// multi-level page indexes with deleted slots, page order, passwords and compressed metadata.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "EdbCursor.h"
#include "EdbCompression.h"
#include "EdbException.h"
#include "EdbFormatWriter.h"
#include "EdbTablesTestImage.h"

using namespace edb;

namespace {

using Shared = std::shared_ptr<std::vector<uint8_t>>;

std::unique_ptr<IEdbFileStore> StoreOn(const Shared& bytes) {
  return std::make_unique<TEdbMemoryFileStore>(bytes);
}

int32_t Le32At(const std::vector<uint8_t>& b, size_t off) {
  return int32_t(b[off] | b[off + 1] << 8 | b[off + 2] << 16 | uint32_t(b[off + 3]) << 24);
}

// Records every value and answers references (page 1000 + n, ID n).
struct FakeBlobStore : IEdbBlobStore {
  std::vector<std::string> values;
  void StoreBlob(TEdbBlobWriteContext& ctx, int, const uint8_t* data, size_t size,
                 uint8_t reference[6]) override {
    EXPECT_EQ(ctx.Session, kEdbSystemSession);
    values.emplace_back(reinterpret_cast<const char*>(data), size);
    int n = int(values.size());
    edbtest::Le32(reference, uint32_t(1000 + n));
    edbtest::Le16(reference + 4, uint16_t(n));
  }
};

struct Reader {
  TEdbDiskDatabaseData db;
  std::shared_ptr<TEdbTableData> table;
  Reader(const Shared& bytes, const std::string& name, const TEdbPassword& pw = {}) {
    db.Open("w.abs", pw, {}, StoreOn(bytes));
    table = TEdbTableData::Load(db, name, db.Connect());
  }
  std::vector<int32_t> Ids(int field = 0) {
    TEdbRecordCursor c(db, *table, 0);
    std::vector<int32_t> ids;
    for (bool ok = c.First(); ok; ok = c.Next()) ids.push_back(Le32(c.FieldData(field)));
    return ids;
  }
  static int32_t Le32(const uint8_t* p) {
    return int32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24);
  }
};

int DeleteCode(TEdbTableWriter& t, const TEdbRecordId& id) {
  try {
    t.Delete(id);
  } catch (const EEdbException& e) {
    return e.NativeError();
  }
  return 0;
}

// ID AUTOINC plus a wide text: R = 1 + 4 + 1001 = 1006, so four records per 4096-byte page.
std::vector<TEdbFieldDef> WideRecordFields() {
  return {EdbMakeFieldDef("ID", aftAutoinc), EdbMakeFieldDef("PAD", aftString, 1000)};
}

}  // namespace

TEST(EdbFormatWriter, NewDatabaseLayout) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  TEdbFormatWriter w;
  w.CreateDatabase("new.abs", {}, {}, StoreOn(bytes));
  w.Close();
  const auto& b = *bytes;
  ASSERT_EQ(b.size(), 380u + 6 * 4096);
  EXPECT_EQ(Le32At(b, 30), 6);  // total page count
  EXPECT_EQ(Le32At(b, 34), 4);  // last allocated page
  // System directory on page 2: preamble 10, 10, 10, 0, entries (2, 3) and (1, 4).
  const size_t dir = 380 + 2 * 4096;
  EXPECT_EQ(b[dir + 8], 4);  // page type
  const std::vector<uint8_t> expect = {10, 10, 0, 0, 0, 10, 0, 0, 0, 0,
                                       2,  3,  0, 0, 0, 1,  4, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + dir + 40, b.begin() + dir + 60), expect);
  // Connection-slot file on page 3: stored size 500, full size 0; table list on page 4: empty.
  EXPECT_EQ(b[380 + 3 * 4096 + 8], 5);
  EXPECT_EQ(Le32At(b, 380 + 3 * 4096 + 41), 500);
  EXPECT_EQ(Le32At(b, 380 + 3 * 4096 + 45), 0);
  EXPECT_EQ(b[380 + 4 * 4096 + 8], 6);
  EXPECT_EQ(Le32At(b, 380 + 4 * 4096 + 41), 0);

  TEdbDiskDatabaseData db;
  db.Open("new.abs", {}, {}, StoreOn(bytes));
  EXPECT_EQ(db.MaxConnections(), 500);
  EXPECT_TRUE(db.GetTableNames().empty());
  EXPECT_FALSE(db.NeedsRepair());
}

TEST(EdbFormatWriter, EveryFieldTypeRoundTrips) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  FakeBlobStore blobs;
  std::vector<TEdbFieldDef> fields;
  for (uint8_t t = 1; t <= 36; ++t)
    fields.push_back(EdbMakeFieldDef("F" + std::to_string(t), t, 8));
  std::vector<std::vector<uint8_t>> written;
  {
    TEdbFormatWriter w;
    w.SetBlobStore(&blobs);
    w.CreateDatabase("t.abs", {}, {}, StoreOn(bytes));
    TEdbTableWriter& t = w.CreateTable("AllTypes", fields, {"F7", "F12"});
    // Record 0: everything NULL (autoinc fields get their counters).
    TEdbRecordBuilder r0 = t.NewRecord();
    r0.SetInt(6, 0);  // F7 is required by the constraint but the writer does not police it
    t.Insert(r0);
    // Record 1: edge values.
    TEdbRecordBuilder r = t.NewRecord();
    r.SetAnsiString(0, "12345678TOO-LONG");  // CHAR(8): cut to 8, terminator kept
    r.SetAnsiString(1, "\xE9t\xE9");         // VARCHAR: ANSI bytes
    r.SetWideString(2, u"\u00e9\u4e2d");     // WIDECHAR
    r.SetWideString(3, u"12345678");         // WIDESTRING(8) full length
    r.SetInt(4, -128);
    r.SetInt(5, -32768);
    r.SetInt(6, INT32_MIN);
    r.SetInt(7, INT64_MIN);
    r.SetInt(8, 255);
    r.SetInt(9, 65535);
    r.SetInt(10, 4294967295LL);
    r.SetInt(11, 77);  // explicit autoinc value
    r.SetDouble(19, 1.5);
    r.SetDouble(20, -2.25e300);
    r.SetDouble(21, 3.0);
    r.SetBool(22, true);
    r.SetDouble(23, 12.34);
    r.SetDate(24, 693594);
    r.SetTime(25, 86399999);
    r.SetDateTime(26, 730120, 43200000);
    r.SetDateTime(27, 693593, -21600000);
    r.SetBytes(28, std::string("\x00\x01\x02", 3));
    r.SetBytes(29, std::string("\x02\x00zz", 4));
    r.SetBlob(30, "blob bytes");
    r.SetBlob(32, "memo text");
    r.SetBlob(33, "");  // empty BLOB is NULL
    r.SetAnsiString(35, "{00000000-0000-0000-0000-000000000000}");
    t.Insert(r);
    written.push_back(r0.Stored());
    written.push_back(r.Stored());
    w.Close();
  }
  Reader rd(bytes, "alltypes");
  const auto& md = rd.table->Metadata;
  ASSERT_EQ(md.Fields.size(), 36u);
  EXPECT_TRUE(md.IsRequired(6));
  EXPECT_FALSE(md.IsRequired(11));  // autoinc kind is never required
  EXPECT_EQ(md.Fields[30].StoredSize, 6u);
  EXPECT_EQ(md.Fields[30].BufferSize, 10u);

  TEdbRecordCursor c(rd.db, *rd.table, 0);
  ASSERT_TRUE(c.First());
  for (int f = 0; f < 36; ++f) {
    if (!md.Fields[size_t(f)].IsAutoinc() && f != 6) {
      EXPECT_TRUE(c.IsNull(f)) << f;
    }
  }
  EXPECT_EQ(Reader::Le32(c.FieldData(11)), 1);  // AUTOINC starts at 1
  EXPECT_EQ(c.FieldData(12)[0], 1);             // AUTOINCSHORTINT: 1 byte
  ASSERT_TRUE(c.Next());
  const uint8_t* rec = c.Record();
  // Byte-exact against what was composed, except for the fields the writer fills in.
  for (int f = 0; f < 36; ++f) {
    const auto& fd = md.Fields[size_t(f)];
    if (fd.IsAutoinc() || fd.IsBlob()) continue;
    EXPECT_EQ(std::vector<uint8_t>(rec + fd.StoredOffset, rec + fd.StoredOffset + fd.StoredSize),
              std::vector<uint8_t>(written[1].begin() + fd.StoredOffset,
                                   written[1].begin() + fd.StoredOffset + fd.StoredSize))
        << f;
  }
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.FieldData(0))), "12345678");
  EXPECT_EQ(c.FieldData(3)[16], 0);  // WIDESTRING(8): 8 units then the terminator
  EXPECT_EQ(c.FieldData(3)[14], '8');
  EXPECT_EQ(Reader::Le32(c.FieldData(11)), 77);
  EXPECT_EQ(Reader::Le32(c.FieldData(26)), 730120);
  EXPECT_EQ(Reader::Le32(c.FieldData(26) + 4), 43200000);
  EXPECT_EQ(Reader::Le32(c.FieldData(27) + 4), -21600000);
  // Extended 3.0: mantissa 0xC000000000000000, exponent 0x4000.
  EXPECT_EQ(c.FieldData(21)[7], 0xC0);
  EXPECT_EQ(c.FieldData(21)[8], 0x00);
  EXPECT_EQ(c.FieldData(21)[9], 0x40);
  // BLOB references came from the store; the empty BLOB stayed NULL.
  EXPECT_EQ(Reader::Le32(c.FieldData(30)), 1001);
  EXPECT_EQ(c.FieldData(32)[4], 2);
  EXPECT_TRUE(c.IsNull(33));
  EXPECT_EQ(blobs.values, (std::vector<std::string>{"blob bytes", "memo text"}));
  EXPECT_FALSE(c.Next());
  EXPECT_EQ(rd.table->State.AutoincCounters[11], 77);
}

TEST(EdbFormatWriter, MultiLevelIndexWithDeletedSlots) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  std::vector<TEdbRecordId> ids;
  {
    TEdbFormatWriter w;
    w.SetMaxIndexItems(3);
    w.SetAutoCommitEvery(37);
    w.CreateDatabase("m.abs", {}, {}, StoreOn(bytes));
    TEdbTableWriter& t = w.CreateTable("Wide", WideRecordFields());
    for (int i = 0; i < 300; ++i) ids.push_back(t.Insert(t.NewRecord()));
    EXPECT_EQ(ids[4].Slot, 0);  // four per page
    EXPECT_NE(ids[4].PageNo, ids[3].PageNo);
    w.Commit();
    // Holes: every third record, and the whole tenth page (records 37..40).
    for (int i = 0; i < 300; i += 3) t.Delete(ids[size_t(i)]);
    for (int i = 36; i < 40; ++i)
      if (i % 3) t.Delete(ids[size_t(i)]);
    EXPECT_EQ(DeleteCode(t, ids[0]), errc::kRecordNotFoundOnPage);
    w.Close();
  }
  std::vector<int32_t> expect;
  for (int i = 0; i < 300; ++i)
    if (i % 3 && (i < 36 || i >= 40)) expect.push_back(i + 1);

  Reader rd(bytes, "WIDE");
  EXPECT_EQ(rd.table->RecordCount(), int64_t(expect.size()));
  EXPECT_EQ(rd.Ids(), expect);

  // Four levels: 74 record pages -> 25 leaves -> 9 -> 3 -> 1.
  auto& pm = rd.db.PageManager();
  int levels = 0;
  for (int32_t p = rd.table->Metadata.RecordPageIndexRoot;; ++levels) {
    TEdbPageRef ref(pm.GetPage(0, p, true, ptTableIndex));
    auto v = TEdbBTreePageView::Parse(ref->Data(), ref->DataSize());
    if (v.IsLeaf) break;
    p = v.Child(0);
  }
  EXPECT_EQ(levels, 3);

  // Backwards from the last record, and record numbers.
  TEdbDiskRecordManager rm(pm, *rd.table, 0);
  TEdbRecordId id;
  std::vector<int32_t> back;
  for (auto r = rm.Navigate(TEdbNavDirection::Prior, false, true, id); r == nrFound;
       r = rm.Navigate(TEdbNavDirection::Prior, false, false, id))
    back.push_back(Reader::Le32(rm.StoredRecord() + 1));
  EXPECT_EQ(back, std::vector<int32_t>(expect.rbegin(), expect.rend()));
  for (int64_t n : {int64_t(1), int64_t(25), int64_t(100), int64_t(expect.size())}) {
    TEdbRecordId rid = rm.RecNoToRecordId(n);
    EXPECT_EQ(rm.RecordIdToRecNo(rid), n);
    ASSERT_EQ(rm.Navigate(TEdbNavDirection::Current, false, false, rid), nrFound);
    EXPECT_EQ(Reader::Le32(rm.StoredRecord() + 1), expect[size_t(n - 1)]);
  }
}

TEST(EdbFormatWriter, WalkFollowsPageNumbersNotAllocationOrder) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  std::vector<int32_t> bPages;
  {
    TEdbFormatWriter w;
    w.CreateDatabase("o.abs", {}, {}, StoreOn(bytes));
    TEdbTableWriter& a = w.CreateTable("A", WideRecordFields());
    TEdbTableWriter& b = w.CreateTable("B", WideRecordFields());
    std::vector<TEdbRecordId> aIds;
    for (int i = 0; i < 40; ++i) aIds.push_back(a.Insert(a.NewRecord()));
    for (int i = 0; i < 8; ++i) bPages.push_back(b.Insert(b.NewRecord()).PageNo);
    w.Commit();
    for (const auto& id : aIds) a.Delete(id);
    w.Commit();  // A's pages are free again
    for (int i = 0; i < 8; ++i) bPages.push_back(b.Insert(b.NewRecord()).PageNo);
    w.Close();
  }
  ASSERT_LT(bPages[8], bPages[0]);  // the later records got lower page numbers
  Reader rd(bytes, "b");
  EXPECT_EQ(rd.Ids(),
            (std::vector<int32_t>{9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8}));
  TEdbRecordCursor c(rd.db, *rd.table, 0);
  int32_t last = -1;
  for (bool ok = c.First(); ok; ok = c.Next()) {
    EXPECT_GE(c.Id().PageNo, last);
    last = c.Id().PageNo;
  }
  Reader ra(bytes, "a");
  EXPECT_TRUE(ra.Ids().empty());
  EXPECT_EQ(ra.table->Metadata.RecordPageIndexRoot, -1);
}

TEST(EdbFormatWriter, EmptyTablesPasswordsAndCompressedMetadata) {
  for (uint8_t cipher : {uint8_t(ciRijndael128), uint8_t(ciDesTriple), uint8_t(ciBlowfish)}) {
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    TEdbPassword pw{"s3cret", cipher};
    {
      TEdbFormatWriter w;
      w.CreateDatabase("p.abs", pw, {}, StoreOn(bytes));
      w.CreateTable("Empty", WideRecordFields());
      TEdbTableWriter& z = w.CreateTable("Zipped", WideRecordFields(), {}, caZlib);
      TEdbTableWriter& bz = w.CreateTable("Bzipped", WideRecordFields(), {}, caBzip);
      for (int i = 0; i < 10; ++i) {
        z.Insert(z.NewRecord());
        bz.Insert(bz.NewRecord());
      }
      w.Close();
    }
    EXPECT_EQ((*bytes)[43], 0xFF);
    Reader e(bytes, "empty", pw);
    TEdbRecordCursor c(e.db, *e.table, 0);
    EXPECT_FALSE(c.First());
    EXPECT_TRUE(c.Eof());
    EXPECT_EQ(e.table->RecordCount(), 0);
    EXPECT_EQ(Reader(bytes, "ZIPPED", pw).Ids().size(), 10u);
    EXPECT_EQ(Reader(bytes, "bzipped", pw).Ids().size(), 10u);
    try {
      Reader bad(bytes, "Empty", TEdbPassword{"wrong", cipher});
      FAIL();
    } catch (const EEdbException& ex) {
      EXPECT_EQ(ex.NativeError(), errc::kIncorrectPassword);
    }
  }
}

TEST(EdbFormatWriter, ManyTablesAndWriterErrors) {
  auto bytes = std::make_shared<std::vector<uint8_t>>();
  {
    TEdbFormatWriter w;
    w.CreateDatabase("n.abs", {}, {}, StoreOn(bytes));
    for (int i = 0; i < 20; ++i)
      w.CreateTable("Table" + std::to_string(i), {EdbMakeFieldDef("ID", aftInteger)});
    try {
      w.CreateTable("TABLE3", {EdbMakeFieldDef("ID", aftInteger)});
      FAIL();
    } catch (const EEdbException& e) {
      EXPECT_EQ(e.NativeError(), errc::kTableExists);
    }
    try {
      w.CreateTable("Big", {EdbMakeFieldDef("S", aftString, 4055)});
      FAIL();
    } catch (const EEdbException& e) {
      EXPECT_EQ(e.NativeError(), errc::kRecordTooLarge);
    }
    try {
      w.CreateTable("Dup", {EdbMakeFieldDef("S", aftInteger), EdbMakeFieldDef("s", aftInteger)});
      FAIL();
    } catch (const EEdbException& e) {
      EXPECT_EQ(e.NativeError(), errc::kDuplicateFieldName);
    }
    TEdbTableWriter& t = w.Table("table19");
    TEdbRecordBuilder r = t.NewRecord();
    EXPECT_THROW(r.SetBlob(0, "x"), EEdbException);  // not a BLOB field
    w.Close();
  }
  TEdbDiskDatabaseData db;
  db.Open("n.abs", {}, {}, StoreOn(bytes));
  auto names = db.GetTableNames();
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(names[19], "Table19");
  // 20 entries of 272 bytes run over two pages of the table list.
  EXPECT_EQ(db.FindTable("TABLE17").Name, "Table17");
}

// Writes the seed corpus of the table-walk fuzzer when MRV_WRITE_FUZZ_SEEDS names a folder.
TEST(EdbFormatWriter, WritesFuzzSeedsWhenAsked) {
  const char* dir = std::getenv("MRV_WRITE_FUZZ_SEEDS");
  if (!dir) GTEST_SKIP() << "MRV_WRITE_FUZZ_SEEDS not set";
  auto save = [&](const std::string& name, const Shared& bytes) {
    std::FILE* f = std::fopen((std::string(dir) + "/" + name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes->data(), 1, bytes->size(), f);
    std::fclose(f);
  };
  TEdbCreateOptions small;
  small.PageSize = 1024;
  {
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    TEdbFormatWriter w;
    w.SetMaxIndexItems(3);
    w.CreateDatabase("s.abs", {}, small, StoreOn(bytes));
    TEdbTableWriter& t =
        w.CreateTable("T", {EdbMakeFieldDef("ID", aftAutoinc), EdbMakeFieldDef("S", aftString, 150),
                            EdbMakeFieldDef("D", aftDateTime)});
    std::vector<TEdbRecordId> ids;
    for (int i = 0; i < 40; ++i) {
      TEdbRecordBuilder r = t.NewRecord();
      if (i % 4) r.SetAnsiString(1, "value " + std::to_string(i));
      r.SetDateTime(2, 730120 + i, i * 1000);
      ids.push_back(t.Insert(r));
    }
    for (int i = 0; i < 40; i += 5) t.Delete(ids[size_t(i)]);
    w.CreateTable("Empty", {EdbMakeFieldDef("X", aftWideString, 10)}, {"X"}, caZlib);
    w.Close();
    save("multi_level.seed", bytes);
  }
  {
    auto bytes = std::make_shared<std::vector<uint8_t>>();
    TEdbFormatWriter w;
    w.CreateDatabase("s.abs", {}, small, StoreOn(bytes));
    std::vector<TEdbFieldDef> fields;
    for (uint8_t t = 1; t <= 30; ++t)
      fields.push_back(EdbMakeFieldDef("F" + std::to_string(t), t, 4));
    TEdbTableWriter& t = w.CreateTable("Types", fields, {"F7"}, caBzip);
    for (int i = 0; i < 5; ++i) {
      TEdbRecordBuilder r = t.NewRecord();
      r.SetInt(6, i);
      t.Insert(r);
    }
    w.Close();
    save("types.seed", bytes);
  }
}
