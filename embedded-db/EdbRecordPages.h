#pragma once
// Record pages (page type 10): fixed slots of stored records behind an occupancy bitmap, the
// record geometry that follows from the stored record size, record IDs, and the acceptance rule
// that decides whether a page holds a given table's records.
//
// Data area of a record page (D bytes), for n slots of R bytes:
//
//   offset     size  meaning
//   0          B     occupancy bitmap, B = ceil(n / 8): bit (s mod 8) of byte (s div 8), least
//                    significant bit first, is set when slot s holds a record
//   B + s * R  R     slot s: one stored record (see EdbTableMetadata.h)
//
// The page header's owner table ID holds the ID of the table the page belongs to.

#include <cstdint>

#include "EdbPageFormat.h"

namespace edb {

constexpr uint16_t kEdbPageTypeRecord = ptTableRecord;
constexpr uint16_t kEdbPageTypeIndex = ptTableIndex;

// Address of a stored record.
struct TEdbRecordId {
  int32_t PageNo = -1;
  uint16_t Slot = 0;

  friend bool operator==(const TEdbRecordId& a, const TEdbRecordId& b) {
    return a.PageNo == b.PageNo && a.Slot == b.Slot;
  }
  friend bool operator<(const TEdbRecordId& a, const TEdbRecordId& b) {
    return a.PageNo != b.PageNo ? a.PageNo < b.PageNo : a.Slot < b.Slot;
  }
};

// Slots per page and bitmap size for a page data size D and a stored record size R.
struct TEdbRecordGeometry {
  uint32_t DataSize = 0;        // D
  uint32_t RecordSize = 0;      // R
  uint32_t RecordsPerPage = 0;  // n = trunc((D - 1) / (R + 0.125))
  uint32_t BitmapSize = 0;      // ceil(n / 8)

  // Raises 20174 ("Record is too large ...") when n is 0.
  static TEdbRecordGeometry Compute(uint32_t dataSize, uint32_t recordSize);

  uint32_t SlotOffset(uint32_t slot) const { return BitmapSize + slot * RecordSize; }
  // Bytes of the data area the bitmap and all slots take.
  uint32_t UsedSize() const { return BitmapSize + RecordsPerPage * RecordSize; }
};

// Occupancy bitmap of one record page (least significant bit first).
class TEdbRecordBitmap {
 public:
  TEdbRecordBitmap(const uint8_t* bits, uint32_t slotCount) : bits_(bits), count_(slotCount) {}
  bool IsSet(uint32_t slot) const {
    return slot < count_ && ((bits_[slot >> 3] >> (slot & 7)) & 1);
  }
  // Lowest set slot >= from; -1 when none.
  int32_t FirstSetFrom(uint32_t from) const;
  // Highest set slot < below (below may exceed the slot count); -1 when none.
  int32_t LastSetBelow(uint32_t below) const;
  uint32_t CountSet() const;
  uint32_t CountSetBelow(uint32_t below) const;
  // Slot of the k-th (0-based) set bit; -1 when there are fewer.
  int32_t NthSet(uint32_t k) const;

 private:
  const uint8_t* bits_;
  uint32_t count_;
};

inline void EdbSetSlotBit(uint8_t* bits, uint32_t slot, bool set) {
  uint8_t m = uint8_t(1u << (slot & 7));
  if (set)
    bits[slot >> 3] |= m;
  else
    bits[slot >> 3] &= uint8_t(~m);
}

// Page acceptance for files of format version 2.99 and later: change counter at most
// 0x7FFFFFFD, page type 10 and the owner table ID equal to the table's. `header` is the page's
// 40-byte header. Earlier versions accept every page.
bool EdbAcceptRecordPage(const uint8_t* header, double formatVersion, int32_t tableId);

}  // namespace edb
