#include "EdbVariant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "BaseText.h"
#include "EdbException.h"

namespace edb {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = int(doy - (153 * mp + 2) / 5 + 1);
  month = int(mp < 10 ? mp + 3 : mp - 9);
  year = int(yoe + era * 400 + (month <= 2));
}

// Day number of 1970-01-01 when 0001-01-01 is day 1.
constexpr int64_t kUnixEpochDay = 719163;

[[noreturn]] void ConversionError(const char* to) {
  throw EEdbComponentError(base::Format("Could not convert variant to type (%s)", to));
}

}  // namespace

void EdbSerialToStored(double serial, int32_t& dayNumber, int32_t& ms) {
  if (!std::isfinite(serial) || serial > 2958466.0 || serial < -693593.0) {
    throw EEdbComponentError("Invalid date-time value");
  }
  double whole = std::trunc(serial);
  double frac = serial - whole;
  int64_t m = std::llround(frac * kEdbMsPerDay);
  int64_t d = int64_t(whole) + kEdbSerialDateOriginDay;
  if (m >= kEdbMsPerDay) {
    m -= kEdbMsPerDay;
    ++d;
  }
  if (m <= -kEdbMsPerDay) {
    m += kEdbMsPerDay;
    --d;
  }
  dayNumber = int32_t(d);
  ms = int32_t(m);
}

double EdbStoredToSerial(int32_t dayNumber, int32_t ms) {
  return double(int64_t(dayNumber) - kEdbSerialDateOriginDay) + double(ms) / kEdbMsPerDay;
}

void EdbDayNumberToDate(int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber < 1) dayNumber = 1;
  CivilFromDays(int64_t(dayNumber) - kUnixEpochDay, year, month, day);
}

int32_t EdbDateToDayNumber(int year, int month, int day) {
  return int32_t(DaysFromCivil(year, month, day) + kUnixEpochDay);
}

TEdbDateTimeParts EdbStoredToParts(int32_t dayNumber, int32_t ms) {
  // The day number is the calendar date; the magnitude of the count is the time of day (a
  // count of a whole day or more moves the date in the count's direction).
  int64_t d = dayNumber;
  int64_t m = ms;
  int64_t mag = m < 0 ? -m : m;
  int64_t carry = mag / kEdbMsPerDay;
  mag %= kEdbMsPerDay;
  d += m < 0 ? -carry : carry;
  if (d < 1) d = 1;
  if (d > INT32_MAX) d = INT32_MAX;
  TEdbDateTimeParts p;
  EdbDayNumberToDate(int32_t(d), p.Year, p.Month, p.Day);
  p.Hour = int(mag / 3600000);
  p.Minute = int(mag / 60000 % 60);
  p.Second = int(mag / 1000 % 60);
  p.Millisecond = int(mag % 1000);
  return p;
}

std::string EdbFormatDateTime(const TEdbDateTimeParts& p, TEdbDateKind kind) {
  char buf[64];
  switch (kind) {
    case TEdbDateKind::Date:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
      break;
    case TEdbDateKind::Time:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", p.Hour, p.Minute, p.Second,
                    p.Millisecond);
      break;
    default:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.Year, p.Month, p.Day,
                    p.Hour, p.Minute, p.Second, p.Millisecond);
      break;
  }
  return buf;
}

TEdbVariant TEdbVariant::Text(std::string utf8) {
  TEdbVariant v;
  v.type_ = TEdbVarType::Text;
  v.text_ = std::move(utf8);
  return v;
}

TEdbVariant TEdbVariant::Integer(int64_t i) {
  TEdbVariant v;
  v.type_ = TEdbVarType::Integer;
  v.int_ = i;
  return v;
}

TEdbVariant TEdbVariant::Double(double d) {
  TEdbVariant v;
  v.type_ = TEdbVarType::Double;
  v.dbl_ = d;
  return v;
}

TEdbVariant TEdbVariant::Boolean(bool b) {
  TEdbVariant v;
  v.type_ = TEdbVarType::Boolean;
  v.bool_ = b;
  return v;
}

