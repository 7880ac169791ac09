// Table metadata streams, record layout, table state, record geometry and slot bitmaps.

#include <gtest/gtest.h>

#include "EdbException.h"
#include "EdbRecordPages.h"
#include "EdbTableMetadata.h"
#include "EdbTablesTestImage.h"

using namespace edb;
using edbtest::Bytes;

namespace {

int CodeOf(const std::vector<uint8_t>& b, size_t len) {
  try {
    TEdbTableMetadata::Load(b.data(), len);
  } catch (const EEdbException& e) {
    return e.NativeError();
  }
  return 0;
}

}  // namespace

// Nine fields: ID (INTEGER), NAME VARCHAR(50), WNAME WIDESTRING(50), DATA BLOB, then five
// SMALLINTs. Offsets computed by hand: bitmap 2 bytes, then 4, 51, 102, 6/10, 2 ...
TEST(EdbTableMetadata, HandBuiltStreamGivesLayout) {
  Bytes b;
  b.i32(9);
  edbtest::FieldDef(b, "ID", 1, 7, 7, 0);
  edbtest::FieldDef(b, "Name", 2, 3, 2, 50);
  edbtest::FieldDef(b, "WNAME", 3, 4, 4, 50);
  // BLOB field with its three BLOB items and a default value that holds 3 bytes.
  b.name("DATA").i32(4).u8(18).u8(31).i32(0).u8(1).u8(6).i32(65536);
  b.i64(1).i64(0).i64(0).i64(0).u8(0).u8(18).u8(0).i32(3).str("xyz");
  for (int i = 0; i < 5; ++i) edbtest::FieldDef(b, "S" + std::to_string(i), 10 + i, 6, 6, 0);
  b.i32(0).i32(0);    // no indexes, no constraints
  b.i32(77).i32(-1);  // page-index roots

  TEdbTableMetadata md = TEdbTableMetadata::Load(b.b.data(), b.size());
  ASSERT_EQ(md.Fields.size(), 9u);
  EXPECT_EQ(md.NullBitmapSize, 2u);
  EXPECT_EQ(md.Fields[1].StoredSize, 51u);
  EXPECT_EQ(md.Fields[2].StoredSize, 102u);
  EXPECT_EQ(md.Fields[3].StoredSize, 6u);
  EXPECT_EQ(md.Fields[3].BufferSize, 10u);
  EXPECT_EQ(md.Fields[3].BlobCompressionAlgorithm, 1);
  EXPECT_EQ(md.Fields[3].BlobCompressionMode, 6);
  EXPECT_EQ(md.Fields[3].BlobBlockSize, 65536);
  EXPECT_EQ(md.Fields[3].DefaultValue.Data, "xyz");
  EXPECT_EQ(md.Fields[0].StoredOffset, 2u);
  EXPECT_EQ(md.Fields[1].StoredOffset, 6u);
  EXPECT_EQ(md.Fields[2].StoredOffset, 57u);
  EXPECT_EQ(md.Fields[3].StoredOffset, 159u);
  EXPECT_EQ(md.Fields[4].StoredOffset, 165u);
  EXPECT_EQ(md.Fields[4].BufferOffset, 169u);
  EXPECT_EQ(md.StoredRecordSize, 2u + 4 + 51 + 102 + 6 + 10);
  EXPECT_EQ(md.BufferRecordSize, md.StoredRecordSize + 4);
  EXPECT_EQ(md.RecordPageIndexRoot, 77);
  EXPECT_EQ(md.BlobPageIndexRoot, -1);
  EXPECT_EQ(md.FieldIndex("name"), 1);
  EXPECT_EQ(md.FieldIndex("NAME"), 1);
  EXPECT_EQ(md.FieldIndex("nope"), -1);
  EXPECT_EQ(md.FieldIndexByObjectID(12), 6);
  EXPECT_EQ(md.Fields[1].Kind(), TEdbValueKind::AnsiString);
  EXPECT_EQ(md.Fields[1].CallerSize(), 50);
  EXPECT_EQ(md.Fields[0].CallerSize(), 0);

  // Null bitmap: field 8 is bit 0 of the second byte.
  uint8_t rec[2] = {0, 0};
  EdbSetFieldNull(rec, 8, true);
  EXPECT_EQ(rec[1], 1);
  EXPECT_TRUE(EdbIsFieldNull(rec, 8));
  EXPECT_FALSE(EdbIsFieldNull(rec, 0));
}

