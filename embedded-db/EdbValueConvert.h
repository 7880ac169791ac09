#pragma once
// Conversion of a field's stored bytes (record-buffer form) into the value handed to callers,
// and the field type table: SQL type names, advanced types, base types and value kinds.

#include <cstdint>
#include <string>
#include <vector>

#include "EdbVariant.h"

namespace edb {

// The kind of value a field hands to callers (first row of its advanced type).
enum class TEdbValueKind : uint8_t {
  Unknown,
  FixedAnsiString,  // CHAR
  AnsiString,       // VARCHAR
  WideString,       // WIDECHAR, WIDESTRING
  SmallInt,         // 16-bit signed
  Word,             // 16-bit unsigned
  Integer,          // 32-bit signed
  LargeInt,         // 64-bit signed
  AutoInc,          // 32-bit signed autoinc
  Float,            // 64-bit float
  Boolean,
  Currency,
  Date,
  Time,
  DateTime,
  Timestamp,
  Bytes,
  VarBytes,
  Blob,           // binary BLOB (also wide memo)
  Graphic,        // graphic BLOB
  Memo,           // ANSI text BLOB
  FormattedMemo,  // formatted memo BLOB
  Guid,
};

// Value kind of an advanced type (1..36); Unknown otherwise.
TEdbValueKind EdbValueKindOf(int advancedType);
// First SQL type name of an advanced type ("VARCHAR" for 2, ...); "" when unknown.
const char* EdbSqlTypeName(int advancedType);
// Storage base type of an advanced type; 0 when unknown.
int EdbBaseTypeOf(int advancedType);
// Bytes a field of this base type occupies in the record buffer (BLOB types: 10) and in a
// stored record (BLOB types: 6); -1 for an unknown base type.
int EdbBufferSizeOf(int baseType, int32_t fieldSize);
int EdbStoredSizeOf(int baseType, int32_t fieldSize);
inline bool EdbIsBlobBaseType(int baseType) { return baseType >= 18 && baseType <= 20; }
inline bool EdbIsAutoincAdvancedType(int advancedType) {
  return advancedType >= 12 && advancedType <= 19;
}
// Size offered to callers: FieldSize for advanced types 1..4, 29, 30; 38 for GUID; else 0.
int32_t EdbCallerFieldSize(int advancedType, int32_t fieldSize);

// Converts the non-BLOB field bytes at `data` (the field's bytes in the record buffer, at least
// the field's buffer size long) into a value. The null bit is the caller's matter.
// ANSI text is decoded with `codePage`. Raises EEdbException 30050 for an unknown base type.
TEdbVariant EdbConvertFieldValue(int baseType, int advancedType, int32_t fieldSize,
                                 const uint8_t* data, uint32_t codePage);

// Converts a loaded BLOB value: memo (advanced type 33, 34) as ANSI text, the rest as bytes.
TEdbVariant EdbConvertBlobValue(int advancedType, std::vector<uint8_t> bytes, uint32_t codePage);

// Rounds an x87 80-bit extended value (10 bytes, little-endian) to double.
double EdbExtendedToDouble(const uint8_t* p10);
void EdbDoubleToExtended(double v, uint8_t* p10);

}  // namespace edb
