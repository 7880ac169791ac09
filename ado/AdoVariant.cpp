// Variant values and the serial date-time arithmetic.
#include "AdoVariant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "AdoError.h"

namespace ado {
namespace {

constexpr std::int64_t kMsPerDay = 86400000;
// Days from 1970-01-01 to the serial epoch 1899-12-30.
constexpr std::int64_t kEpochOffset = -25569;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

[[noreturn]] void Mismatch(const char* what) {
  throw EAdoError(std::string("Type mismatch: the value cannot be converted to ") + what + ".",
                  kErrTypeMismatch, kSourceAccessLayer);
}

bool ParseDigits(const std::string& s, std::size_t& i, std::size_t count, int& out) {
  if (i + count > s.size()) return false;
  out = 0;
  for (std::size_t k = 0; k < count; ++k) {
    char c = s[i + k];
    if (c < '0' || c > '9') return false;
    out = out * 10 + (c - '0');
  }
  i += count;
  return true;
}

}  // namespace

DateTimeParts DecodeDateTime(double serial) {
  // The first day, 0001-01-01, is -693593; its times of day lie between it and -693594.
  if (!std::isfinite(serial) || serial <= -693594.0 || serial >= 2958466.0)
    throw EAdoError("The date-time value is out of range.", kErrInvalidArgument,
                    kSourceAccessLayer);
  double whole = std::trunc(serial);
  std::int64_t day = static_cast<std::int64_t>(whole);
  std::int64_t ms = std::llround(std::fabs(serial - whole) * static_cast<double>(kMsPerDay));
  if (ms >= kMsPerDay) {  // rounding reached midnight of the next calendar day
    ms -= kMsPerDay;
    ++day;
  }
  DateTimeParts p;
  CivilFromDays(day + kEpochOffset, p.Year, p.Month, p.Day);
  if (p.Year > 9999)
    throw EAdoError("The date-time value is out of range.", kErrInvalidArgument,
                    kSourceAccessLayer);
  p.Hour = static_cast<int>(ms / 3600000);
  p.Minute = static_cast<int>(ms / 60000 % 60);
  p.Second = static_cast<int>(ms / 1000 % 60);
  p.Millisecond = static_cast<int>(ms % 1000);
  return p;
}

double EncodeDateTime(const DateTimeParts& p) {
  if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
      p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
      p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.Millisecond < 0 || p.Millisecond > 999)
    throw EAdoError("The date-time value is out of range.", kErrInvalidArgument,
                    kSourceAccessLayer);
  std::int64_t day =
      DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) -
      kEpochOffset;
  std::int64_t ms = ((p.Hour * 60LL + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond;
  double frac = static_cast<double>(ms) / static_cast<double>(kMsPerDay);
  return day >= 0 ? static_cast<double>(day) + frac : static_cast<double>(day) - frac;
}

std::size_t FormatIsoDateTime(double serial, char (&out)[IsoDateTimeCapacity]) {
  const DateTimeParts p = DecodeDateTime(serial);
  char* d = out;
  // Fixed-width fields written digit by digit (DecodeDateTime keeps the year within four
  // digits): this runs for every date-time a target binds.
  const auto put = [&d](int value, int width) {
    unsigned v = value < 0 ? 0u : static_cast<unsigned>(value);
    for (int i = width - 1; i >= 0; --i) {
      d[i] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    d += width;
  };
  put(p.Year, 4);
  *d++ = '-';
  put(p.Month, 2);
  *d++ = '-';
  put(p.Day, 2);
  *d++ = ' ';
  put(p.Hour, 2);
  *d++ = ':';
  put(p.Minute, 2);
  *d++ = ':';
  put(p.Second, 2);
  *d++ = '.';
  put(p.Millisecond, 3);
  *d = '\0';
  return static_cast<std::size_t>(d - out);
}

std::string FormatIsoDateTime(double serial) {
  char buf[IsoDateTimeCapacity];
  return std::string(buf, FormatIsoDateTime(serial, buf));
}

bool ParseIsoDateTime(const std::string& s, double& serial) {
  DateTimeParts p;
  std::size_t i = 0;
  if (!ParseDigits(s, i, 4, p.Year) || i >= s.size() || s[i++] != '-' ||
      !ParseDigits(s, i, 2, p.Month) || i >= s.size() || s[i++] != '-' ||
      !ParseDigits(s, i, 2, p.Day))
    return false;
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return false;
    ++i;
    if (!ParseDigits(s, i, 2, p.Hour) || i >= s.size() || s[i++] != ':' ||
        !ParseDigits(s, i, 2, p.Minute))
      return false;
    if (i < s.size()) {
      if (s[i++] != ':' || !ParseDigits(s, i, 2, p.Second)) return false;
      if (i < s.size()) {
        if (s[i++] != '.') return false;
        std::size_t start = i;
        double frac = 0, scale = 0.1;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
          frac += (s[i] - '0') * scale;
          scale /= 10;
          ++i;
        }
        if (i == start || i - start > 9 || i != s.size()) return false;
        p.Millisecond = static_cast<int>(std::lround(frac * 1000));
        if (p.Millisecond > 999) p.Millisecond = 999;
      }
    }
  }
  try {
    serial = EncodeDateTime(p);
  } catch (const EAdoError&) {
    return false;
  }
  return true;
}