TEdbVariant TEdbVariant::FromStored(int32_t dayNumber, int32_t ms, TEdbDateKind kind) {
  TEdbVariant v;
  v.type_ = TEdbVarType::DateTime;
  v.dateKind_ = kind;
  if (kind == TEdbDateKind::Date) ms = 0;
  if (kind == TEdbDateKind::Time) dayNumber = kEdbSerialDateOriginDay;
  v.int_ = dayNumber;
  v.ms_ = ms;
  v.dbl_ = EdbStoredToSerial(dayNumber, ms);
  return v;
}

TEdbVariant TEdbVariant::FromSerial(double serial, TEdbDateKind kind) {
  int32_t d = 0, m = 0;
  EdbSerialToStored(serial, d, m);
  return FromStored(d, m, kind);
}

TEdbVariant TEdbVariant::Bytes(std::vector<uint8_t> bytes) {
  TEdbVariant v;
  v.type_ = TEdbVarType::Bytes;
  v.bytes_ = std::move(bytes);
  return v;
}

const std::string& TEdbVariant::AsText() const {
  if (type_ != TEdbVarType::Text) ConversionError("String");
  return text_;
}

int64_t TEdbVariant::AsInteger() const {
  if (type_ == TEdbVarType::Integer) return int_;
  if (type_ == TEdbVarType::Boolean) return bool_ ? -1 : 0;
  ConversionError("Int64");
}

double TEdbVariant::AsDouble() const {
  if (type_ == TEdbVarType::Double || type_ == TEdbVarType::DateTime) return dbl_;
  if (type_ == TEdbVarType::Integer) return double(int_);
  ConversionError("Double");
}

bool TEdbVariant::AsBoolean() const {
  if (type_ == TEdbVarType::Boolean) return bool_;
  if (type_ == TEdbVarType::Integer) return int_ != 0;
  ConversionError("Boolean");
}

double TEdbVariant::AsDateTime() const {
  if (type_ != TEdbVarType::DateTime) ConversionError("Date");
  return dbl_;
}

TEdbDateKind TEdbVariant::DateKind() const {
  if (type_ != TEdbVarType::DateTime) ConversionError("Date");
  return dateKind_;
}

int32_t TEdbVariant::StoredDay() const {
  if (type_ != TEdbVarType::DateTime) ConversionError("Date");
  return int32_t(int_);
}

int32_t TEdbVariant::StoredMs() const {
  if (type_ != TEdbVarType::DateTime) ConversionError("Date");
  return ms_;
}

TEdbDateTimeParts TEdbVariant::DateTimeParts() const {
  if (type_ != TEdbVarType::DateTime) ConversionError("Date");
  return EdbStoredToParts(int32_t(int_), ms_);
}

const std::vector<uint8_t>& TEdbVariant::AsBytes() const {
  if (type_ != TEdbVarType::Bytes) ConversionError("Bytes");
  return bytes_;
}

std::string TEdbVariant::ToString() const {
  switch (type_) {
    case TEdbVarType::Null: ConversionError("String");
    case TEdbVarType::Text: return text_;
    case TEdbVarType::Integer: return std::to_string(int_);
    case TEdbVarType::Double: {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, dbl_);
      return std::string(buf, r.ptr);
    }
    case TEdbVarType::Boolean: return bool_ ? "True" : "False";
    case TEdbVarType::DateTime: return EdbFormatDateTime(DateTimeParts(), dateKind_);
    case TEdbVarType::Bytes: return std::string(bytes_.begin(), bytes_.end());
  }
  return {};
}

bool TEdbVariant::operator==(const TEdbVariant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case TEdbVarType::Null: return true;
    case TEdbVarType::Text: return text_ == o.text_;
    case TEdbVarType::Integer: return int_ == o.int_;
    case TEdbVarType::Double: return dbl_ == o.dbl_ || (std::isnan(dbl_) && std::isnan(o.dbl_));
    case TEdbVarType::Boolean: return bool_ == o.bool_;
    case TEdbVarType::DateTime: return dateKind_ == o.dateKind_ && int_ == o.int_ && ms_ == o.ms_;
    case TEdbVarType::Bytes: return bytes_ == o.bytes_;
  }
  return false;
}

}  // namespace edb