// The stream ending inside each item raises that item's code.
TEST(EdbTableMetadata, TruncationInsideEachItemRaisesItsCode) {
  struct Item {
    std::vector<uint8_t> bytes;
    int code;
  };
  auto b = [](Bytes x) { return x.b; };
  std::vector<Item> items = {
      {b(Bytes().i32(1)), errc::kReadDefinitionCount},  // field count
      {b(Bytes().u8(4)), errc::kReadNameLength},
      {b(Bytes().str("BLOB")), errc::kReadName},
      {b(Bytes().i32(1)), errc::kReadObjectId},
      {b(Bytes().u8(18)), errc::kReadBaseType},
      {b(Bytes().u8(31)), errc::kReadAdvancedType},
      {b(Bytes().i32(0)), errc::kReadFieldSize},
      {b(Bytes().u8(0)), errc::kReadBlobCompression},
      {b(Bytes().u8(0)), errc::kReadBlobCompressionMode},
      {b(Bytes().i32(100)), errc::kReadBlobBlockSize},
      {b(Bytes().i64(1)), errc::kReadAutoincIncrement},
      {b(Bytes().i64(0)), errc::kReadAutoincInitialValue},
      {b(Bytes().i64(0)), errc::kReadAutoincMinValue},
      {b(Bytes().i64(0)), errc::kReadAutoincMaxValue},
      {b(Bytes().u8(0)), errc::kReadAutoincCycled},
      {b(Bytes().u8(18)), errc::kReadVariantType},
      {b(Bytes().u8(0)), errc::kReadVariantEmpty},
      {b(Bytes().i32(2)), errc::kReadVariantLength},
      {b(Bytes().str("ab")), errc::kReadVariantData},
      {b(Bytes().i32(1)), errc::kReadDefinitionCount},  // index count
      {b(Bytes().u8(2)), errc::kReadNameLength},
      {b(Bytes().str("IX")), errc::kReadName},
      {b(Bytes().i32(9)), errc::kReadObjectId},
      {b(Bytes().u8(1)), errc::kReadIndexAttribute0},
      {b(Bytes().u8(0)), errc::kReadIndexAttribute0 + 1},
      {b(Bytes().u8(0)), errc::kReadIndexAttribute0 + 2},
      {b(Bytes().i32(1)), errc::kReadIndexColumnCount},
      {b(Bytes().i32(-1)), errc::kReadIndexPageNo},
      {b(Bytes().u8(1)), errc::kReadIndexColumnNameLength},
      {b(Bytes().str("B")), errc::kReadIndexColumnName},
      {b(Bytes().u8(255)), errc::kReadIndexColumnDescending},
      {b(Bytes().u8(0)), errc::kReadIndexColumnCaseInsensitive},
      {b(Bytes().i32(20)), errc::kReadIndexColumnExtra},
      {b(Bytes().i32(2)), errc::kReadDefinitionCount},  // constraint count
      {b(Bytes().u8(3)), errc::kReadConstraintType},
      {b(Bytes().u8(2)), errc::kReadNameLength},
      {b(Bytes().str("NN")), errc::kReadName},
      {b(Bytes().i32(5)), errc::kReadObjectId},
      {b(Bytes().i32(0)), errc::kReadNotNullConstraintItems},
      {b(Bytes().i32(0)), errc::kReadNotNullConstraintItems + 1},
      {b(Bytes().i32(1)), errc::kReadNotNullConstraintItems + 2},
      {b(Bytes().u8(2)), errc::kReadNotNullConstraintItems + 3},
      {b(Bytes().str("\x01x")), errc::kReadNotNullConstraintItems + 4},
      {b(Bytes().u8(0)), errc::kReadNotNullConstraintItems + 5},
      {b(Bytes().u8(1)), errc::kReadNotNullConstraintItems + 7},
      {b(Bytes().u8(0)), errc::kReadNotNullConstraintItems + 8},
      {b(Bytes().u8(0)), errc::kReadConstraintType},
      {b(Bytes().u8(2)), errc::kReadNameLength},
      {b(Bytes().str("PK")), errc::kReadName},
      {b(Bytes().i32(6)), errc::kReadObjectId},
      {b(Bytes().i32(0)), errc::kReadKeyConstraintInt0},
      {b(Bytes().i32(0)), errc::kReadKeyConstraintInt1},
      {b(Bytes().i32(0)), errc::kReadKeyConstraintInt2},
      {b(Bytes().i32(2)), errc::kReadKeyConstraintString0Length},
      {b(Bytes().str("\x01y")), errc::kReadKeyConstraintString0},
      {b(Bytes().i32(0)), errc::kReadKeyConstraintString1Length},
      {b(Bytes().i32(0)), errc::kReadKeyConstraintString2Length},
      {b(Bytes().i32(1)), errc::kReadKeyConstraintColumnCount},
      {b(Bytes().i32(1)), errc::kReadKeyConstraintColumnValue},
      {b(Bytes().i32(2)), errc::kReadKeyConstraintColumnTextLength},
      {b(Bytes().u8(1).str("B")), errc::kReadKeyConstraintColumnText},
  };
  std::vector<uint8_t> stream;
  std::vector<std::pair<size_t, int>> starts;
  for (const auto& it : items) {
    starts.push_back({stream.size(), it.code});
    stream.insert(stream.end(), it.bytes.begin(), it.bytes.end());
  }
  const size_t complete = stream.size();
  Bytes tail;
  tail.i32(-1).i32(-1);
  stream.insert(stream.end(), tail.b.begin(), tail.b.end());

  // The whole stream loads, and carries the items through.
  TEdbTableMetadata md = TEdbTableMetadata::Load(stream.data(), stream.size());
  ASSERT_EQ(md.Constraints.size(), 2u);
  EXPECT_EQ(md.Indexes.at(0).Columns.at(0).Descending, 255);
  EXPECT_EQ(md.Constraints[1].Columns.at(0).Text,
            "\x01"
            "B");
  EXPECT_TRUE(md.IsRequired(0));

  for (size_t i = 0; i < starts.size(); ++i) {
    size_t end = i + 1 < starts.size() ? starts[i + 1].first : complete;
    for (size_t len = starts[i].first; len < end; ++len)
      ASSERT_EQ(CodeOf(stream, len), starts[i].second) << "cut at " << len << " item " << i;
  }
  // Roots may be missing: they are read without a length check.
  EXPECT_EQ(CodeOf(stream, complete), 0);
}

