#pragma once
// A field's value in a record buffer, by storage type (BaseType). Integers are little-endian;
// N is the field's FieldSize. A null value has its bit set in the record's null bitmap and
// zero-filled bytes here.
//
//   BaseType                      size     bytes
//   1 FixedChar, 3 String         N + 1    ANSI bytes in the code page, zero-padded
//   2 FixedWideChar, 4 WideString 2(N + 1) UTF-16LE units, zero-padded
//   5 Int8, 9 UInt8               1
//   6 Int16, 10 UInt16            2
//   7 Int32, 11 UInt32            4
//   8 Int64                       8
//   12 Single                     4        IEEE 754 binary32
//   13 Double, 22 Currency        8        IEEE 754 binary64 (Currency: the amount itself)
//   14 Extended                   10       x87 extended, see below
//   15 Date                       4        int32 day number (day 1 = 0001-01-01)
//   16 Time                       4        int32 milliseconds since midnight
//   17 DateTime                   8        day number at 0, milliseconds at 4, both int32
//   18 Blob, 19 Memo, 20 WideMemo 6        BLOB reference (EdbBlobFormat.h)
//   21 Boolean                    2        uint16, non-zero is true
//   23 Bytes, 24 VarBytes         N + 1    the bytes, zero-padded
//
// Extended: a uint64 mantissa with an explicit integer bit at 0, then a uint16 at 8 holding
// the sign in bit 15 and the exponent biased by 16383 (0x7FFF: infinity or NaN).

#include <cstddef>
#include <cstdint>

namespace edb {

namespace valuefmt {
constexpr uint32_t kInt8Size = 1;
constexpr uint32_t kInt16Size = 2;
constexpr uint32_t kInt32Size = 4;
constexpr uint32_t kInt64Size = 8;
constexpr uint32_t kSingleSize = 4;
constexpr uint32_t kDoubleSize = 8;
constexpr uint32_t kBooleanSize = 2;
constexpr uint32_t kDateSize = 4;
constexpr uint32_t kTimeSize = 4;

constexpr size_t kDateTimeDay = 0;  // int32
constexpr size_t kDateTimeMs = 4;   // int32
constexpr uint32_t kDateTimeSize = 8;

constexpr size_t kExtendedMantissa = 0;      // uint64
constexpr size_t kExtendedSignExponent = 8;  // uint16
constexpr uint32_t kExtendedSize = 10;
constexpr uint16_t kExtendedSignBit = 0x8000;
constexpr uint16_t kExtendedExponentMask = 0x7FFF;
constexpr int kExtendedExponentBias = 16383;
}  // namespace valuefmt

}  // namespace edb
