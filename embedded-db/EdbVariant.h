#pragma once
// TEdbVariant: the value of one field of the current record as handed to callers.
// It tells apart null, text (UTF-8), integer, double, boolean, date-time and bytes.
// Date-times are kept as the engine stores them (day number, 0001-01-01 = day 1, and signed
// milliseconds since midnight) so that no precision is lost; the serial value (days since
// 1899-12-30) is derived from them.

#include <cstdint>
#include <string>
#include <vector>

namespace edb {

enum class TEdbVarType : uint8_t { Null, Text, Integer, Double, Boolean, DateTime, Bytes };

// Which part of a date-time value is meaningful.
enum class TEdbDateKind : uint8_t { Date, Time, DateTime };

// Calendar fields of a date-time value (proleptic Gregorian calendar).
struct TEdbDateTimeParts {
  int Year = 1899, Month = 12, Day = 30;
  int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// Day number of 1899-12-30 (day 1 = 0001-01-01).
inline constexpr int32_t kEdbSerialDateOriginDay = 693594;
inline constexpr int32_t kEdbMsPerDay = 86400000;

// Splits a serial value into the stored pair as the engine does: day = trunc(v) + 693594,
// ms = round((v - trunc(v)) * 86400000), so values before 1899-12-30 with a time of day get a
// negative millisecond count.
void EdbSerialToStored(double serial, int32_t& dayNumber, int32_t& ms);
// (day - 693594) + ms / 86400000.
double EdbStoredToSerial(int32_t dayNumber, int32_t ms);
// Calendar date of a day number (day 1 = 0001-01-01) and back. Days < 1 are clamped to day 1.
void EdbDayNumberToDate(int32_t dayNumber, int& year, int& month, int& day);
int32_t EdbDateToDayNumber(int year, int month, int day);
// Calendar fields of a stored pair: the day number is the calendar date and |ms| the time of day.
TEdbDateTimeParts EdbStoredToParts(int32_t dayNumber, int32_t ms);

class TEdbVariant {
 public:
  TEdbVariant() = default;  // null

  static TEdbVariant Null() { return TEdbVariant(); }
  static TEdbVariant Text(std::string utf8);
  static TEdbVariant Integer(int64_t v);
  static TEdbVariant Double(double v);
  static TEdbVariant Boolean(bool v);
  // From the stored pair (see EdbStoredToParts for how the pair is read).
  static TEdbVariant FromStored(int32_t dayNumber, int32_t ms, TEdbDateKind kind);
  // From a serial value (days since 1899-12-30), split as the engine splits it.
  static TEdbVariant FromSerial(double serial, TEdbDateKind kind);
  static TEdbVariant Bytes(std::vector<uint8_t> bytes);

  TEdbVarType Type() const noexcept { return type_; }
  bool IsNull() const noexcept { return type_ == TEdbVarType::Null; }

  // Typed access; each raises EEdbComponentError("Could not convert variant ...") when the
  // value is of another type (AsDouble also accepts integers).
  const std::string& AsText() const;
  // Moves the text out (for callers that hand the value on and drop the variant).
  std::string TakeText() {
    (void)AsText();
    return std::move(text_);
  }
  int64_t AsInteger() const;
  double AsDouble() const;
  bool AsBoolean() const;
  double AsDateTime() const;  // serial days since 1899-12-30
  TEdbDateKind DateKind() const;
  int32_t StoredDay() const;  // date-time only: the stored pair
  int32_t StoredMs() const;
  TEdbDateTimeParts DateTimeParts() const;
  const std::vector<uint8_t>& AsBytes() const;

  // Text form of any non-null value (integers in decimal, doubles shortest round trip,
  // booleans "True"/"False", dates "YYYY-MM-DD", times "HH:MM:SS.mmm", date-times
  // "YYYY-MM-DDTHH:MM:SS.mmm", bytes as-is). Null cannot be converted and raises
  // EEdbComponentError, as a variant-to-text conversion of a null value does.
  std::string ToString() const;

  bool operator==(const TEdbVariant& o) const;

 private:
  TEdbVarType type_ = TEdbVarType::Null;
  TEdbDateKind dateKind_ = TEdbDateKind::DateTime;
  bool bool_ = false;
  int64_t int_ = 0;  // integer, or the stored day number of a date-time
  int32_t ms_ = 0;   // stored milliseconds of a date-time
  double dbl_ = 0;
  std::string text_;
  std::vector<uint8_t> bytes_;
};

// ISO-8601 text of date-time parts: "YYYY-MM-DD", "HH:MM:SS.mmm" or "YYYY-MM-DDTHH:MM:SS.mmm".
std::string EdbFormatDateTime(const TEdbDateTimeParts& p, TEdbDateKind kind);

}  // namespace edb
