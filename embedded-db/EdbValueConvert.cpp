#include "EdbValueConvert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "EdbCodePage.h"
#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbValueFormat.h"

namespace edb {

namespace {

size_t AnsiLength(const uint8_t* p, size_t max) {
  const void* z = std::memchr(p, 0, max);
  return z ? size_t(static_cast<const uint8_t*>(z) - p) : max;
}

size_t WideLength(const uint8_t* p, size_t maxUnits) {
  for (size_t i = 0; i < maxUnits; ++i) {
    if (p[2 * i] == 0 && p[2 * i + 1] == 0) return i;
  }
  return maxUnits;
}

size_t SizeOr0(int32_t fieldSize) { return fieldSize > 0 ? size_t(fieldSize) : 0; }

[[noreturn]] void UnknownType() {
  EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
}

TEdbDateKind DateKindOf(const TEdbFieldDef& fd) {
  if (fd.BaseType == bftDate) return TEdbDateKind::Date;
  if (fd.BaseType == bftTime) return TEdbDateKind::Time;
  return TEdbDateKind::DateTime;
}

}  // namespace

double EdbExtendedToDouble(const uint8_t* p) {
  using namespace valuefmt;
  const uint64_t mant = GetU64(p + kExtendedMantissa);
  const uint16_t se = GetU16(p + kExtendedSignExponent);
  const bool neg = (se & kExtendedSignBit) != 0;
  const int exp = se & kExtendedExponentMask;
  double v;
  if (exp == kExtendedExponentMask) {
    v = (mant << 1) == 0 ? std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::quiet_NaN();
  } else if (mant == 0) {
    v = 0.0;
  } else {
    // Value = mantissa * 2^(exp - 16383 - 63); denormals use exponent 1. The mantissa is
    // rounded once, half to even, to the bits a double keeps at this magnitude (53, fewer
    // below the normal range), so that tiny values are not rounded twice.
    int e = (exp == 0 ? 1 : exp) - kExtendedExponentBias - 63;
    const int lz = std::countl_zero(mant);
    uint64_t m = mant << lz;
    e -= lz;
    const int lsbExp = std::max(e + 63 - 52, -1074);
    const int shift = lsbExp - e;  // at least 11
    if (shift > 64) {
      v = 0.0;
    } else {
      const uint64_t q = shift == 64 ? 0 : m >> shift;
      const uint64_t rem = shift == 64 ? m : m & ((uint64_t(1) << shift) - 1);
      const uint64_t half = uint64_t(1) << (shift - 1);
      const uint64_t r = q + ((rem > half || (rem == half && (q & 1))) ? 1 : 0);
      v = std::ldexp(double(r), lsbExp);
    }
  }
  return neg ? -v : v;
}

void EdbDoubleToExtended(double v, uint8_t* p) {
  using namespace valuefmt;
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const uint16_t sign = (bits >> 63) ? kExtendedSignBit : 0;
  const int exp = int((bits >> 52) & 0x7FF);
  const uint64_t frac = bits & ((uint64_t(1) << 52) - 1);
  uint64_t mant = 0;
  int e = 0;       // biased extended exponent
  if (exp != 0) {  // the integer bit made explicit; a NaN keeps its payload and quiet bit
    mant = (uint64_t(1) << 63) | (frac << 11);
    e = exp == 0x7FF ? kExtendedExponentMask : exp - 1023 + kExtendedExponentBias;
  } else if (frac != 0) {  // a subnormal double is a normal extended value
    const int shift = std::countl_zero(frac);
    mant = frac << shift;
    e = kExtendedExponentBias + 63 - 1074 - shift;  // frac * 2^-1074 = mant * 2^(e - bias - 63)
  }
  PutU64(p + kExtendedMantissa, mant);
  PutU16(p + kExtendedSignExponent, uint16_t(sign | e));
}

TEdbVariant EdbConvertFieldValue(const TEdbFieldDef& fd, const uint8_t* d, uint32_t codePage) {
  const bool autoinc = fd.Kind() == TEdbValueKind::Autoinc;
  switch (fd.BaseType) {
    case bftFixedChar:
    case bftString: {
      const size_t n = AnsiLength(d, SizeOr0(fd.FieldSize));
      return TEdbVariant::Text(
          EdbAnsiToUtf8(std::string_view(reinterpret_cast<const char*>(d), n), codePage));
    }
    case bftFixedWideChar:
    case bftWideString:
      return TEdbVariant::Text(EdbUtf16LeToUtf8(d, WideLength(d, SizeOr0(fd.FieldSize))));
    case bftInt8: return TEdbVariant::Integer(int8_t(d[0]));
    case bftInt16: return TEdbVariant::Integer(GetI16(d));
    case bftInt32: return TEdbVariant::Integer(GetI32(d));
    case bftInt64: return TEdbVariant::Integer(GetI64(d));
    case bftUInt8: return TEdbVariant::Integer(d[0]);
    case bftUInt16: return TEdbVariant::Integer(GetU16(d));
    case bftUInt32:
      // An autoinc handed out as a 32-bit integer takes a stored uint32 as signed.
      return TEdbVariant::Integer(autoinc ? int64_t(GetI32(d)) : int64_t(GetU32(d)));
    case bftSingle: {
      float f;
      uint32_t u = GetU32(d);
      std::memcpy(&f, &u, 4);
      return TEdbVariant::Double(double(f));
    }
    case bftDouble:
    case bftCurrency: {
      double x;
      uint64_t u = GetU64(d);
      std::memcpy(&x, &u, 8);
      return TEdbVariant::Double(x);
    }
    case bftExtended: return TEdbVariant::Double(EdbExtendedToDouble(d));
    case bftDate: return TEdbVariant::FromStored(GetI32(d), 0, TEdbDateKind::Date);
    case bftTime:
      return TEdbVariant::FromStored(kEdbSerialDateOriginDay, GetI32(d), TEdbDateKind::Time);
    case bftDateTime:
      return TEdbVariant::FromStored(GetI32(d + valuefmt::kDateTimeDay),
                                     GetI32(d + valuefmt::kDateTimeMs), DateKindOf(fd));
    case bftBoolean: return TEdbVariant::Boolean(GetU16(d) != 0);
    case bftBytes:
    case bftVarBytes: {
      const size_t n = SizeOr0(fd.FieldSize);
      return TEdbVariant::Bytes(std::vector<uint8_t>(d, d + n));
    }
    case bftBlob:
    case bftMemo:
    case bftWideMemo: throw EEdbComponentError("BLOB fields are read through a BLOB stream");
    default: UnknownType();
  }
}

TEdbVariant EdbConvertBlobValue(const TEdbFieldDef& fd, std::vector<uint8_t> bytes,
                                uint32_t codePage) {
  const TEdbValueKind k = fd.Kind();
  if (k == TEdbValueKind::Memo || k == TEdbValueKind::FormattedMemo) {
    return TEdbVariant::Text(EdbAnsiToUtf8(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), codePage));
  }
  return TEdbVariant::Bytes(std::move(bytes));
}

