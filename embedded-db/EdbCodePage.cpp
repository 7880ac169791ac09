#include "EdbCodePage.h"

#include "BaseText.h"
#include "EdbEndian.h"
#include "EdbException.h"

namespace edb {

namespace {

// Windows-1252 0x80..0x9F. The five bytes the code page leaves unassigned (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) stand for the C1 control characters of the same value, as Windows maps them, so
// every byte survives the round trip through UTF-8.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

using base::AppendUtf8;
using base::NextUtf8;

// True when every byte sequence of `s` is well-formed UTF-8.
bool IsValidUtf8(std::string_view s) {
  const std::string text(s);
  for (size_t i = 0; i < text.size();) {
    const size_t at = i;
    if (NextUtf8(text, i) == 0xFFFD && text.compare(at, 3, "\xEF\xBF\xBD") != 0) return false;
  }
  return true;
}

uint32_t Resolve(uint32_t codePage) {
  return codePage == kEdbDefaultCodePage ? EdbDefaultCodePage() : codePage;
}

}  // namespace

uint32_t EdbDefaultCodePage() { return EdbSysDefaultCodePage(); }

bool EdbCodePageSupported(uint32_t codePage) {
  codePage = Resolve(codePage);
  if (codePage == 1252 || codePage == 65001) return true;
  std::string out;
  return EdbSysAnsiToUtf8(codePage, "A", 1, out);
}

std::string EdbAnsiToUtf8(std::string_view text, uint32_t codePage) {
  codePage = Resolve(codePage);
  const char* bytes = text.data();
  const size_t len = text.size();
  std::string out;
  bool ascii = true;
  for (size_t i = 0; i < len && ascii; ++i) ascii = uint8_t(bytes[i]) < 0x80;
  if (ascii) return std::string(bytes, len);
  if (codePage == 65001) {
    std::string in(text);
    out.reserve(len);
    for (size_t i = 0; i < in.size();) AppendUtf8(out, NextUtf8(in, i));
    return out;
  }
  if (codePage == 1252) {
    out.reserve(len * 2);
    for (size_t i = 0; i < len; ++i) {
      const auto b = uint8_t(bytes[i]);
      uint32_t cp = b;
      if (b >= 0x80 && b < 0xA0) cp = kCp1252High[b - 0x80];
      AppendUtf8(out, cp);
    }
    return out;
  }
  if (!EdbSysAnsiToUtf8(codePage, bytes, len, out)) {
    throw EEdbComponentError(base::Format("Code page %u is not supported", codePage));
  }
  return out;
}

bool EdbAnsiDecodable(std::string_view text, uint32_t codePage) {
  codePage = Resolve(codePage);
  bool ascii = true;
  for (size_t i = 0; i < text.size() && ascii; ++i) ascii = uint8_t(text[i]) < 0x80;
  if (ascii || codePage == 1252) return true;  // Windows-1252 assigns every byte
  if (codePage == 65001) return IsValidUtf8(text);
  std::string out;
  bool invalid = false;
  if (!EdbSysAnsiToUtf8(codePage, text.data(), text.size(), out, &invalid)) {
    throw EEdbComponentError(base::Format("Code page %u is not supported", codePage));
  }
  return !invalid;
}

std::string EdbUtf8ToAnsi(const std::string& utf8, uint32_t codePage) {
  codePage = Resolve(codePage);
  bool ascii = true;
  for (char c : utf8) ascii = ascii && uint8_t(c) < 0x80;
  if (ascii || codePage == 65001) return utf8;
  std::string out;
  if (codePage == 1252) {
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
      const uint32_t cp = NextUtf8(utf8, i);
      char b = '?';
      if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
        b = char(cp);
      } else {
        for (int k = 0; k < 32; ++k) {
          if (kCp1252High[k] == cp) {
            b = char(0x80 + k);
            break;
          }
        }
      }
      out += b;
    }
    return out;
  }
  if (!EdbSysUtf8ToAnsi(codePage, utf8, out)) {
    throw EEdbComponentError(base::Format("Code page %u is not supported", codePage));
  }
  return out;
}

std::string EdbUtf16LeToUtf8(const uint8_t* units, size_t count) {
  std::u16string text(count, u'\0');
  for (size_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(GetU16(units + 2 * i));
  return base::Utf16ToUtf8(text);
}

std::string EdbUtf8ToUtf16Le(const std::string& utf8) {
  const std::u16string text = base::Utf8ToUtf16(utf8);
  std::string out(text.size() * 2, '\0');
  for (size_t i = 0; i < text.size(); ++i)
    PutU16(reinterpret_cast<uint8_t*>(out.data()) + 2 * i, text[i]);
  return out;
}

}  // namespace edb
