#pragma once
// Table metadata: the field, index and constraint definitions of a table with its record layout
// (null bitmap, stored and buffer offsets), the roots of its two page indexes, and the table's
// running state (MostUpdated: autoinc counters, change counter, record count).
// Both are loaded from and saved to the byte content of the table's internal files.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "EdbMetadataFormat.h"

namespace edb {

// Kind of value a field hands to callers: the first row of its AdvancedType in the type table.
enum class TEdbValueKind : uint8_t {
  FixedAnsiString,  // CHAR
  AnsiString,       // VARCHAR
  WideString,       // WIDECHAR, WIDESTRING
  Int16,            // SHORTINT, SMALLINT
  UInt16,           // BYTE, WORD
  Int32,            // INTEGER
  Int64,            // LARGEINT, CARDINAL, AUTOINCLARGEINT
  Autoinc,          // autoinc kinds delivered as 32-bit integers
  Float,            // SINGLE, FLOAT, EXTENDED
  Boolean,
  Currency,
  Date,
  Time,
  DateTime,
  Timestamp,
  FixedBytes,  // BYTES
  VarBytes,    // VARBYTES
  Blob,        // BLOB, WIDEMEMO
  Graphic,
  Memo,
  FormattedMemo,
  Guid,
};

// Storage types (BaseType) of the field definitions.
enum : uint8_t {
  bftFixedChar = 1,
  bftFixedWideChar = 2,
  bftString = 3,
  bftWideString = 4,
  bftInt8 = 5,
  bftInt16 = 6,
  bftInt32 = 7,
  bftInt64 = 8,
  bftUInt8 = 9,
  bftUInt16 = 10,
  bftUInt32 = 11,
  bftSingle = 12,
  bftDouble = 13,
  bftExtended = 14,
  bftDate = 15,
  bftTime = 16,
  bftDateTime = 17,
  bftBlob = 18,
  bftMemo = 19,
  bftWideMemo = 20,
  bftBoolean = 21,
  bftCurrency = 22,
  bftBytes = 23,
  bftVarBytes = 24,
};

// Declared types (AdvancedType) 1..36, in the order of the type table.
enum : uint8_t {
  aftChar = 1,
  aftString,
  aftWideChar,
  aftWideString,
  aftShortInt,
  aftSmallInt,
  aftInteger,
  aftLargeInt,
  aftByte,
  aftWord,
  aftCardinal,
  aftAutoinc,
  aftAutoincShortInt,
  aftAutoincSmallInt,
  aftAutoincInteger,
  aftAutoincLargeInt,
  aftAutoincByte,
  aftAutoincWord,
  aftAutoincCardinal,
  aftSingle,
  aftFloat,
  aftExtended,
  aftLogical,
  aftCurrency,
  aftDate,
  aftTime,
  aftDateTime,
  aftTimestamp,
  aftBytes,
  aftVarBytes,
  aftBlob,
  aftGraphic,
  aftMemo,
  aftFormattedMemo,
  aftWideMemo,
  aftGuid,
};

inline bool EdbIsBlobBaseType(uint8_t baseType) {
  return baseType >= bftBlob && baseType <= bftWideMemo;
}
inline bool EdbIsAutoincAdvancedType(uint8_t t) {
  return t >= aftAutoinc && t <= aftAutoincCardinal;
}
inline bool EdbIsBlobAdvancedType(uint8_t t) { return t >= aftBlob && t <= aftWideMemo; }
inline bool EdbIsStringAdvancedType(uint8_t t) {
  return (t >= aftChar && t <= aftWideString) || t == aftGuid;
}
inline bool EdbIsWideStringAdvancedType(uint8_t t) {
  return t == aftWideChar || t == aftWideString;
}

// A GUID field holds its text form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
inline constexpr int32_t kEdbGuidFieldSize = 38;

// The first row of an AdvancedType in the type table: its SQL name, storage type and value kind.
struct TEdbAdvancedTypeInfo {
  const char* SqlName;
  uint8_t BaseType;
  TEdbValueKind Kind;
};
// nullptr for a type outside 1..36.
const TEdbAdvancedTypeInfo* EdbAdvancedTypeInfo(uint8_t advancedType);
// The declared type of an SQL type name (case-insensitive, any row of the table); 0 when unknown.
uint8_t EdbAdvancedTypeByName(std::string_view sqlName);

// Bytes a field of this storage type takes in a stored record (a BLOB reference: 6).
// Raises 30050 "Unknown DataType: 'Unknown'" for a BaseType outside 1..24 and 20237 for a
// negative or oversized FieldSize of a sized type.
uint32_t EdbStoredFieldSize(uint8_t baseType, int32_t fieldSize);

// A typed value in its stream form (default values, check-constraint bounds).
struct TEdbStoredVariant {
  uint8_t DataType = 0;
  bool Empty = true;
  std::string Data;  // the value's bytes in the storage form of DataType
};

struct TEdbFieldDef {
  std::string Name;
  int32_t ObjectID = 0;
  uint8_t BaseType = 0;
  uint8_t AdvancedType = 0;
  int32_t FieldSize = 0;
  // Present in the stream only for BLOB storage types (18..20).
  uint8_t BlobCompressionAlgorithm = 0;
  uint8_t BlobCompressionMode = 0;
  int32_t BlobBlockSize = 102400;
  int64_t AutoincIncrement = 1;
  int64_t AutoincInitialValue = 0;
  int64_t AutoincMinValue = 0;
  int64_t AutoincMaxValue = INT64_MAX;
  uint8_t AutoincCycled = 0;
  TEdbStoredVariant DefaultValue;