TEST(EdbTableMetadata, RejectsUnknownTypesAndDuplicates) {
  Bytes b;
  b.i32(1);
  edbtest::FieldDef(b, "X", 1, 25, 7, 0);
  b.i32(0).i32(0).i32(-1).i32(-1);
  EXPECT_EQ(CodeOf(b.b, b.size()), errc::kUnknownDataType);

  Bytes c;
  c.i32(0).i32(0).i32(1).u8(1).name("C").i32(1);
  EXPECT_EQ(CodeOf(c.b, c.size()), errc::kUnknownConstraintType);

  Bytes d;
  d.i32(2);
  edbtest::FieldDef(d, "Same", 1, 7, 7, 0);
  edbtest::FieldDef(d, "SAME", 2, 7, 7, 0);
  d.i32(0).i32(0).i32(-1).i32(-1);
  TEdbTableMetadata md = TEdbTableMetadata::Load(d.b.data(), d.size());
  try {
    md.CheckDuplicateNames();
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kDuplicateFieldName);
  }

  // A negative declared length is refused instead of wrapping the record size.
  Bytes n;
  n.i32(1);
  edbtest::FieldDef(n, "S", 1, 3, 2, -2);
  n.i32(0).i32(0).i32(-1).i32(-1);
  EXPECT_EQ(CodeOf(n.b, n.size()), errc::kInvalidDatabaseFormat);
}

