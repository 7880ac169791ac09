#pragma once
// The engine's CRC-32: the reflected polynomial 0xEDB88320 with the usual 256-entry table, but
// started from 0 and without the final inversion. Used for page data areas and the password
// check block. The CRC of the three bytes "abc" is 0xCA6598D0.

#include <cstddef>
#include <cstdint>

namespace edb {

// Continues `crc` over `len` bytes; pass 0 to start.
uint32_t EdbCrc32(const void* data, size_t len, uint32_t crc = 0) noexcept;

}  // namespace edb
