#include "ToolFormat.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "Ado.h"

namespace mrvtool {

bool ParseDumpFormat(std::string_view text, TDumpFormat& out) {
  if (text == "jsonl") {
    out = TDumpFormat::JsonLines;
    return true;
  }
  if (text == "csv") {
    out = TDumpFormat::Csv;
    return true;
  }
  return false;
}

std::string Base64(const uint8_t* d, size_t n) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (uint32_t(d[i]) << 16) | (uint32_t(d[i + 1]) << 8) | d[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (n - i == 1) {
    const uint32_t v = uint32_t(d[i]) << 16;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (n - i == 2) {
    const uint32_t v = (uint32_t(d[i]) << 16) | (uint32_t(d[i + 1]) << 8);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

namespace {

const char kHexUpper[] = "0123456789ABCDEF";

// Length of the valid UTF-8 sequence at s[i] (0 when the bytes there are not one).
size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (c >= 0xC2 && c <= 0xDF)
    n = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size() || b(i + 1) < lo || b(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  return n;
}

// True for the two-byte UTF-8 form of a C1 control (U+0080..U+009F).
bool IsC1(std::string_view s, size_t i) {
  return static_cast<unsigned char>(s[i]) == 0xC2 && i + 1 < s.size() &&
         static_cast<unsigned char>(s[i + 1]) <= 0x9F &&
         static_cast<unsigned char>(s[i + 1]) >= 0x80;
}

void AppendHexByte(std::string& out, const char* prefix, unsigned char c) {
  out += prefix;
  out += kHexUpper[c >> 4];
  out += kHexUpper[c & 15];
}

}  // namespace

std::string ConsoleText(std::string text, const std::string& connectionString) {
  text = ado::MaskSecrets(std::move(text), connectionString);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

std::string EscapeControlChars(std::string_view s, bool keepLineFeeds) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x20 || c == 0x7F) {
      if (c == '\t' || (c == '\n' && keepLineFeeds))
        out += static_cast<char>(c);
      else
        AppendHexByte(out, "\\x", c);
      ++i;
      continue;
    }
    const size_t n = Utf8SequenceLength(s, i);
    if (n == 0) {
      AppendHexByte(out, "\\x", c);
      ++i;
    } else if (n == 2 && IsC1(s, i)) {
      AppendHexByte(out, "\\u00", static_cast<unsigned char>(s[i + 1]));
      i += 2;
    } else {
      out.append(s.data() + i, n);
      i += n;
    }
  }
  return out;
}

void AppendJsonString(std::string& out, std::string_view s) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  size_t run = 0;  // start of the pending run of bytes that need no escape
  for (size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c == 0x7F || IsC1(s, i)) {
      // Valid JSON leaves them raw, but a terminal would act on them.
      out.append(s.data() + run, i - run);
      const unsigned char code = c == 0x7F ? c : static_cast<unsigned char>(s[++i]);
      run = i + 1;
      out += "\\u00";
      out += kHex[code >> 4];
      out += kHex[code & 15];
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
}

namespace {

void AppendDouble(std::string& out, double d) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  out.append(buf, r.ptr);
}

void AppendInt(std::string& out, int64_t i) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, r.ptr);
}

}  // namespace

void AppendJsonValue(std::string& out, const edb::TEdbVariant& v) {
  using edb::TEdbVarType;
  switch (v.Type()) {
    case TEdbVarType::Null: out += "null"; return;
    case TEdbVarType::Text: AppendJsonString(out, v.AsText()); return;
    case TEdbVarType::Integer: AppendInt(out, v.AsInteger()); return;
    case TEdbVarType::Double:
      if (std::isfinite(v.AsDouble()))
        AppendDouble(out, v.AsDouble());
      else
        out += "null";
      return;
    case TEdbVarType::Boolean: out += v.AsBoolean() ? "true" : "false"; return;
    case TEdbVarType::DateTime:
      out += '"';
      out += edb::EdbFormatDateTime(v.DateTimeParts(), v.DateKind());
      out += '"';
      return;
    case TEdbVarType::Bytes: {
      const auto& b = v.AsBytes();
      out += '"';
      out += Base64(b.data(), b.size());
      out += '"';
      return;
    }
  }
}

