#pragma once
// Output formats of `mrvdbtool dump`: JSON Lines (one object per record, keys in field order)
// and CSV (header row, RFC 4180 quoting, CR LF line ends), plus base64 for bytes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "EdbMain.h"

namespace mrvtool {

enum class TDumpFormat { JsonLines, Csv };

// Parses "jsonl" / "csv"; false for anything else.
bool ParseDumpFormat(std::string_view text, TDumpFormat& out);

std::string Base64(const uint8_t* data, size_t size);

// Text that came from a file or a server made safe for a terminal: control characters (C0, DEL,
// and the C1 range U+0080..U+009F) become "\x1B" / "\u009B" escapes and bytes that are not valid
// UTF-8 become "\xNN", so that no escape sequence reaches the terminal; every other character,
// including non-ASCII letters, stays as it is. Tabs stay; line feeds stay when keepLineFeeds.
std::string EscapeControlChars(std::string_view text, bool keepLineFeeds);

// A message for the console: CR LF made LF and the secrets of `connectionString` (and any
// password the text itself carries) masked.
std::string ConsoleText(std::string text, const std::string& connectionString);
// A JSON string literal (with quotes) of UTF-8 text; DEL and C1 controls are escaped as well, so
// that a record printed to a terminal cannot drive it.
void AppendJsonString(std::string& out, std::string_view utf8);
// null, true/false, integers, numbers (non-finite doubles as null), dates "YYYY-MM-DD",
// times "HH:MM:SS.mmm", date-times "YYYY-MM-DDTHH:MM:SS.mmm", bytes as base64 strings.
void AppendJsonValue(std::string& out, const edb::TEdbVariant& v);
// One CSV field: text quoted when it holds a comma, quote, CR or LF (quotes doubled); an empty
// text is written as "" so that it differs from a null, which is written as nothing.
void AppendCsvField(std::string& out, std::string_view text, bool quoteAlways = false);
void AppendCsvValue(std::string& out, const edb::TEdbVariant& v);

// Writes records to a stream in one format, buffering at most about 64 KiB. With
// `terminalSafe`, CSV text (which has no escapes of its own) goes through EscapeControlChars;
// meant for output shown on a terminal, not for files, which keep the exact text.
class TDumpWriter {
 public:
  TDumpWriter(std::FILE* out, TDumpFormat format, std::vector<std::string> fieldNames,
              bool terminalSafe = false);
  ~TDumpWriter();
  TDumpWriter(const TDumpWriter&) = delete;
  TDumpWriter& operator=(const TDumpWriter&) = delete;

  // CSV: a null is written as `text` instead of nothing, and a text value equal to `text` is
  // quoted so that the two stay apart.
  void SetNullText(std::string text) { nullText_ = std::move(text); }
  // Writes the CSV header row (nothing for JSON Lines).
  void Begin();
  void Record(const std::vector<edb::TEdbVariant>& values);
  void Flush();

 private:
  std::FILE* out_;
  TDumpFormat format_;
  bool terminalSafe_;
  std::vector<std::string> names_;
  std::vector<std::string> jsonKeys_;  // pre-encoded "name":
  std::string buf_;
  std::string nullText_;
};

}  // namespace mrvtool
