#pragma once
// Buffer compression shared by compressed internal files and compressed BLOB blocks.
// Algorithm codes: 0 "NONE", 1 "ZLIB" (zlib stream), 2 "BZIP" (bzip2 stream), 3 "PPM"
// (recognised but not supported: compressing or decompressing it fails with a message naming
// the algorithm). Mode 1..9 is the deflate level or the bzip2 block size.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace edb {

enum TEdbCompressionAlgorithm : uint8_t {
  caNone = 0,
  caZlib = 1,
  caBzip = 2,
  caPpm = 3,
};

// "NONE", "ZLIB", "BZIP", "PPM"; "" for an unknown code.
const char* EdbCompressionName(uint8_t algorithm);

// The 4-byte PPM parameter word of a mode 0..9: 0x6000 | ((memory MB - 1) << 4) | (order - 1).
// Mode 9 gives 0x663F.
uint32_t EdbPpmHeaderWord(int mode);

// Largest output a decompression may produce (guards against corrupt or hostile input).
constexpr size_t kEdbMaxDecompressedSize = size_t(512) * 1024 * 1024;

// Compresses `inSize` bytes into `out` (replaced). False on failure, with the reason in `*why`
// when given. Algorithm 0 copies nothing and fails, like the engine.
bool EdbCompressBuffer(uint8_t algorithm, int mode, const uint8_t* in, size_t inSize,
                       std::vector<uint8_t>& out, std::string* why = nullptr);

// Decompresses the whole stream into `out` (replaced). `expectedSize` only sizes the first
// output buffer (ZLIB: when 1..10000; BZIP: when non-zero); otherwise the buffer starts at the
// input length rounded up to 256 and grows by that step while output remains. A zero-length
// input, algorithm 0, an empty result, a corrupt stream or an output above `maxOut` fail.
bool EdbDecompressBuffer(uint8_t algorithm, const uint8_t* in, size_t inSize, size_t expectedSize,
                         std::vector<uint8_t>& out, std::string* why = nullptr,
                         size_t maxOut = kEdbMaxDecompressedSize);

}  // namespace edb
