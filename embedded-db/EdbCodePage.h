#pragma once
// Decoding of ANSI text stored in database files and the reverse. ANSI bytes are decoded with a
// caller-chosen Windows code page; the default is the system's ANSI code page on Windows and
// Windows-1252 elsewhere. Wide text is UTF-16LE. Results are UTF-8.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace edb {

// 0 means "the default code page" (see EdbDefaultCodePage()).
inline constexpr uint32_t kEdbDefaultCodePage = 0;

// The system's ANSI code page on Windows, 1252 elsewhere.
uint32_t EdbDefaultCodePage();

// True when text can be converted with this code page here (1252 always).
bool EdbCodePageSupported(uint32_t codePage);

// ANSI bytes -> UTF-8. Bytes the code page does not define become U+FFFD.
// Raises EEdbComponentError for an unsupported code page.
std::string EdbAnsiToUtf8(std::string_view bytes, uint32_t codePage = kEdbDefaultCodePage);

// True when every byte of `bytes` stands for a character of the code page, so that decoding
// needs no U+FFFD. Raises EEdbComponentError for an unsupported code page.
bool EdbAnsiDecodable(std::string_view bytes, uint32_t codePage = kEdbDefaultCodePage);

// UTF-8 -> ANSI bytes. Characters the code page cannot represent become '?'.
std::string EdbUtf8ToAnsi(const std::string& utf8, uint32_t codePage = kEdbDefaultCodePage);

// UTF-16LE code units (little-endian byte pairs, count = units) -> UTF-8; unpaired surrogates
// become U+FFFD.
std::string EdbUtf16LeToUtf8(const uint8_t* units, size_t count);
// UTF-8 -> UTF-16LE bytes (invalid sequences become U+FFFD).
std::string EdbUtf8ToUtf16Le(const std::string& utf8);

// Platform half: conversions through the operating system (iconv / MultiByteToWideChar) for
// code pages that have no built-in table. Return false when the code page is unavailable.
// `invalid` (when given) is set when some input had no character and was replaced.
bool EdbSysAnsiToUtf8(uint32_t codePage, const char* bytes, size_t len, std::string& out,
                      bool* invalid = nullptr);
bool EdbSysUtf8ToAnsi(uint32_t codePage, const std::string& utf8, std::string& out);
uint32_t EdbSysDefaultCodePage();

}  // namespace edb