void AppendCsvField(std::string& out, std::string_view s, bool quoteAlways) {
  bool quote = quoteAlways || s.empty();
  for (char c : s) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') {
      quote = true;
      break;
    }
  }
  if (!quote) {
    out.append(s);
    return;
  }
  out += '"';
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendCsvValue(std::string& out, const edb::TEdbVariant& v) {
  using edb::TEdbVarType;
  switch (v.Type()) {
    case TEdbVarType::Null: return;
    case TEdbVarType::Text: AppendCsvField(out, v.AsText()); return;
    case TEdbVarType::Integer: AppendInt(out, v.AsInteger()); return;
    case TEdbVarType::Double: AppendDouble(out, v.AsDouble()); return;
    case TEdbVarType::Boolean: out += v.AsBoolean() ? "true" : "false"; return;
    case TEdbVarType::DateTime:
      out += edb::EdbFormatDateTime(v.DateTimeParts(), v.DateKind());
      return;
    case TEdbVarType::Bytes: {
      const auto& b = v.AsBytes();
      out += Base64(b.data(), b.size());
      return;
    }
  }
}

TDumpWriter::TDumpWriter(std::FILE* out, TDumpFormat format, std::vector<std::string> names,
                         bool terminalSafe)
    : out_(out), format_(format), terminalSafe_(terminalSafe), names_(std::move(names)) {
  for (size_t i = 0; i < names_.size(); ++i) {
    std::string k = i == 0 ? "{" : ",";
    AppendJsonString(k, names_[i]);
    k += ':';
    jsonKeys_.push_back(std::move(k));
  }
  buf_.reserve(1 << 17);
}

TDumpWriter::~TDumpWriter() {
  try {
    Flush();
  } catch (...) {
  }
}

void TDumpWriter::Begin() {
  if (format_ != TDumpFormat::Csv) return;
  for (size_t i = 0; i < names_.size(); ++i) {
    if (i) buf_ += ',';
    AppendCsvField(buf_, terminalSafe_ ? EscapeControlChars(names_[i], true) : names_[i]);
  }
  buf_ += "\r\n";
}

void TDumpWriter::Record(const std::vector<edb::TEdbVariant>& values) {
  if (format_ == TDumpFormat::JsonLines) {
    for (size_t i = 0; i < values.size(); ++i) {
      buf_ += jsonKeys_[i];
      AppendJsonValue(buf_, values[i]);
    }
    buf_ += values.empty() ? "{}\n" : "}\n";
  } else {
    for (size_t i = 0; i < values.size(); ++i) {
      if (i) buf_ += ',';
      if (!nullText_.empty() && values[i].IsNull())
        buf_ += nullText_;
      else if (!nullText_.empty() && values[i].Type() == edb::TEdbVarType::Text &&
               values[i].AsText() == nullText_)
        AppendCsvField(buf_, nullText_, true);
      else if (terminalSafe_ && values[i].Type() == edb::TEdbVarType::Text)
        AppendCsvField(buf_, EscapeControlChars(values[i].AsText(), true));
      else
        AppendCsvValue(buf_, values[i]);
    }
    buf_ += "\r\n";
  }
  if (buf_.size() >= (1 << 16)) Flush();
}

void TDumpWriter::Flush() {
  if (buf_.empty()) return;
  errno = 0;
  const size_t n = std::fwrite(buf_.data(), 1, buf_.size(), out_);
  const int code = errno;
  const bool complete = n == buf_.size();
  buf_.clear();
  if (!complete || std::ferror(out_))
    throw std::runtime_error(
        code != 0 ? "Cannot write the output: " + std::string(std::strerror(code)) + "."
                  : std::string("Cannot write the output."));
}

}  // namespace mrvtool
