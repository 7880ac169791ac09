#pragma once
// The streams of a table's metadata file (page type 8) and state file (page type 9, MostUpdated):
// items one after another, little-endian, no padding. Each item names the native code
// (EdbErrorCodes.h) raised when the stream ends inside it.
//
// Metadata stream:
//
//   item                      size           code
//   field count               int32          kReadDefinitionCount
//   field definitions         see below
//   index count               int32          kReadDefinitionCount
//   index definitions         see below
//   constraint count          int32          kReadDefinitionCount
//   constraint definitions    see below
//   RecordPageIndex root      int32          (missing bytes read as -1)
//   BLOB page index root      int32          (missing bytes read as -1)
//
// Field definition:
//
//   name length, name         uint8, L bytes kReadNameLength, kReadName
//   ObjectID                  int32          kReadObjectId
//   BaseType, AdvancedType    uint8, uint8   kReadBaseType, kReadAdvancedType
//   FieldSize                 int32          kReadFieldSize
//   BLOB compression, mode    uint8, uint8   kReadBlobCompression, kReadBlobCompressionMode
//   BlobBlockSize             int32          kReadBlobBlockSize
//                             (the BLOB compression, mode and block size: BaseType 18..20 only)
//   autoinc increment, initial, min, max
//                             4 x int64      kReadAutoincIncrement .. kReadAutoincMaxValue
//   autoinc cycled            uint8          kReadAutoincCycled
//   DefaultValue              typed value
//
// Typed value:
//
//   data type                 uint8          kReadVariantType
//   empty flag                uint8          kReadVariantEmpty
//                             (non-zero, written 255: nothing follows)
//   length N                  int32          kReadVariantLength
//   data                      N bytes        kReadVariantData
//
// Index definition:
//
//   name length, name, ObjectID              as in a field definition
//   three attribute bytes     3 x uint8      kReadIndexAttribute0 + 0..2
//   column count C            int32          kReadIndexColumnCount
//   page number               int32          kReadIndexPageNo
//   C columns: name length, name (kReadIndexColumnNameLength, kReadIndexColumnName), descending
//   uint8, case-insensitive uint8, extra int32
//
// Constraint definition: type uint8 (kReadConstraintType: 0 primary key, 2 unique, 3 not null,
// 4 check), name length, name, ObjectID; then
//   not null, check: three int32, three strings of uint8 length + bytes (codes from
//     kReadNotNullConstraintItems / kReadCheckConstraintItems up), and for a check constraint
//     the low and high bounds as typed values;
//   primary key, unique: three int32, three strings of int32 length + bytes, a column count
//     int32 and per column an int32 and an int32-counted string (kReadKeyConstraint...).
//
// State stream (MostUpdated), any short read kInvalidDatabaseFormat:
//
//   autoinc counter count n   int32
//   autoinc counters          n x int64
//   change counter            int32
//   record count              int32

#include <cstddef>
#include <cstdint>

namespace edb {

// Longest name of a field, index or constraint (one length byte).
constexpr size_t kEdbMaxShortNameLength = 255;
// The empty flag of a typed value without a value, as written.
constexpr uint8_t kEdbVariantEmptyMark = 255;
// Bytes a BLOB field takes in a record buffer: the 6-byte reference and a 4-byte handle of the
// loaded value.
constexpr uint32_t kEdbBlobBufferFieldSize = 10;

}  // namespace edb
