#include "EdbRecordPages.h"

#include <bit>

#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbFileFormat.h"

namespace edb {

TEdbRecordGeometry TEdbRecordGeometry::Compute(uint32_t dataSize, uint32_t recordSize) {
  TEdbRecordGeometry g;
  g.DataSize = dataSize;
  g.RecordSize = recordSize;
  // n = trunc((D - 1) / (R + 1/8)) computed exactly in integers: trunc(8(D - 1) / (8R + 1)).
  uint64_t n = dataSize == 0 ? 0 : (uint64_t(dataSize - 1) * 8) / (uint64_t(recordSize) * 8 + 1);
  if (n == 0)
    EdbRaise(errc::kRecordTooLarge,
             "Cannot create table. Record is too large to fit in current database page. Please "
             "increase page size of database file or decrease record size");
  // Slots are numbered by 16 bits in record IDs; only an empty record on a huge page gets more.
  if (n > 0xFFFF) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  g.RecordsPerPage = uint32_t(n);
  g.BitmapSize = uint32_t((n + 7) / 8);
  return g;
}

int32_t TEdbRecordBitmap::FirstSetFrom(uint32_t from) const {
  if (from >= count_) return -1;
  uint32_t byte = from >> 3;
  uint32_t bits = uint32_t(bits_[byte]) & (0xFFu << (from & 7));
  const uint32_t lastByte = (count_ - 1) >> 3;
  for (;;) {
    if (bits) {
      uint32_t slot = (byte << 3) + uint32_t(std::countr_zero(bits));
      return slot < count_ ? int32_t(slot) : -1;
    }
    if (++byte > lastByte) return -1;
    bits = bits_[byte];
  }
}

int32_t TEdbRecordBitmap::LastSetBelow(uint32_t below) const {
  if (below > count_) below = count_;
  for (uint32_t s = below; s-- > 0;) {
    uint8_t b = bits_[s >> 3];
    if (b == 0) {
      s &= ~7u;
      continue;
    }
    if ((b >> (s & 7)) & 1) return int32_t(s);
  }
  return -1;
}

uint32_t TEdbRecordBitmap::CountSetBelow(uint32_t below) const {
  if (below > count_) below = count_;
  uint32_t n = 0, full = below >> 3;
  for (uint32_t i = 0; i < full; ++i) n += uint32_t(std::popcount(uint32_t(bits_[i])));
  if (below & 7) n += uint32_t(std::popcount(uint32_t(bits_[full]) & ((1u << (below & 7)) - 1)));
  return n;
}

uint32_t TEdbRecordBitmap::CountSet() const { return CountSetBelow(count_); }

int32_t TEdbRecordBitmap::NthSet(uint32_t k) const {
  for (int32_t s = FirstSetFrom(0); s >= 0; s = FirstSetFrom(uint32_t(s) + 1)) {
    if (k == 0) return s;
    --k;
  }
  return -1;
}

bool EdbAcceptRecordPage(const uint8_t* header, double formatVersion, int32_t tableId) {
  if (!(formatVersion >= kEdbOldFormatVersion)) return true;
  return GetI32(header + pagehdr::kChangeCounter) <= kEdbChangeCounterWrap &&
         GetU16(header + pagehdr::kPageType) == kEdbPageTypeRecord &&
         GetI32(header + pagehdr::kOwnerTableId) == tableId;
}

}  // namespace edb