void EdbEncodeFieldValue(const TEdbFieldDef& fd, const TEdbVariant& v, uint8_t* out,
                         uint32_t codePage) {
  const uint32_t size = EdbStoredFieldSize(fd.BaseType, fd.FieldSize);
  std::memset(out, 0, size);
  switch (fd.BaseType) {
    case bftFixedChar:
    case bftString: {
      std::string a = EdbUtf8ToAnsi(v.ToString(), codePage);
      std::memcpy(out, a.data(), std::min(a.size(), SizeOr0(fd.FieldSize)));
      return;
    }
    case bftFixedWideChar:
    case bftWideString: {
      std::string w = EdbUtf8ToUtf16Le(v.ToString());
      std::memcpy(out, w.data(), std::min(w.size(), 2 * SizeOr0(fd.FieldSize)));
      return;
    }
    case bftInt8:
    case bftUInt8: out[0] = uint8_t(v.AsInteger()); return;
    case bftInt16:
    case bftUInt16: PutU16(out, uint16_t(v.AsInteger())); return;
    case bftInt32:
    case bftUInt32: PutU32(out, uint32_t(v.AsInteger())); return;
    case bftInt64: PutI64(out, v.AsInteger()); return;
    case bftSingle: {
      float f = float(v.AsDouble());
      uint32_t u;
      std::memcpy(&u, &f, 4);
      PutU32(out, u);
      return;
    }
    case bftDouble:
    case bftCurrency: {
      double x = v.AsDouble();
      uint64_t u;
      std::memcpy(&u, &x, 8);
      PutU64(out, u);
      return;
    }
    case bftExtended: EdbDoubleToExtended(v.AsDouble(), out); return;
    case bftDate: PutI32(out, v.StoredDay()); return;
    case bftTime: PutI32(out, v.StoredMs()); return;
    case bftDateTime:
      PutI32(out + valuefmt::kDateTimeDay, v.StoredDay());
      PutI32(out + valuefmt::kDateTimeMs, v.StoredMs());
      return;
    case bftBoolean: PutU16(out, v.AsBoolean() ? 1 : 0); return;
    case bftBytes:
    case bftVarBytes: {
      const auto& b = v.AsBytes();
      std::memcpy(out, b.data(), std::min(b.size(), SizeOr0(fd.FieldSize)));
      return;
    }
    default: throw EEdbComponentError("BLOB fields are written through the BLOB writer");
  }
}

}  // namespace edb
