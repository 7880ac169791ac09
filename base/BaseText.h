#pragma once
// Text helpers every layer needs: printf-style formatting of message texts and UTF-8 <-> UTF-16
// conversion. Inside the program text is UTF-8; UTF-16 appears only at wide system interfaces.

#include <cstdarg>
#include <string>
#include <string_view>

namespace base {

// printf-style formatting into a std::string (%s, %d, %lld, %05d ...). A format the C library
// rejects comes back unformatted.
std::string Format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string FormatV(const char* fmt, va_list args);

// The code point of the UTF-8 sequence at `i`, advancing `i` past it. An invalid, overlong,
// truncated or surrogate sequence gives U+FFFD and advances one byte. `i` < s.size().
char32_t NextUtf8(std::string_view s, size_t& i);
// Appends the UTF-8 bytes of code point `cp` (at most U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// UTF-8 -> UTF-16. Invalid, overlong or surrogate sequences become U+FFFD, one per bad byte.
std::u16string Utf8ToUtf16(std::string_view text);
// UTF-16 -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace base