TEST(EdbTableMetadata, SaveLoadRoundTripKeepsEveryItem) {
  TEdbTableMetadata md;
  for (uint8_t t = 1; t <= 36; ++t) {
    TEdbFieldDef f;
    f.Name = std::string("F") + std::to_string(t);
    f.ObjectID = t;
    f.AdvancedType = t;
    f.BaseType = EdbAdvancedTypeInfo(t)->BaseType;
    f.FieldSize = t == aftGuid ? 38 : 20;
    f.AutoincInitialValue = t;
    f.AutoincCycled = t & 1;
    if (f.IsBlob()) f.BlobBlockSize = 1000 + t;
    md.Fields.push_back(f);
  }
  TEdbIndexDef ix;
  ix.Name = "IX";
  ix.Columns.push_back({"F7", 255, 0, 20});
  md.Indexes.push_back(ix);
  TEdbConstraintDef check;
  check.Type = ctCheck;
  check.Name = "CK";
  check.Low = {7, false, std::string("\x01\x00\x00\x00", 4)};
  check.High = {7, true, ""};
  md.Constraints.push_back(check);
  md.RecordPageIndexRoot = 12;
  md.BlobPageIndexRoot = 13;
  md.ComputeLayout();

  std::vector<uint8_t> bytes = md.Save();
  TEdbTableMetadata back = TEdbTableMetadata::Load(bytes.data(), bytes.size());
  ASSERT_EQ(back.Fields.size(), 36u);
  for (size_t i = 0; i < 36; ++i) {
    EXPECT_EQ(back.Fields[i].Name, md.Fields[i].Name);
    EXPECT_EQ(back.Fields[i].StoredOffset, md.Fields[i].StoredOffset);
    EXPECT_EQ(back.Fields[i].AutoincInitialValue, int64_t(i + 1));
    EXPECT_EQ(back.Fields[i].BlobBlockSize, md.Fields[i].BlobBlockSize);
  }
  EXPECT_EQ(back.Constraints.at(0).Low.Data, check.Low.Data);
  EXPECT_TRUE(back.Constraints.at(0).High.Empty);
  EXPECT_EQ(back.Indexes.at(0).Columns.at(0).Name, "F7");
  EXPECT_EQ(back.RecordPageIndexRoot, 12);
  EXPECT_EQ(back.BlobPageIndexRoot, 13);
  EXPECT_EQ(back.Save(), bytes);
  // Autoinc value kinds: AUTOINC delivers 32-bit, AUTOINCLARGEINT 64-bit.
  EXPECT_EQ(back.Fields[aftAutoinc - 1].Kind(), TEdbValueKind::Autoinc);
  EXPECT_EQ(back.Fields[aftAutoincLargeInt - 1].Kind(), TEdbValueKind::Int64);
  EXPECT_EQ(back.Fields[aftGuid - 1].CallerSize(), 38);
  EXPECT_EQ(EdbAdvancedTypeByName("widevarchar"), aftWideString);
}

TEST(EdbTableMetadata, MostUpdatedAndAutoincCounters) {
  Bytes b;
  b.i32(2).i64(5).i64(0).i32(33).i32(1234);
  TEdbMostUpdated mu = TEdbMostUpdated::Load(b.b.data(), b.size());
  EXPECT_EQ(mu.AutoincCounters, (std::vector<int64_t>{5, 0}));
  EXPECT_EQ(mu.ChangeCounter, 33);
  EXPECT_EQ(mu.RecordCount, 1234);
  EXPECT_EQ(mu.Save(), b.b);

  TEdbTableMetadata md;
  md.Fields.emplace_back();
  md.Fields[0].Name = "ID";
  md.Fields[0].AdvancedType = aftAutoinc;
  md.Fields[0].BaseType = bftInt32;
  md.Fields[0].AutoincIncrement = 0;  // means 1
  md.Fields[0].AutoincMaxValue = 6;
  md.Fields[0].AutoincMinValue = 2;
  md.Fields.push_back(md.Fields[0]);
  md.Fields[1].Name = "ID2";
  md.Fields[1].AutoincCycled = 1;
  EXPECT_EQ(mu.NextAutoinc(md, 0), 6);
  try {
    mu.NextAutoinc(md, 0);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kAutoincMaxExceeded);
  }
  mu.AutoincCounters[1] = 6;
  EXPECT_EQ(mu.NextAutoinc(md, 1), 2);  // cycled
  try {
    mu.NextAutoinc(md, 5);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kFieldNotFound);
  }
}

