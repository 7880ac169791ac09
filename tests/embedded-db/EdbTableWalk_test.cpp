// Reading hand-built database images: system files, table lookup, the record page index and
// record navigation, and the corrupt-input families with their native codes.

#include <gtest/gtest.h>

#include "EdbCursor.h"
#include "EdbDiskDatabase.h"
#include "EdbException.h"
#include "EdbTablesTestImage.h"

using namespace edb;
using namespace edbtest;

namespace {

constexpr int32_t kTableId = 101;

// Table "Grey": ID INTEGER, NAME VARCHAR(10). Stored record: 1 + 4 + 11 = 16 bytes, so
// n = trunc(4055 / 16.125) = 251 slots behind a 32-byte bitmap.
// Record pages 11, 12 and 14 (and 13 of another table); index root 8 over leaves 9 [11, 12]
// and 10 [14]. Records: (11,0) ID 1, (11,5) ID 2, (12,2) ID 3 with NAME null, (14,250) ID 4.
struct GreyImage {
  Image img{16};
  std::vector<uint8_t> meta;

  GreyImage() {
    img.Page(0, 3, -1, -1);
    img.Page(1, 2, -1, -1);
    img.SystemFiles(TableListEntry("Grey", kTableId, 5, 6, 7));
    Bytes m;
    m.i32(2);
    FieldDef(m, "ID", 1, 7, 7, 0);
    FieldDef(m, "NAME", 2, 3, 2, 10);
    m.i32(0).i32(0).i32(8).i32(-1);
    meta = m.b;
    img.InternalFile(8, meta, {5});
    img.InternalFile(9, Bytes().i32(2).i64(0).i64(0).i32(9).i32(4).b, {6});
    img.InternalFile(7, {}, {7}, 6000);
    BTreePage(img, 8, true, false, -1, -1, {{11, 9}, {14, 10}});
    BTreePage(img, 9, false, true, -1, 10, {{11, 2}, {12, 1}});
    BTreePage(img, 10, false, true, 9, -1, {{14, 1}});
    for (int32_t p : {11, 12, 13, 14}) img.Page(p, 10, -1, p == 13 ? 999 : kTableId);
    Record(11, 0, 1, "alpha");
    Record(11, 5, 2, "beta");
    Record(12, 2, 3, nullptr);
    Record(14, 250, 4, "ABCDEFGHIJ");
    Record(13, 0, 99, "foreign");
  }

  void Record(int32_t page, uint32_t slot, int32_t id, const char* name) {
    uint8_t* d = img.Data(page);
    d[slot / 8] |= uint8_t(1u << (slot % 8));
    uint8_t* r = d + 32 + slot * 16;
    r[0] = name ? 0 : 2;  // NAME's null bit
    Le32(r + 1, uint32_t(id));
    if (name) std::memcpy(r + 5, name, std::strlen(name));
  }
};

struct Opened {
  TEdbDiskDatabaseData db;
  std::shared_ptr<TEdbTableData> table;
  explicit Opened(Image& img, const char* name = "grey") {
    db.Open("image.abs", TEdbPassword{}, {}, img.Store());
    table = TEdbTableData::Load(db, name, db.Connect());
  }
};

std::vector<int32_t> WalkIds(Opened& o) {
  TEdbRecordCursor c(o.db, *o.table, 0);
  std::vector<int32_t> ids;
  for (bool ok = c.First(); ok; ok = c.Next())
    ids.push_back(int32_t(c.Record()[1] | c.Record()[2] << 8 | c.Record()[3] << 16));
  return ids;
}

template <class F>
int CodeOf(F&& f) {
  try {
    f();
  } catch (const EEdbException& e) {
    return e.NativeError();
  }
  return 0;
}

}  // namespace