Variant Variant::FromDateTime(double serial) {
  Variant v;
  v.value_ = DateTimeValue{serial};
  return v;
}

Variant Variant::FromDouble(double value) {
  Variant v;
  v.value_ = value;
  return v;
}

Variant::Type Variant::GetType() const noexcept {
  switch (value_.index()) {
    case 1: return Type::Text;
    case 2: return Type::DateTime;
    case 3: return Type::Integer;
    case 4: return Type::Float;
    default: return Type::Null;
  }
}

std::string Variant::AsText() const {
  switch (GetType()) {
    case Type::Text: return std::get<std::string>(value_);
    case Type::DateTime: return FormatIsoDateTime(std::get<DateTimeValue>(value_).Serial);
    case Type::Integer: return std::to_string(std::get<std::int64_t>(value_));
    case Type::Float: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, std::get<double>(value_));
      return std::string(buf, r.ptr);
    }
    case Type::Null: break;
  }
  Mismatch("text");
}

double Variant::AsDateTime() const {
  switch (GetType()) {
    case Type::DateTime: return std::get<DateTimeValue>(value_).Serial;
    case Type::Integer: return static_cast<double>(std::get<std::int64_t>(value_));
    case Type::Float: return std::get<double>(value_);
    case Type::Text: {
      double serial = 0;
      if (ParseIsoDateTime(std::get<std::string>(value_), serial)) return serial;
      break;
    }
    case Type::Null: break;
  }
  Mismatch("a date-time");
}

std::int64_t Variant::AsInt64() const {
  switch (GetType()) {
    case Type::Integer: return std::get<std::int64_t>(value_);
    case Type::Float: {
      double d = std::get<double>(value_);
      if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
        return static_cast<std::int64_t>(d);
      break;
    }
    case Type::Text: {
      const std::string& s = std::get<std::string>(value_);
      std::int64_t v = 0;
      auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty()) return v;
      break;
    }
    case Type::DateTime:
    case Type::Null: break;
  }
  Mismatch("an integer");
}

std::int32_t Variant::AsInt32() const {
  std::int64_t v = AsInt64();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw EAdoError("Overflow: the value does not fit a 32-bit integer.", kErrTypeMismatch,
                    kSourceAccessLayer);
  return static_cast<std::int32_t>(v);
}

double Variant::AsDouble() const {
  switch (GetType()) {
    case Type::Integer: return static_cast<double>(std::get<std::int64_t>(value_));
    case Type::Float: return std::get<double>(value_);
    case Type::DateTime: return std::get<DateTimeValue>(value_).Serial;
    case Type::Text: {
      const std::string& s = std::get<std::string>(value_);
      double v = 0;
      auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty()) return v;
      break;
    }
    case Type::Null: break;
  }
  Mismatch("a number");
}

}  // namespace ado
