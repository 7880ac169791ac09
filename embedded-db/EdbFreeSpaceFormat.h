#pragma once
// The data area of the free-space map's pages (where they lie: EdbFreeSpaceMap.h). Both are bit
// fields, lowest bits first within a byte; unit u of a page's span is counted from the page's
// first unit.
//
//   page           unit     bits  byte, bits of unit u   values
//   PFS (type 3)   page     1     u / 8, u % 8           1 in use, 0 free
//   EAM (type 2)   extent   2     u / 4, 2(u % 4) + 0..1 3 every page in use; 1 (or 0, never
//                                                        written) a page is free
//
// A byte of 0xFF is eight pages in use or four full extents.

#include <cstdint>

namespace edb {

namespace fsmfmt {
constexpr int kPagesPerPfsByte = 8;
constexpr int kExtentsPerEamByte = 4;
constexpr int kEamFieldBits = 2;
constexpr unsigned kEamFieldMask = 0x3;
constexpr uint8_t kEamHasFreePage = 1;
constexpr uint8_t kEamFull = 3;
constexpr unsigned kEamFullBit = 0x2;  // the bit that tells full from not full
constexpr uint8_t kByteAllSet = 0xFF;

inline bool PfsBit(const uint8_t* data, int64_t unit) {
  return (data[unit / kPagesPerPfsByte] >> (unit % kPagesPerPfsByte)) & 1;
}
inline uint8_t PfsMask(int64_t unit) { return uint8_t(1u << (unit % kPagesPerPfsByte)); }
inline uint8_t& PfsByte(uint8_t* data, int64_t unit) { return data[unit / kPagesPerPfsByte]; }

inline bool EamFull(const uint8_t* data, int64_t unit) {
  const int shift = int(unit % kExtentsPerEamByte) * kEamFieldBits;
  return ((data[unit / kExtentsPerEamByte] >> shift) & kEamFullBit) != 0;
}
// Sets the extent's field; false when it already held that value.
inline bool SetEamField(uint8_t* data, int64_t unit, uint8_t field) {
  uint8_t& b = data[unit / kExtentsPerEamByte];
  const int shift = int(unit % kExtentsPerEamByte) * kEamFieldBits;
  const uint8_t nb = uint8_t((b & ~(kEamFieldMask << shift)) | (unsigned(field) << shift));
  if (nb == b) return false;
  b = nb;
  return true;
}
}  // namespace fsmfmt

}  // namespace edb
