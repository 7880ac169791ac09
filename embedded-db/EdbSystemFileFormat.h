#pragma once
// Internal files and the system files kept in them. Integers are little-endian.
//
// Internal file: a chain of pages of one page type linked through the page header's next-page
// field; the first page's data area begins with a 10-byte preamble, the content follows it and
// continues at offset 0 of the next page's data area.
//
//   offset  size  meaning (first page's data area)
//   0       1     preamble length: 10
//   1       4     stored size, int32: bytes of content as stored
//   5       4     full size, int32: bytes before compression (0 in a direct file)
//   9       1     compression: 0 none; 1, 2, 3 the buffer compression
//
// System directory (page type 4, first page 2): 5-byte entries, count = full size / 5.
//
//   offset  size  meaning
//   0       1     system file kind: 1 table list, 2 connection-slot file
//   1       4     first page of that file, int32
//
// Table list (page type 6): 272-byte entries in creation order, count = full size / 272.
//
//   offset  size  meaning
//   0       256   table name: length byte, then up to 255 single-byte characters
//   256     4     table ID, int32
//   260     4     first page of the metadata file (transacted, page type 8), int32
//   264     4     first page of the state file (transacted, page type 9), int32
//   268     4     first page of the lock-byte file (direct, page type 7), int32
//
// Table-lock file (page type 7, direct): 12 bytes per connection slot: lock bytes 0 .. 6M - 1
// (lock type t of slot s at t * M + s), then one 6-byte record per slot at 6M + 6s.

#include <cstddef>
#include <cstdint>

namespace edb {

// Internal file preamble.
constexpr uint32_t kEdbInternalFilePreamble = 10;
namespace preamble {
constexpr size_t kLength = 0;       // uint8
constexpr size_t kStoredSize = 1;   // int32
constexpr size_t kFullSize = 5;     // int32
constexpr size_t kCompression = 9;  // uint8
}  // namespace preamble

// System directory.
constexpr int32_t kEdbSystemDirectoryPage = 2;
constexpr size_t kEdbSystemDirectoryEntrySize = 5;
namespace sysdir {
constexpr size_t kKind = 0;       // uint8
constexpr size_t kFirstPage = 1;  // int32
}  // namespace sysdir

// Table list.
constexpr size_t kEdbTableListEntrySize = 272;
constexpr size_t kEdbMaxTableNameLength = 255;
namespace tablelist {
constexpr size_t kNameLength = 0;      // uint8
constexpr size_t kName = 1;            // up to 255 bytes
constexpr size_t kTableId = 256;       // int32
constexpr size_t kMetadataPage = 260;  // int32
constexpr size_t kStatePage = 264;     // int32
constexpr size_t kLockPage = 268;      // int32
}  // namespace tablelist

// Bytes of a table-lock file per connection slot.
constexpr int32_t kEdbTableLockBytesPerSlot = 12;

}  // namespace edb