TEST(EdbTableWalk, WalksHandBuiltTableInPageOrder) {
  GreyImage g;
  Opened o(g.img);
  EXPECT_EQ(o.db.MaxConnections(), 500);
  EXPECT_EQ(o.db.GetTableNames(), std::vector<std::string>{"Grey"});
  EXPECT_EQ(o.table->TableID(), kTableId);
  EXPECT_EQ(o.table->RecordCount(), 4);
  EXPECT_EQ(o.table->State.ChangeCounter, 9);
  EXPECT_EQ(o.table->Geometry.RecordsPerPage, 251u);

  TEdbRecordCursor c(o.db, *o.table, 0);
  ASSERT_TRUE(c.First());
  std::vector<std::pair<int32_t, int>> ids;
  std::vector<std::string> names;
  do {
    ids.push_back({c.Id().PageNo, c.Id().Slot});
    names.push_back(c.IsNull(1) ? "<null>" : reinterpret_cast<const char*>(c.FieldData(1)));
  } while (c.Next());
  EXPECT_TRUE(c.Eof());
  EXPECT_EQ(c.Id().PageNo, 14);  // the last record stays current
  EXPECT_EQ(ids, (std::vector<std::pair<int32_t, int>>{{11, 0}, {11, 5}, {12, 2}, {14, 250}}));
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "beta", "<null>", "ABCDEFGHIJ"}));
  EXPECT_EQ(WalkIds(o), (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST(EdbTableWalk, NavigationRequestsAndRecordNumbers) {
  GreyImage g;
  Opened o(g.img);
  TEdbDiskRecordManager rm(o.db.PageManager(), *o.table, 0);
  TEdbRecordId id;
  std::vector<uint8_t> buf(o.table->Metadata.BufferRecordSize);
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Prior, false, true, id, buf.data()), nrFound);
  EXPECT_EQ(id, (TEdbRecordId{14, 250}));
  EXPECT_EQ(buf[1], 4);
  std::vector<int> back;
  while (rm.Navigate(TEdbNavDirection::Prior, false, false, id) == nrFound)
    back.push_back(rm.StoredRecord()[1]);
  EXPECT_EQ(back, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Prior, true, false, id), nrBeforeFirst);
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Next, false, true, id), nrAfterLast);
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Next, true, false, id), nrFound);
  EXPECT_EQ(id, (TEdbRecordId{11, 0}));
  id = {14, 250};
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Next, false, false, id), nrAfterLast);
  id = {11, 3};  // a hole
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Current, false, false, id), nrNotFound);
  id = {11, 5};
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Current, false, false, id), nrFound);
  id = {13, 0};  // another table's page
  EXPECT_EQ(rm.Navigate(TEdbNavDirection::Current, false, false, id), nrNotFound);

  EXPECT_EQ(rm.RecNoToRecordId(3), (TEdbRecordId{12, 2}));
  EXPECT_EQ(rm.RecNoToRecordId(2), (TEdbRecordId{11, 5}));
  EXPECT_EQ(rm.RecordIdToRecNo({14, 250}), 4);
  EXPECT_EQ(rm.RecordIdToRecNo({11, 5}), 2);
  EXPECT_EQ(CodeOf([&] { rm.RecNoToRecordId(5); }), errc::kRecNoBeyondCount);
  rm.CheckRecordCount();
  EXPECT_EQ(CodeOf([&] { rm.RecordIdToRecNo({13, 0}); }), errc::kIndexRecNoPageNotIndexed);
  id = {13, 0};
  EXPECT_EQ(CodeOf([&] { rm.Navigate(TEdbNavDirection::Next, false, false, id); }),
            errc::kIndexNextPageNotIndexed);
}

TEST(EdbTableWalk, TableLookupIsAsciiCaseInsensitive) {
  GreyImage g;
  std::vector<uint8_t> list = TableListEntry("Grey", kTableId, 5, 6, 7);
  auto second = TableListEntry("\xC4mter", 102, 5, 6, 7);
  list.insert(list.end(), second.begin(), second.end());
  list.insert(list.end(), 100, 0);  // a partial entry is ignored
  g.img.InternalFile(6, list, {4});
  TEdbDiskDatabaseData db;
  db.Open("x", TEdbPassword{}, {}, g.img.Store());
  EXPECT_EQ(db.GetTableNames().size(), 2u);
  EXPECT_EQ(db.FindTable("GREY").TableID, kTableId);
  EXPECT_EQ(db.FindTable("gReY").TableID, kTableId);
  EXPECT_EQ(db.FindTable("\xC4MTER").TableID, 102);
  // Non-ASCII letters must match exactly.
  EXPECT_EQ(CodeOf([&] { db.FindTable("\xE4mter"); }), errc::kTableNotFound);
  try {
    db.FindTable("Nope");
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_STREQ(e.what(), "Table 'Nope' not exists. - Native error: 30396");
  }
}

TEST(EdbTableWalk, FirstPageOfAnotherTableOrEmptyCountFindsNothing) {
  {
    GreyImage g;
    BTreePage(g.img, 8, true, false, -1, -1, {{13, 9}, {14, 10}});
    BTreePage(g.img, 9, false, true, -1, 10, {{13, 1}});
    Opened o(g.img);
    EXPECT_TRUE(WalkIds(o).empty());
  }
  {
    // Old files skip the acceptance test: the foreign page is read.
    GreyImage g;
    const double v = 2.98;
    std::memcpy(&g.img.Raw()[18], &v, 8);
    BTreePage(g.img, 8, true, false, -1, -1, {{13, 9}, {14, 10}});
    BTreePage(g.img, 9, false, true, -1, 10, {{13, 1}});
    Opened o(g.img);
    EXPECT_TRUE(o.db.NeedsRepair());
    EXPECT_EQ(WalkIds(o), (std::vector<int32_t>{99, 4}));
  }
  {
    GreyImage g;
    g.img.InternalFile(9, Bytes().i32(2).i64(0).i64(0).i32(9).i32(0).b, {6});
    Opened o(g.img);
    TEdbRecordCursor c(o.db, *o.table, 0);
    EXPECT_FALSE(c.First());
    EXPECT_TRUE(c.Eof());
    TEdbDiskRecordManager rm(o.db.PageManager(), *o.table, 0);
    TEdbRecordId id;
    EXPECT_EQ(rm.Navigate(TEdbNavDirection::Next, true, false, id), nrAfterLast);
    EXPECT_EQ(CodeOf([&] { rm.CheckRecordCount(); }), errc::kRecordCountMismatch);
  }
}