TEST(EdbRecordPages, GeometryFromWorkedNumbers) {
  auto g = TEdbRecordGeometry::Compute(4056, 100);
  EXPECT_EQ(g.RecordsPerPage, 40u);
  EXPECT_EQ(g.BitmapSize, 5u);
  EXPECT_EQ(g.SlotOffset(3), 5u + 300);
  g = TEdbRecordGeometry::Compute(4056, 4054);
  EXPECT_EQ(g.RecordsPerPage, 1u);
  EXPECT_EQ(g.BitmapSize, 1u);
  try {
    TEdbRecordGeometry::Compute(4056, 4055);
    FAIL();
  } catch (const EEdbException& e) {
    EXPECT_EQ(e.NativeError(), errc::kRecordTooLarge);
  }
  // (4056 - 1) / (450 + 0.125) = 9.008...: nine slots need a 2-byte bitmap.
  g = TEdbRecordGeometry::Compute(4056, 450);
  EXPECT_EQ(g.RecordsPerPage, 9u);
  EXPECT_EQ(g.BitmapSize, 2u);
  // 4055 / 811.125 = 4.9992: truncated, not rounded.
  EXPECT_EQ(TEdbRecordGeometry::Compute(4056, 811).RecordsPerPage, 4u);
}

TEST(EdbRecordPages, BitmapScans) {
  uint8_t bits[2] = {0x21, 0x01};  // slots 0, 5 and 8
  TEdbRecordBitmap bm(bits, 9);
  EXPECT_EQ(bm.FirstSetFrom(0), 0);
  EXPECT_EQ(bm.FirstSetFrom(1), 5);
  EXPECT_EQ(bm.FirstSetFrom(6), 8);
  EXPECT_EQ(bm.FirstSetFrom(9), -1);
  EXPECT_EQ(bm.LastSetBelow(8), 5);
  EXPECT_EQ(bm.LastSetBelow(100), 8);
  EXPECT_EQ(bm.LastSetBelow(0), -1);
  EXPECT_EQ(bm.CountSet(), 3u);
  EXPECT_EQ(bm.CountSetBelow(6), 2u);
  EXPECT_EQ(bm.NthSet(2), 8);
  EXPECT_EQ(bm.NthSet(3), -1);
  // Bits past the slot count are never reported.
  uint8_t stray[1] = {0x80};
  EXPECT_EQ(TEdbRecordBitmap(stray, 7).FirstSetFrom(0), -1);
  EXPECT_EQ(TEdbRecordBitmap(stray, 7).LastSetBelow(8), -1);
}

TEST(EdbRecordPages, AcceptanceRuleFromVersion299) {
  uint8_t h[40] = {};
  edbtest::Le32(h + 4, 5);
  edbtest::Le16(h + 8, 10);
  edbtest::Le32(h + 22, 42);
  EXPECT_TRUE(EdbAcceptRecordPage(h, 5.12, 42));
  EXPECT_FALSE(EdbAcceptRecordPage(h, 5.12, 43));
  EXPECT_TRUE(EdbAcceptRecordPage(h, 2.98, 43));  // old files are not checked
  edbtest::Le32(h + 4, 0x7FFFFFFE);
  EXPECT_FALSE(EdbAcceptRecordPage(h, 2.99, 42));
  edbtest::Le32(h + 4, 0x7FFFFFFD);
  EXPECT_TRUE(EdbAcceptRecordPage(h, 2.99, 42));
  edbtest::Le16(h + 8, 11);
  EXPECT_FALSE(EdbAcceptRecordPage(h, 2.99, 42));
}
