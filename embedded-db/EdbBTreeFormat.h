#pragma once
// B-tree index pages (page type 12, TableIndex): the RecordPageIndex of a table and its
// BLOB page index share this layout. Integers are little-endian; offsets are in the data area.
//
//   offset      size   meaning
//   0           1      1 when the page is the root
//   1           1      1 when the page is a leaf
//   2           4      previous page on the same level, int32; -1 none
//   6           4      next page on the same level, int32; -1 none
//   10          1      set to 1 on a new root; not used when reading
//   11          1      non-zero: every item ends in a 6-byte record ID (0 in page indexes)
//   12          2      key size K, uint16 (4 in page indexes)
//   14          2      item count, uint16
//   16          2      extra header bytes E, uint16 (0 in page indexes)
//   18 + E      items  item i at 18 + E + i * (K + V + X)
//
// An item is a key of K bytes and a value of V bytes (plus X = 6 record-ID bytes when offset 11
// is non-zero). Node values are the int32 child page (V = 4); leaf values of a page index are a
// uint16 (V = 2): the records on a record page, or the bytes used on a BLOB page. Keys are int32
// page numbers, ascending; the leaves, left to right through their next links, list every page.

#include <cstddef>
#include <cstdint>

#include "EdbEndian.h"

namespace edb {

namespace btree {
constexpr size_t kIsRoot = 0;        // uint8
constexpr size_t kIsLeaf = 1;        // uint8
constexpr size_t kPrevPage = 2;      // int32
constexpr size_t kNextPage = 6;      // int32
constexpr size_t kNewRoot = 10;      // uint8
constexpr size_t kHasRecordId = 11;  // uint8
constexpr size_t kKeySize = 12;      // uint16
constexpr size_t kItemCount = 14;    // uint16
constexpr size_t kExtraSize = 16;    // uint16
constexpr size_t kHeaderSize = 18;   // items (after E extra bytes) start here

constexpr uint32_t kRecordIdSize = 6;            // X when offset 11 is non-zero
constexpr uint16_t kPageIndexKeySize = 4;        // int32 page number
constexpr uint32_t kNodeValueSize = 4;           // int32 child page
constexpr uint32_t kPageIndexLeafValueSize = 2;  // uint16 count
}  // namespace btree

// The header of a B-tree page's data area.
struct TEdbBTreePageHeader {
  bool IsRoot = false;
  bool IsLeaf = false;
  int32_t PrevPage = -1;
  int32_t NextPage = -1;
  bool NewRoot = false;
  bool HasRecordId = false;
  uint16_t KeySize = btree::kPageIndexKeySize;
  uint16_t ItemCount = 0;
  uint16_t ExtraSize = 0;

  static TEdbBTreePageHeader Parse(const uint8_t* data) {
    TEdbBTreePageHeader h;
    h.IsRoot = data[btree::kIsRoot] != 0;
    h.IsLeaf = data[btree::kIsLeaf] != 0;
    h.PrevPage = GetI32(data + btree::kPrevPage);
    h.NextPage = GetI32(data + btree::kNextPage);
    h.NewRoot = data[btree::kNewRoot] != 0;
    h.HasRecordId = data[btree::kHasRecordId] != 0;
    h.KeySize = GetU16(data + btree::kKeySize);
    h.ItemCount = GetU16(data + btree::kItemCount);
    h.ExtraSize = GetU16(data + btree::kExtraSize);
    return h;
  }
  void Serialize(uint8_t* data) const {
    data[btree::kIsRoot] = IsRoot ? 1 : 0;
    data[btree::kIsLeaf] = IsLeaf ? 1 : 0;
    PutI32(data + btree::kPrevPage, PrevPage);
    PutI32(data + btree::kNextPage, NextPage);
    data[btree::kNewRoot] = NewRoot ? 1 : 0;
    data[btree::kHasRecordId] = HasRecordId ? 1 : 0;
    PutU16(data + btree::kKeySize, KeySize);
    PutU16(data + btree::kItemCount, ItemCount);
    PutU16(data + btree::kExtraSize, ExtraSize);
  }
  // Offset of the first item in the data area.
  uint32_t ItemsOffset() const { return uint32_t(btree::kHeaderSize) + ExtraSize; }
};

}  // namespace edb
