#include "EdbTableMetadata.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "EdbBlobFormat.h"
#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbValueFormat.h"

namespace edb {

namespace {

using K = TEdbValueKind;

// First row of every AdvancedType 1..36.
const TEdbAdvancedTypeInfo kAdvancedTypes[36] = {
    {"CHAR", bftFixedChar, K::FixedAnsiString},
    {"STRING", bftString, K::AnsiString},
    {"WIDECHAR", bftFixedWideChar, K::WideString},
    {"WIDESTRING", bftWideString, K::WideString},
    {"SHORTINT", bftInt8, K::Int16},
    {"SMALLINT", bftInt16, K::Int16},
    {"INTEGER", bftInt32, K::Int32},
    {"LARGEINT", bftInt64, K::Int64},
    {"BYTE", bftUInt8, K::UInt16},
    {"WORD", bftUInt16, K::UInt16},
    {"CARDINAL", bftUInt32, K::Int64},
    {"AUTOINC", bftInt32, K::Autoinc},
    {"AUTOINCSHORTINT", bftInt8, K::Autoinc},
    {"AUTOINCSMALLINT", bftInt16, K::Autoinc},
    {"AUTOINCINTEGER", bftInt32, K::Autoinc},
    {"AUTOINCLARGEINT", bftInt64, K::Int64},
    {"AUTOINCBYTE", bftUInt8, K::Autoinc},
    {"AUTOINCWORD", bftUInt16, K::Autoinc},
    {"AUTOINCCARDINAL", bftUInt32, K::Autoinc},
    {"SINGLE", bftSingle, K::Float},
    {"FLOAT", bftDouble, K::Float},
    {"EXTENDED", bftExtended, K::Float},
    {"LOGICAL", bftBoolean, K::Boolean},
    {"CURRENCY", bftCurrency, K::Currency},
    {"DATE", bftDate, K::Date},
    {"TIME", bftTime, K::Time},
    {"DATETIME", bftDateTime, K::DateTime},
    {"TIMESTAMP", bftDateTime, K::Timestamp},
    {"BYTES", bftBytes, K::FixedBytes},
    {"VARBYTES", bftVarBytes, K::VarBytes},
    {"BLOB", bftBlob, K::Blob},
    {"GRAPHIC", bftBlob, K::Graphic},
    {"MEMO", bftMemo, K::Memo},
    {"FORMATTEDMEMO", bftMemo, K::FormattedMemo},
    {"WIDEMEMO", bftWideMemo, K::Blob},
    {"GUID", bftFixedChar, K::Guid},
};

// Every SQL type name with its AdvancedType (the reverse lookup).
struct NameRow {
  const char* Name;
  uint8_t Type;
};
const NameRow kTypeNames[] = {
    {"CHAR", aftChar},
    {"FIXEDCHAR", aftChar},
    {"STRING", aftString},
    {"VARCHAR", aftString},
    {"VARCHAR2", aftString},
    {"WIDECHAR", aftWideChar},
    {"FIXEDWIDECHAR", aftWideChar},
    {"WIDESTRING", aftWideString},
    {"WIDEVARCHAR", aftWideString},
    {"SHORTINT", aftShortInt},
    {"SIGNEDINT8", aftShortInt},
    {"SMALLINT", aftSmallInt},
    {"SIGNEDINT16", aftSmallInt},
    {"INTEGER", aftInteger},
    {"SIGNEDINT32", aftInteger},
    {"LARGEINT", aftLargeInt},
    {"INT64", aftLargeInt},
    {"SIGNEDINT64", aftLargeInt},
    {"BYTE", aftByte},
    {"UNSIGNEDINT8", aftByte},
    {"WORD", aftWord},
    {"UNSIGNEDINT16", aftWord},
    {"CARDINAL", aftCardinal},
    {"UNSIGNEDINT32", aftCardinal},
    {"AUTOINC", aftAutoinc},
    {"AUTOINCSHORTINT", aftAutoincShortInt},
    {"AUTOINCSMALLINT", aftAutoincSmallInt},
    {"AUTOINCINTEGER", aftAutoincInteger},
    {"AUTOINCLARGEINT", aftAutoincLargeInt},
    {"AUTOINCBYTE", aftAutoincByte},
    {"AUTOINCWORD", aftAutoincWord},
    {"AUTOINCCARDINAL", aftAutoincCardinal},
    {"SINGLE", aftSingle},
    {"FLOAT", aftFloat},
    {"DOUBLE", aftFloat},
    {"EXTENDED", aftExtended},
    {"LOGICAL", aftLogical},
    {"BOOLEAN", aftLogical},
    {"BOOL", aftLogical},
    {"BIT", aftLogical},
    {"CURRENCY", aftCurrency},
    {"MONEY", aftCurrency},
    {"DATE", aftDate},
    {"TIME", aftTime},
    {"DATETIME", aftDateTime},
    {"TIMESTAMP", aftTimestamp},
    {"BYTES", aftBytes},
    {"VARBYTES", aftVarBytes},
    {"BLOB", aftBlob},
    {"GRAPHIC", aftGraphic},
    {"MEMO", aftMemo},
    {"CLOB", aftMemo},
    {"FORMATTEDMEMO", aftFormattedMemo},
    {"WIDEMEMO", aftWideMemo},
    {"WIDECLOB", aftWideMemo},
    {"GUID", aftGuid},
};

// Largest declared length accepted from a file; keeps every size computation inside 32 bits.
constexpr int32_t kMaxFieldSize = 0x3FFFFFF0;
// Records are limited by the page size long before this; it only guards the 32-bit sums.
constexpr uint64_t kMaxRecordSize = 0x7FFFFFFF;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

[[noreturn]] void RaiseRecordTooLarge() {
  EdbRaise(errc::kRecordTooLarge,
           "Cannot create table. Record is too large to fit in current database page. Please "
           "increase page size of database file or decrease record size");
}

TEdbStoredVariant ReadVariant(TEdbByteReader& r) {
  TEdbStoredVariant v;
  v.DataType = r.U8(errc::kReadVariantType);
  v.Empty = r.U8(errc::kReadVariantEmpty) != 0;
  if (!v.Empty) {
    int32_t n = r.I32(errc::kReadVariantLength);
    if (n < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
    v.Data = r.Bytes(size_t(n), errc::kReadVariantData);
  }
  return v;
}

void WriteVariant(TEdbByteWriter& w, const TEdbStoredVariant& v) {
  w.U8(v.DataType);
  w.U8(v.Empty ? kEdbVariantEmptyMark : 0);
  if (!v.Empty) {
    w.I32(int32_t(v.Data.size()));
    w.Bytes(v.Data);
  }
}

std::string ReadShortName(TEdbByteReader& r, int lenCode, int nameCode) {
  uint8_t len = r.U8(lenCode);
  return r.Bytes(len, nameCode);
}

void WriteShortName(TEdbByteWriter& w, const std::string& name) {
  size_t n = std::min<size_t>(name.size(), kEdbMaxShortNameLength);
  w.U8(uint8_t(n));
  w.Bytes(name.data(), n);
}

TEdbFieldDef ReadFieldDef(TEdbByteReader& r) {
  TEdbFieldDef f;
  f.Name = ReadShortName(r, errc::kReadNameLength, errc::kReadName);
  f.ObjectID = r.I32(errc::kReadObjectId);
  f.BaseType = r.U8(errc::kReadBaseType);
  f.AdvancedType = r.U8(errc::kReadAdvancedType);
  f.FieldSize = r.I32(errc::kReadFieldSize);
  if (f.BaseType < 1 || f.BaseType > 24)
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  if (f.IsBlob()) {
    f.BlobCompressionAlgorithm = r.U8(errc::kReadBlobCompression);
    f.BlobCompressionMode = r.U8(errc::kReadBlobCompressionMode);
    f.BlobBlockSize = r.I32(errc::kReadBlobBlockSize);
  }
  f.AutoincIncrement = r.I64(errc::kReadAutoincIncrement);
  f.AutoincInitialValue = r.I64(errc::kReadAutoincInitialValue);
  f.AutoincMinValue = r.I64(errc::kReadAutoincMinValue);
  f.AutoincMaxValue = r.I64(errc::kReadAutoincMaxValue);
  f.AutoincCycled = r.U8(errc::kReadAutoincCycled);
  f.DefaultValue = ReadVariant(r);
  return f;
}

void WriteFieldDef(TEdbByteWriter& w, const TEdbFieldDef& f) {
  WriteShortName(w, f.Name);
  w.I32(f.ObjectID);
  w.U8(f.BaseType);
  w.U8(f.AdvancedType);
  w.I32(f.FieldSize);
  if (f.IsBlob()) {
    w.U8(f.BlobCompressionAlgorithm);
    w.U8(f.BlobCompressionMode);
    w.I32(f.BlobBlockSize);
  }
  w.I64(f.AutoincIncrement);
  w.I64(f.AutoincInitialValue);
  w.I64(f.AutoincMinValue);
  w.I64(f.AutoincMaxValue);
  w.U8(f.AutoincCycled);
  WriteVariant(w, f.DefaultValue);
}

TEdbIndexDef ReadIndexDef(TEdbByteReader& r) {
  TEdbIndexDef d;
  d.Name = ReadShortName(r, errc::kReadNameLength, errc::kReadName);
  d.ObjectID = r.I32(errc::kReadObjectId);
  d.Attributes[0] = r.U8(errc::kReadIndexAttribute0);
  d.Attributes[1] = r.U8(errc::kReadIndexAttribute0 + 1);
  d.Attributes[2] = r.U8(errc::kReadIndexAttribute0 + 2);
  int32_t count = r.I32(errc::kReadIndexColumnCount);
  d.PageNo = r.I32(errc::kReadIndexPageNo);
  for (int32_t i = 0; i < count; ++i) {  // a negative count holds no columns
    TEdbIndexColumn c;
    c.Name = ReadShortName(r, errc::kReadIndexColumnNameLength, errc::kReadIndexColumnName);
    c.Descending = r.U8(errc::kReadIndexColumnDescending);
    c.CaseInsensitive = r.U8(errc::kReadIndexColumnCaseInsensitive);
    c.Extra = r.I32(errc::kReadIndexColumnExtra);
    d.Columns.push_back(std::move(c));
  }
  return d;
}

void WriteIndexDef(TEdbByteWriter& w, const TEdbIndexDef& d) {
  WriteShortName(w, d.Name);
  w.I32(d.ObjectID);
  w.U8(d.Attributes[0]);
  w.U8(d.Attributes[1]);
  w.U8(d.Attributes[2]);
  w.I32(int32_t(d.Columns.size()));
  w.I32(d.PageNo);
  for (const auto& c : d.Columns) {
    WriteShortName(w, c.Name);
    w.U8(c.Descending);
    w.U8(c.CaseInsensitive);
    w.I32(c.Extra);
  }
}

// A byte count followed by that many bytes; `wide` selects an int32 count.
std::string ReadCountedBytes(TEdbByteReader& r, bool wide, int countCode, int dataCode) {
  int64_t k = wide ? r.I32(countCode) : r.U8(countCode);
  if (k < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  return r.Bytes(size_t(k), dataCode);
}

void WriteCountedBytes(TEdbByteWriter& w, const std::string& s, bool wide) {
  if (wide) {
    w.I32(int32_t(s.size()));
    w.Bytes(s);
  } else {
    size_t n = std::min<size_t>(s.size(), kEdbMaxShortNameLength);
    w.U8(uint8_t(n));
    w.Bytes(s.data(), n);
  }
}

TEdbConstraintDef ReadConstraintDef(TEdbByteReader& r) {
  TEdbConstraintDef c;
  c.Type = r.U8(errc::kReadConstraintType);
  if (c.Type != ctPrimaryKey && c.Type != ctUnique && c.Type != ctNotNull && c.Type != ctCheck)
    EdbRaise(errc::kUnknownConstraintType, "Unknown Constraint Type: '%d'", int(c.Type));
  c.Name = ReadShortName(r, errc::kReadNameLength, errc::kReadName);
  c.ObjectID = r.I32(errc::kReadObjectId);
  if (c.Type == ctNotNull || c.Type == ctCheck) {
    // Item codes: not null 10249..10257, check 10230..10238.
    const int base =
        c.Type == ctNotNull ? errc::kReadNotNullConstraintItems : errc::kReadCheckConstraintItems;
    for (int i = 0; i < 3; ++i) c.Ints[i] = r.I32(base + i);
    for (int i = 0; i < 3; ++i)
      c.Strings[i] = ReadCountedBytes(r, false, base + 3 + 2 * i, base + 4 + 2 * i);
    if (c.Type == ctCheck) {
      c.Low = ReadVariant(r);
      c.High = ReadVariant(r);
    }
  } else {
    c.Ints[0] = r.I32(errc::kReadKeyConstraintInt0);
    c.Ints[1] = r.I32(errc::kReadKeyConstraintInt1);
    c.Ints[2] = r.I32(errc::kReadKeyConstraintInt2);
    c.Strings[0] = ReadCountedBytes(r, true, errc::kReadKeyConstraintString0Length,
                                    errc::kReadKeyConstraintString0);
    c.Strings[1] = ReadCountedBytes(r, true, errc::kReadKeyConstraintString1Length,
                                    errc::kReadKeyConstraintString1);
    c.Strings[2] = ReadCountedBytes(r, true, errc::kReadKeyConstraintString2Length,
                                    errc::kReadKeyConstraintString2);
    int32_t m = r.I32(errc::kReadKeyConstraintColumnCount);
    for (int32_t i = 0; i < m; ++i) {
      TEdbConstraintColumn col;
      col.Value = r.I32(errc::kReadKeyConstraintColumnValue);
      col.Text = ReadCountedBytes(r, true, errc::kReadKeyConstraintColumnTextLength,
                                  errc::kReadKeyConstraintColumnText);
      c.Columns.push_back(std::move(col));
    }
  }
  return c;
}

void WriteConstraintDef(TEdbByteWriter& w, const TEdbConstraintDef& c) {
  w.U8(c.Type);
  WriteShortName(w, c.Name);
  w.I32(c.ObjectID);
  const bool wide = !(c.Type == ctNotNull || c.Type == ctCheck);
  for (int i = 0; i < 3; ++i) w.I32(c.Ints[i]);
  for (int i = 0; i < 3; ++i) WriteCountedBytes(w, c.Strings[i], wide);
  if (c.Type == ctCheck) {
    WriteVariant(w, c.Low);
    WriteVariant(w, c.High);
  }
  if (wide) {
    w.I32(int32_t(c.Columns.size()));
    for (const auto& col : c.Columns) {
      w.I32(col.Value);
      WriteCountedBytes(w, col.Text, true);
    }
  }
}

}  // namespace

const TEdbAdvancedTypeInfo* EdbAdvancedTypeInfo(uint8_t advancedType) {
  if (advancedType < 1 || advancedType > 36) return nullptr;
  return &kAdvancedTypes[advancedType - 1];
}

uint8_t EdbAdvancedTypeByName(std::string_view sqlName) {
  for (const auto& row : kTypeNames)
    if (EdbSameNameAscii(sqlName, row.Name)) return row.Type;
  return 0;
}

bool EdbSameNameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  return true;
}

uint32_t EdbStoredFieldSize(uint8_t baseType, int32_t fieldSize) {
  auto sized = [&](uint32_t mult) -> uint32_t {
    if (fieldSize < 0 || fieldSize > kMaxFieldSize)
      EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
    return mult * (uint32_t(fieldSize) + 1);
  };
  using namespace valuefmt;
  switch (baseType) {
    case bftFixedChar:
    case bftString:
    case bftBytes:
    case bftVarBytes: return sized(1);
    case bftFixedWideChar:
    case bftWideString: return sized(2);
    case bftInt8:
    case bftUInt8: return kInt8Size;
    case bftInt16:
    case bftUInt16: return kInt16Size;
    case bftBoolean: return kBooleanSize;
    case bftInt32:
    case bftUInt32: return kInt32Size;
    case bftSingle: return kSingleSize;
    case bftDate: return kDateSize;
    case bftTime: return kTimeSize;
    case bftInt64: return kInt64Size;
    case bftDouble:
    case bftCurrency: return kDoubleSize;
    case bftDateTime: return kDateTimeSize;
    case bftExtended: return kExtendedSize;
    case bftBlob:
    case bftMemo:
    case bftWideMemo: return uint32_t(kEdbBlobRefSize);
    default: EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  }
}

TEdbValueKind TEdbFieldDef::Kind() const {
  if (const auto* info = EdbAdvancedTypeInfo(AdvancedType)) return info->Kind;
  // Not a declared type of the table: fall back to what the storage type holds.
  switch (BaseType) {
    case bftFixedChar: return K::FixedAnsiString;
    case bftFixedWideChar:
    case bftWideString: return K::WideString;
    case bftString: return K::AnsiString;
    case bftInt8:
    case bftInt16: return K::Int16;
    case bftUInt8:
    case bftUInt16: return K::UInt16;
    case bftInt32: return K::Int32;
    case bftInt64:
    case bftUInt32: return K::Int64;
    case bftSingle:
    case bftDouble:
    case bftExtended: return K::Float;
    case bftDate: return K::Date;
    case bftTime: return K::Time;
    case bftDateTime: return K::DateTime;
    case bftMemo: return K::Memo;
    case bftBoolean: return K::Boolean;
    case bftCurrency: return K::Currency;
    case bftBytes: return K::FixedBytes;
    case bftVarBytes: return K::VarBytes;
    default: return K::Blob;
  }
}

int32_t TEdbFieldDef::CallerSize() const {
  switch (AdvancedType) {
    case aftChar:
    case aftString:
    case aftWideChar:
    case aftWideString:
    case aftBytes:
    case aftVarBytes: return FieldSize;
    case aftGuid: return kEdbGuidFieldSize;
    default: return 0;
  }
}

TEdbTableMetadata TEdbTableMetadata::Load(const uint8_t* data, size_t size) {
  TEdbByteReader r(data, size);
  TEdbTableMetadata md;
  int32_t fieldCount = r.I32(errc::kReadDefinitionCount);
  for (int32_t i = 0; i < fieldCount; ++i) md.Fields.push_back(ReadFieldDef(r));
  int32_t indexCount = r.I32(errc::kReadDefinitionCount);
  for (int32_t i = 0; i < indexCount; ++i) md.Indexes.push_back(ReadIndexDef(r));
  int32_t constraintCount = r.I32(errc::kReadDefinitionCount);
  for (int32_t i = 0; i < constraintCount; ++i) md.Constraints.push_back(ReadConstraintDef(r));
  // The two roots are read without a length check: missing bytes read as "no index".
  auto root = [&r]() -> int32_t {
    if (r.Remaining() < 4) return -1;
    return r.I32(0);
  };
  md.RecordPageIndexRoot = root();
  md.BlobPageIndexRoot = root();
  md.ComputeLayout();
  return md;
}

std::vector<uint8_t> TEdbTableMetadata::Save() const {
  TEdbByteWriter w;
  w.I32(int32_t(Fields.size()));
  for (const auto& f : Fields) WriteFieldDef(w, f);
  w.I32(int32_t(Indexes.size()));
  for (const auto& d : Indexes) WriteIndexDef(w, d);
  w.I32(int32_t(Constraints.size()));
  for (const auto& c : Constraints) WriteConstraintDef(w, c);
  w.I32(RecordPageIndexRoot);
  w.I32(BlobPageIndexRoot);
  return w.Take();
}

void TEdbTableMetadata::ComputeLayout() {
  NullBitmapSize = uint32_t((Fields.size() + 7) / 8);
  uint64_t stored = NullBitmapSize, buffer = NullBitmapSize;
  for (auto& f : Fields) {
    uint32_t size = EdbStoredFieldSize(f.BaseType, f.FieldSize);
    f.StoredSize = size;
    f.BufferSize = f.IsBlob() ? kEdbBlobBufferFieldSize : size;
    f.StoredOffset = uint32_t(stored);
    f.BufferOffset = uint32_t(buffer);
    stored += f.StoredSize;
    buffer += f.BufferSize;
    if (buffer > kMaxRecordSize) RaiseRecordTooLarge();
  }
  StoredRecordSize = uint32_t(stored);
  BufferRecordSize = uint32_t(buffer);
}

int TEdbTableMetadata::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < Fields.size(); ++i)
    if (EdbSameNameAscii(Fields[i].Name, name)) return int(i);
  return -1;
}

