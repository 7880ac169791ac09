#pragma once
// Pages: everything of a database behind its file header lives in fixed-size pages, a 40-byte
// page header followed by the data area (page size - 40 bytes). Integers are little-endian.
//
// Page header:
//
//   offset  size  meaning
//   0       4     magic: the bytes of kEdbPageMagic
//   4       4     page change counter, int32: incremented before every write; 0x7FFFFFFF marks
//                 a freed page on disk (and in memory a page whose read failed)
//   8       2     page type, uint16 (TEdbPageType)
//   10      4     next page of the same internal file, int32; -1 none
//   14      4     CRC of the plain data area, uint32, when the page is enciphered; else 0
//   18      1     reserved, 0
//   19      1     reserved, 0
//   20      1     cipher id the data area was enciphered with, else 0
//   21      1     reserved, 0
//   22      4     owner table ID, int32; -1 when new
//   26      4     reserved, int32; -1 when new
//   30      2     reserved, int16; 0 when new
//   32      8     reserved, 0
//
// Page n is a PFS page when n is divisible by 8 * D, an EAM page when n is divisible by
// 4 * D * E (or n - 1 by both), D being the data-area size and E the pages per extent (see
// EdbFreeSpaceMap.h for their contents). PFS and EAM pages are never enciphered.

#include <cstddef>
#include <cstdint>

namespace edb {

constexpr uint16_t kEdbPageHeaderSize = 40;
constexpr int32_t kEdbNoPage = -1;
// Change counter of a freed page on disk and of a page whose read failed.
constexpr int32_t kEdbFreedPageCounter = 0x7FFFFFFF;
// A write that would reach this change counter restarts it at 0.
constexpr int32_t kEdbChangeCounterWrap = 0x7FFFFFFD;
// A new page's change counter is random in [0, kEdbNewPageCounterLimit).
constexpr int32_t kEdbNewPageCounterLimit = 0x3FFFFFFF;

enum TEdbPageType : uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
};
constexpr int kEdbLastPageType = ptTableIndex;
// Expected type meaning "any type".
constexpr uint16_t kEdbAnyPageType = 255;

// Offsets of the page header fields.
namespace pagehdr {
constexpr size_t kMagic = 0;  // 4 bytes
constexpr size_t kMagicSize = 4;
constexpr size_t kChangeCounter = 4;  // int32
constexpr size_t kPageType = 8;       // uint16
constexpr size_t kNextPage = 10;      // int32
constexpr size_t kDataCrc = 14;       // uint32
constexpr size_t kReserved18 = 18;    // uint8
constexpr size_t kReserved19 = 19;    // uint8
constexpr size_t kCipherId = 20;      // uint8
constexpr size_t kReserved21 = 21;    // uint8
constexpr size_t kOwnerTableId = 22;  // int32
constexpr size_t kReserved26 = 26;    // int32, -1 when new
constexpr size_t kReserved30 = 30;    // int16
constexpr size_t kReserved32 = 32;    // 8 bytes
}  // namespace pagehdr
extern const uint8_t kEdbPageMagic[pagehdr::kMagicSize];

}  // namespace edb