TEST(EdbTableWalk, CorruptInputFailsWithItsCode) {
  auto codeOfWalk = [](GreyImage& g) {
    return CodeOf([&] {
      Opened o(g.img);
      WalkIds(o);
    });
  };
  {  // metadata content ends inside the second field's name
    GreyImage g;
    std::vector<uint8_t> cut(g.meta.begin(), g.meta.begin() + 4 + 48 + 2);
    g.img.InternalFile(8, cut, {5});
    EXPECT_EQ(codeOfWalk(g), errc::kReadName);
  }
  {  // the chain ends before the stored size is collected
    GreyImage g;
    g.img.InternalFile(8, g.meta, {5}, 5000);
    EXPECT_EQ(codeOfWalk(g), errc::kInternalFileShortRead);
  }
  {  // a stored size no file of this size can hold
    GreyImage g;
    g.img.InternalFile(8, g.meta, {5}, 0x7FFFFFF0);
    EXPECT_EQ(codeOfWalk(g), errc::kInvalidDatabaseFormat);
  }
  {  // unknown BaseType
    GreyImage g;
    g.meta[4 + 1 + 2 + 4] = 30;
    g.img.InternalFile(8, g.meta, {5});
    EXPECT_EQ(codeOfWalk(g), errc::kUnknownDataType);
  }
  {  // a record that cannot fit a page: VARCHAR(5000)
    GreyImage g;
    Le32(&g.meta[4 + 48 + 5 + 4 + 2], 5000);
    g.img.InternalFile(8, g.meta, {5});
    EXPECT_EQ(codeOfWalk(g), errc::kRecordTooLarge);
  }
  {  // a page reached through the index is not a record page
    GreyImage g;
    g.img.Page(12, 11, -1, kTableId);
    EXPECT_EQ(codeOfWalk(g), errc::kInvalidPageType);
  }
  {  // an indexed page without records
    GreyImage g;
    std::memset(g.img.Data(12), 0, 32);
    EXPECT_EQ(codeOfWalk(g), errc::kRecordNotFoundOnPage);
  }
  {  // leaf chain that leads back to itself
    GreyImage g;
    BTreePage(g.img, 9, false, true, -1, 9, {{11, 2}, {12, 1}});
    EXPECT_EQ(codeOfWalk(g), errc::kInvalidDatabaseFormat);
  }
  {  // B-tree page whose items overrun the data area
    GreyImage g;
    Le16(g.img.Data(8) + 14, 2000);
    EXPECT_EQ(codeOfWalk(g), errc::kInvalidDatabaseFormat);
  }
  {  // missing sibling link where the walk needs one
    GreyImage g;
    BTreePage(g.img, 9, false, true, -1, -1, {{11, 2}, {12, 1}});
    EXPECT_EQ(codeOfWalk(g), errc::kIndexNextNoSibling);
  }
  {  // system directory without a table list
    GreyImage g;
    g.img.InternalFile(4, Bytes().u8(2).i32(3).b, {2});
    EXPECT_EQ(codeOfWalk(g), errc::kInvalidDatabaseFormat);
  }
  {  // table list page of the wrong type
    GreyImage g;
    g.img.Page(4, 8, -1, -1);
    EXPECT_EQ(codeOfWalk(g), errc::kInvalidPageType);
  }
  {  // connection-slot file of the wrong page type
    GreyImage g;
    g.img.Page(3, 6, -1, -1);
    EXPECT_EQ(codeOfWalk(g), errc::kInternalFileWrongPageType);
  }
  {  // an unknown table
    GreyImage g;
    EXPECT_EQ(CodeOf([&] { Opened o(g.img, "GREYLIST"); }), errc::kTableNotFound);
  }
}

TEST(EdbTableWalk, InternalFileSpanningPages) {
  // A table list of 16 entries (4352 bytes) runs over two pages; entry 14 starts at logical byte
  // 3808 and ends at 4080, across the page boundary at byte 4046.
  GreyImage g;
  std::vector<uint8_t> list;
  for (int i = 0; i < 16; ++i) {
    auto e =
        TableListEntry(i == 14 ? "Grey" : "T" + std::to_string(i), i == 14 ? kTableId : i, 5, 6, 7);
    list.insert(list.end(), e.begin(), e.end());
  }
  g.img.InternalFile(6, list, {4, 15});
  Opened o(g.img);
  EXPECT_EQ(o.db.GetTableNames().size(), 16u);
  EXPECT_EQ(o.table->TableID(), kTableId);
  EXPECT_EQ(WalkIds(o).size(), 4u);
}