int TEdbTableMetadata::FieldIndexByObjectID(int32_t objectId) const {
  for (size_t i = 0; i < Fields.size(); ++i)
    if (Fields[i].ObjectID == objectId) return int(i);
  return -1;
}

bool TEdbTableMetadata::IsRequired(int fieldIndex) const {
  if (fieldIndex < 0 || size_t(fieldIndex) >= Fields.size()) return false;
  const auto& f = Fields[size_t(fieldIndex)];
  if (f.Kind() == TEdbValueKind::Autoinc) return false;
  for (const auto& c : Constraints)
    if (c.Type == ctNotNull && c.Ints[2] == f.ObjectID) return true;
  return false;
}

void TEdbTableMetadata::CheckDuplicateNames() const {
  for (size_t i = 1; i < Fields.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (EdbSameNameAscii(Fields[i].Name, Fields[j].Name))
        EdbRaise(errc::kDuplicateFieldName, "Duplicate field name %s", Fields[i].Name.c_str());
}

std::vector<int64_t> TEdbTableMetadata::InitialAutoincCounters() const {
  std::vector<int64_t> counters;
  counters.reserve(Fields.size());
  for (const auto& f : Fields) counters.push_back(f.IsAutoinc() ? f.AutoincInitialValue : 0);
  return counters;
}

TEdbMostUpdated TEdbMostUpdated::Load(const uint8_t* data, size_t size) {
  TEdbByteReader r(data, size);
  TEdbMostUpdated mu;
  int32_t n = r.I32(errc::kInvalidDatabaseFormat);
  if (n < 0 || size_t(n) > r.Remaining() / 8)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  mu.AutoincCounters.reserve(size_t(n));
  for (int32_t i = 0; i < n; ++i) mu.AutoincCounters.push_back(r.I64(errc::kInvalidDatabaseFormat));
  mu.ChangeCounter = r.I32(errc::kInvalidDatabaseFormat);
  mu.RecordCount = r.I32(errc::kInvalidDatabaseFormat);
  if (mu.RecordCount < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  return mu;
}

std::vector<uint8_t> TEdbMostUpdated::Save() const {
  TEdbByteWriter w;
  w.I32(int32_t(AutoincCounters.size()));
  for (int64_t v : AutoincCounters) w.I64(v);
  w.I32(ChangeCounter);
  w.I32(int32_t(RecordCount));
  return w.Take();
}

int64_t TEdbMostUpdated::NextAutoinc(const TEdbTableMetadata& md, int fieldIndex) {
  if (fieldIndex < 0 || size_t(fieldIndex) >= md.Fields.size())
    EdbRaise(errc::kFieldNotFound, "Field #%d not found", fieldIndex);
  if (size_t(fieldIndex) >= AutoincCounters.size())
    EdbRaise(errc::kAutoincFieldNotFound, "Field #%d not found", fieldIndex);
  const auto& f = md.Fields[size_t(fieldIndex)];
  int64_t& counter = AutoincCounters[size_t(fieldIndex)];
  int64_t step = f.AutoincIncrement == 0 ? 1 : f.AutoincIncrement;
  if (step > 0 && counter > INT64_MAX - step)
    counter = INT64_MAX;
  else if (step < 0 && counter < INT64_MIN - step)
    counter = INT64_MIN;
  else
    counter += step;
  if (f.AutoincMaxValue != 0 && counter > f.AutoincMaxValue) {
    if (!f.AutoincCycled)
      EdbRaise(errc::kAutoincMaxExceeded, "Autoinc max value exceeded for field '%s'",
               f.Name.c_str());
    counter = f.AutoincMinValue;
  }
  return counter;
}

void EdbStoredToBuffer(const TEdbTableMetadata& md, const uint8_t* stored, uint8_t* buffer) {
  std::memset(buffer, 0, md.BufferRecordSize);
  std::memcpy(buffer, stored, md.NullBitmapSize);
  for (const auto& f : md.Fields)
    std::memcpy(buffer + f.BufferOffset, stored + f.StoredOffset, f.StoredSize);
}

void EdbBufferToStored(const TEdbTableMetadata& md, const uint8_t* buffer, uint8_t* stored) {
  std::memset(stored, 0, md.StoredRecordSize);
  std::memcpy(stored, buffer, md.NullBitmapSize);
  for (const auto& f : md.Fields)
    std::memcpy(stored + f.StoredOffset, buffer + f.BufferOffset, f.StoredSize);
}

}  // namespace edb