  // Layout, computed by TEdbTableMetadata::ComputeLayout.
  uint32_t StoredSize = 0;  // bytes in a stored record
  uint32_t BufferSize = 0;  // bytes in a record buffer (BLOB fields: 10)
  uint32_t StoredOffset = 0;
  uint32_t BufferOffset = 0;

  bool IsBlob() const { return EdbIsBlobBaseType(BaseType); }
  bool IsAutoinc() const { return EdbIsAutoincAdvancedType(AdvancedType); }
  // Value kind handed to callers (Blob for an unknown AdvancedType is never returned: the load
  // rejects those through the BaseType check; an AdvancedType outside 1..36 maps by BaseType).
  TEdbValueKind Kind() const;
  // Size offered to callers: FieldSize for CHAR/VARCHAR/WIDECHAR/WIDESTRING/BYTES/VARBYTES,
  // 38 for GUID, 0 otherwise.
  int32_t CallerSize() const;
};

struct TEdbIndexColumn {
  std::string Name;
  uint8_t Descending = 0;       // 255 when declared DESC
  uint8_t CaseInsensitive = 0;  // 255 when declared NO_CASE
  int32_t Extra = 20;
};

struct TEdbIndexDef {
  std::string Name;
  int32_t ObjectID = 0;
  uint8_t Attributes[3] = {0, 0, 0};
  int32_t PageNo = -1;
  std::vector<TEdbIndexColumn> Columns;
};

enum : uint8_t { ctPrimaryKey = 0, ctUnique = 2, ctNotNull = 3, ctCheck = 4 };

struct TEdbConstraintColumn {
  int32_t Value = 0;
  std::string Text;  // raw: a length byte and the characters
};

struct TEdbConstraintDef {
  uint8_t Type = ctNotNull;
  std::string Name;
  int32_t ObjectID = 0;
  // Not null / check: Ints[2] is the ObjectID of the constrained field.
  int32_t Ints[3] = {0, 0, 0};
  // Three strings, raw as stored (a length byte then the characters); empty = count 0.
  std::string Strings[3];
  // Check only: lower and upper bound.
  TEdbStoredVariant Low, High;
  // Primary key / unique only.
  std::vector<TEdbConstraintColumn> Columns;
};

class TEdbTableMetadata {
 public:
  std::vector<TEdbFieldDef> Fields;
  std::vector<TEdbIndexDef> Indexes;
  std::vector<TEdbConstraintDef> Constraints;
  int32_t RecordPageIndexRoot = -1;
  int32_t BlobPageIndexRoot = -1;

  // Layout of a record, valid after Load or ComputeLayout.
  uint32_t NullBitmapSize = 0;
  uint32_t StoredRecordSize = 0;
  uint32_t BufferRecordSize = 0;

  // Parses the whole content of a metadata file; raises EEdbException with the item's code when
  // the content ends inside an item, 30050 for an unknown BaseType, 30316 for an unknown
  // constraint type.
  static TEdbTableMetadata Load(const uint8_t* data, size_t size);
  std::vector<uint8_t> Save() const;

  // Sizes and offsets of every field and the record sizes.
  void ComputeLayout();

  // Case-insensitive (ASCII) lookup; first match; -1 when there is none.
  int FieldIndex(std::string_view name) const;
  int FieldIndexByObjectID(int32_t objectId) const;
  // Set for a field that a not-null constraint names, unless it is of the autoinc kind.
  bool IsRequired(int fieldIndex) const;
  // Raises 10424 "Duplicate field name %s" when two fields share a name (case-insensitive).
  void CheckDuplicateNames() const;
  // Initial autoinc counters: AutoincInitialValue for autoinc fields, else 0.
  std::vector<int64_t> InitialAutoincCounters() const;
};

// The table's state file content.
struct TEdbMostUpdated {
  std::vector<int64_t> AutoincCounters;
  int32_t ChangeCounter = 0;
  int64_t RecordCount = 0;

  static TEdbMostUpdated Load(const uint8_t* data, size_t size);
  std::vector<uint8_t> Save() const;
  // Next autoinc value of field i (write path): raises 30402/30403 "Field #%d not found" and
  // 20160 "Autoinc max value exceeded for field '%s'".
  int64_t NextAutoinc(const TEdbTableMetadata& md, int fieldIndex);
};

// Null bitmap of a record (stored or buffered): bit set = NULL.
inline bool EdbIsFieldNull(const uint8_t* record, int fieldIndex) {
  return (record[fieldIndex >> 3] >> (fieldIndex & 7)) & 1;
}
inline void EdbSetFieldNull(uint8_t* record, int fieldIndex, bool isNull) {
  uint8_t bit = uint8_t(1u << (fieldIndex & 7));
  if (isNull)
    record[fieldIndex >> 3] |= bit;
  else
    record[fieldIndex >> 3] &= uint8_t(~bit);
}

// Converts a stored record into a record buffer: zero-fill, copy the bitmap, copy each field's
// stored bytes to its buffer offset. `buffer` must hold BufferRecordSize bytes.
void EdbStoredToBuffer(const TEdbTableMetadata& md, const uint8_t* stored, uint8_t* buffer);
void EdbBufferToStored(const TEdbTableMetadata& md, const uint8_t* buffer, uint8_t* stored);

// ASCII upper-case comparison used for table and field names.
bool EdbSameNameAscii(std::string_view a, std::string_view b);

}  // namespace edb
