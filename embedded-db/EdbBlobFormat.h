#pragma once
// BLOB storage on TableBlob pages (type 11). Integers are little-endian; D is the page data-area
// size. Page offsets below are offsets in the data area.
//
// BLOB reference (6 bytes in the record):
//
//   offset  size  meaning
//   0       4     page: the small-BLOB page or a large BLOB's first page, int32; 0 or -1 nothing
//   4       2     BLOB ID, int16: -1 large BLOB, 0..32767 entry on a small-BLOB page (255 may
//                 name either form)
//
// Entry header (22 bytes, in front of every stored value):
//
//   offset  size  meaning
//   0       2     BLOB ID, int16 (small-BLOB pages only)
//   2       4     block count, int32: compressed blocks in the stored data; 0 when uncompressed
//   6       8     stored size S, int64: bytes that follow
//   14      8     uncompressed size U, int64: length of the value
//
// Small-BLOB page (value S + 24 < D):
//
//   offset  size     meaning
//   0       2        entry count C, uint16
//   2       entries  C entries back to back, each an entry header followed by its S bytes
//
// Large BLOB (S + 24 >= D), first page:
//
//   offset  size    meaning
//   0       22      entry header (ID unused)
//   22      10      page-list reference: list page, int32; offset in that page, uint16; data
//                   page count P, int32
//   32      D - 32  the first stored bytes
//
// The next data pages hold D stored bytes each from offset 0. The page list is P int32 page
// numbers (the data pages in order, the first included) from the referenced page and offset on,
// continued at offset 0 of further pages chained through the page header's next-page link.
//
// Compressed stored data: the blocks one after another, each a block header and Z bytes.
//
//   offset  size  meaning
//   0       4     compressed size Z, int32
//   4       4     uncompressed size of the block, int32
//   8       4     CRC of the uncompressed bytes, uint32
//   12      8     distance to the next block header, int64: Z + 20
//   20      Z     the compressed block

#include <cstddef>
#include <cstdint>

#include "EdbEndian.h"
#include "EdbPageFormat.h"

namespace edb {

constexpr uint16_t kEdbPageTypeBlob = ptTableBlob;
constexpr int16_t kEdbLargeBlobId = -1;
// The ID that may name either form (see EdbLoadBlob).
constexpr int16_t kEdbAmbiguousBlobId = 255;
// The largest ID of an entry on a small-BLOB page.
constexpr uint16_t kEdbMaxSmallBlobId = 32767;

namespace blobfmt {
// Reference.
constexpr size_t kRefPage = 0;  // int32
constexpr size_t kRefId = 4;    // int16
// Entry header.
constexpr size_t kEntryId = 0;             // int16
constexpr size_t kEntryBlockCount = 2;     // int32
constexpr size_t kEntryStoredSize = 6;     // int64
constexpr size_t kEntryUncompressed = 14;  // int64
// Small-BLOB page.
constexpr size_t kSmallCount = 0;  // uint16
constexpr size_t kSmallEntries = 2;
// Bytes a value takes on a small-BLOB page besides its stored bytes: a value of S bytes goes
// there when S + kSmallOverhead < D.
constexpr size_t kSmallOverhead = 24;
// Page-list reference.
constexpr size_t kListPage = 0;       // int32
constexpr size_t kListOffset = 4;     // uint16
constexpr size_t kListPageCount = 6;  // int32
constexpr size_t kListEntrySize = 4;  // one int32 page number
// Block header.
constexpr size_t kBlockCompressed = 0;    // int32
constexpr size_t kBlockUncompressed = 4;  // int32
constexpr size_t kBlockCrc = 8;           // uint32
constexpr size_t kBlockDistance = 12;     // int64
}  // namespace blobfmt

constexpr size_t kEdbBlobRefSize = 6;
constexpr size_t kEdbBlobEntryHeaderSize = 22;
constexpr size_t kEdbBlobPageListRefSize = 10;
// Large BLOB first page: entry header, then the page-list reference, then data.
constexpr size_t kEdbBlobPageListRefOffset = kEdbBlobEntryHeaderSize;
constexpr size_t kEdbBlobLargeDataOffset = kEdbBlobPageListRefOffset + kEdbBlobPageListRefSize;
constexpr size_t kEdbBlobBlockHeaderSize = 20;

// The reference kept in a record: first page and BLOB ID.
struct TEdbBlobRef {
  int32_t PageNo = -1;
  int16_t Id = 0;
  static TEdbBlobRef Parse(const uint8_t* p6) {
    return {GetI32(p6 + blobfmt::kRefPage), GetI16(p6 + blobfmt::kRefId)};
  }
  void Serialize(uint8_t* p6) const {
    PutI32(p6 + blobfmt::kRefPage, PageNo);
    PutI16(p6 + blobfmt::kRefId, Id);
  }
};

// Header in front of every stored value.
struct TEdbBlobEntryHeader {
  int16_t Id = 0;
  int32_t BlockCount = 0;        // 0 when uncompressed
  int64_t StoredSize = 0;        // S
  int64_t UncompressedSize = 0;  // U
  static TEdbBlobEntryHeader Parse(const uint8_t* p22) {
    return {GetI16(p22 + blobfmt::kEntryId), GetI32(p22 + blobfmt::kEntryBlockCount),
            GetI64(p22 + blobfmt::kEntryStoredSize), GetI64(p22 + blobfmt::kEntryUncompressed)};
  }
  void Serialize(uint8_t* p22) const {
    PutI16(p22 + blobfmt::kEntryId, Id);
    PutI32(p22 + blobfmt::kEntryBlockCount, BlockCount);
    PutI64(p22 + blobfmt::kEntryStoredSize, StoredSize);
    PutI64(p22 + blobfmt::kEntryUncompressed, UncompressedSize);
  }
};

// Where a large BLOB's page list starts, and how many data pages it has.
struct TEdbBlobPageListRef {
  int32_t PageNo = -1;
  uint16_t Offset = 0;
  int32_t PageCount = 0;  // P
  static TEdbBlobPageListRef Parse(const uint8_t* p10) {
    return {GetI32(p10 + blobfmt::kListPage), GetU16(p10 + blobfmt::kListOffset),
            GetI32(p10 + blobfmt::kListPageCount)};
  }
  void Serialize(uint8_t* p10) const {
    PutI32(p10 + blobfmt::kListPage, PageNo);
    PutU16(p10 + blobfmt::kListOffset, Offset);
    PutI32(p10 + blobfmt::kListPageCount, PageCount);
  }
};

// Header of one compressed block.
struct TEdbBlobBlockHeader {
  int32_t CompressedSize = 0;  // Z
  int32_t UncompressedSize = 0;
  uint32_t Crc = 0;
  int64_t Distance = 0;  // Z + 20
  static TEdbBlobBlockHeader Parse(const uint8_t* p20) {
    return {GetI32(p20 + blobfmt::kBlockCompressed), GetI32(p20 + blobfmt::kBlockUncompressed),
            GetU32(p20 + blobfmt::kBlockCrc), GetI64(p20 + blobfmt::kBlockDistance)};
  }
  void Serialize(uint8_t* p20) const {
    PutI32(p20 + blobfmt::kBlockCompressed, CompressedSize);
    PutI32(p20 + blobfmt::kBlockUncompressed, UncompressedSize);
    PutU32(p20 + blobfmt::kBlockCrc, Crc);
    PutI64(p20 + blobfmt::kBlockDistance, Distance);
  }
};

}  // namespace edb
