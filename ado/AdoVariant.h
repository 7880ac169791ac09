// Values that travel through parameters and recordsets: null, text (UTF-8), date-time,
// integer and floating point. Date-times are serial days since 1899-12-30 with the time of
// day as fraction (the automation date), converted exactly at the backend edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

namespace ado {

struct DateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Serial date-time <-> calendar parts, to the millisecond (rounded). Negative serials follow
// the automation convention: the integer part counts days, the fraction is the time of day
// whatever the sign. Throws EAdoError for a year outside 1..9999.
DateTimeParts DecodeDateTime(double serial);
double EncodeDateTime(const DateTimeParts& parts);

// "YYYY-MM-DD HH:MM:SS.mmm"
std::string FormatIsoDateTime(double serial);
// The same text into `out`, zero-terminated, without allocating; returns its length (23).
inline constexpr std::size_t IsoDateTimeCapacity = 24;
std::size_t FormatIsoDateTime(double serial, char (&out)[IsoDateTimeCapacity]);
// Accepts "YYYY-MM-DD", "YYYY-MM-DD HH:MM", "...:SS", "...:SS.f" (1..9 fraction digits) and a
// 'T' instead of the blank. Returns false for anything else.
bool ParseIsoDateTime(const std::string& text, double& serial);

class Variant {
 public:
  enum class Type { Null, Text, DateTime, Integer, Float };

  Variant() = default;  // null
  Variant(std::nullptr_t) {}
  Variant(std::string text) : value_(std::move(text)) {}
  Variant(const char* text) : value_(std::string(text)) {}
  Variant(int value) : value_(static_cast<std::int64_t>(value)) {}
  Variant(std::int64_t value) : value_(value) {}
  static Variant FromDateTime(double serial);
  static Variant FromDouble(double value);

  Type GetType() const noexcept;
  bool IsNull() const noexcept { return GetType() == Type::Null; }

  // Conversions; each throws EAdoError (type mismatch) when the value cannot be converted,
  // a null included.
  std::string AsText() const;  // date-times as FormatIsoDateTime
  // The stored text itself when the value is text, else null (no copy, no conversion).
  const std::string* TextIfText() const { return std::get_if<std::string>(&value_); }
  double AsDateTime() const;     // from a date-time, a number or ISO text
  std::int64_t AsInt64() const;  // from integer, integral float or decimal text
  std::int32_t AsInt32() const;  // as AsInt64, range-checked
  double AsDouble() const;

  bool operator==(const Variant& other) const = default;

 private:
  struct DateTimeValue {
    double Serial;
    bool operator==(const DateTimeValue&) const = default;
  };
  std::variant<std::monostate, std::string, DateTimeValue, std::int64_t, double> value_;
};

}  // namespace ado
