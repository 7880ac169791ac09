// Code pages without a built-in table go through glibc's iconv.
#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <string>

#include "EdbCodePage.h"

namespace edb {

namespace {

std::string IconvName(uint32_t codePage) {
  switch (codePage) {
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "BIG5";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28605: return "ISO-8859-15";
    default:
      if (codePage >= 1250 && codePage <= 1258) return "CP" + std::to_string(codePage);
      return {};
  }
}

// Converts with iconv; unconvertible input is replaced by `bad` and skipped by one byte
// (decoding) or one UTF-8 sequence (encoding).
bool Convert(const std::string& from, const std::string& to, const char* in, size_t len,
             std::string& out, const std::string& bad, bool inputIsUtf8, bool* invalid) {
  iconv_t cd = iconv_open(to.c_str(), from.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  out.reserve(len * 2 + 8);
  char buf[1024];
  char* src = const_cast<char*>(in);
  size_t left = len;
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, size_t(dst - buf));
    if (r == size_t(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace the offending input and go on.
      if (invalid) *invalid = true;
      out += bad;
      size_t skip = 1;
      if (inputIsUtf8) {
        const auto b = uint8_t(*src);
        skip = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
        if (skip > left) skip = left;
      }
      src += skip;
      left -= skip;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return true;
}

}  // namespace

uint32_t EdbSysDefaultCodePage() { return 1252; }

bool EdbSysAnsiToUtf8(uint32_t codePage, const char* bytes, size_t len, std::string& out,
                      bool* invalid) {
  const std::string name = IconvName(codePage);
  if (name.empty()) return false;
  return Convert(name, "UTF-8", bytes, len, out, "\xEF\xBF\xBD", false, invalid);
}

bool EdbSysUtf8ToAnsi(uint32_t codePage, const std::string& utf8, std::string& out) {
  const std::string name = IconvName(codePage);
  if (name.empty()) return false;
  return Convert("UTF-8", name, utf8.data(), utf8.size(), out, "?", true, nullptr);
}

}  // namespace edb
