// Buffer compression by the engine's algorithm codes: ZLIB (zlib streams) and BZIP (bzip2
// streams) through the system libraries; PPM is recognised and refused.

#include "EdbCompression.h"

#include <bzlib.h>
#include <zlib.h>

#include <algorithm>
#include <climits>

namespace edb {
namespace {

const char* const kNames[] = {"NONE", "ZLIB", "BZIP", "PPM"};

void SetWhy(std::string* why, const std::string& text) {
  if (why) *why = text;
}

size_t RoundUp256(size_t n) { return (n + 255) / 256 * 256; }

// Largest chunk handed to the libraries in one call (their counters are 32-bit).
constexpr size_t kChunk = size_t(1) << 30;

// First output buffer: the expected size when the algorithm's rule allows it (capped so that a
// bogus size read from a file cannot force a huge allocation), else the rounded input length.
size_t FirstOutputSize(uint8_t algorithm, size_t inSize, size_t expectedSize, size_t maxOut) {
  size_t first = RoundUp256(inSize);
  if (algorithm == caZlib && expectedSize >= 1 && expectedSize <= 10000) first = expectedSize;
  if (algorithm == caBzip && expectedSize != 0) first = std::min(expectedSize, size_t(16) << 20);
  return std::max<size_t>(1, std::min(first, maxOut));
}

// Grows the output by the rounded input length (more once the output is large, to keep the
// number of library calls low); false when the limit is reached.
bool GrowOutput(std::vector<uint8_t>& out, size_t step, size_t maxOut) {
  if (out.size() >= maxOut) return false;
  size_t grow = std::max(step, out.size() / 2);
  out.resize(std::min(maxOut, out.size() + grow));
  return true;
}

bool InflateZlib(const uint8_t* in, size_t inSize, size_t expectedSize, std::vector<uint8_t>& out,
                 std::string* why, size_t maxOut) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) {
    SetWhy(why, "zlib initialisation failed");
    return false;
  }
  const size_t step = std::max<size_t>(256, RoundUp256(inSize));
  out.assign(FirstOutputSize(caZlib, inSize, expectedSize, maxOut), 0);
  size_t inPos = 0, outPos = 0;
  int rc = Z_OK;
  for (;;) {
    if (outPos == out.size() && !GrowOutput(out, step, maxOut)) {
      SetWhy(why, "decompressed data exceeds the size limit");
      rc = Z_MEM_ERROR;
      break;
    }
    zs.next_in = const_cast<Bytef*>(in + inPos);
    zs.avail_in = uInt(std::min(kChunk, inSize - inPos));
    zs.next_out = out.data() + outPos;
    zs.avail_out = uInt(std::min(kChunk, out.size() - outPos));
    const uInt inBefore = zs.avail_in, outBefore = zs.avail_out;
    rc = inflate(&zs, Z_NO_FLUSH);
    inPos += inBefore - zs.avail_in;
    outPos += outBefore - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && zs.avail_out != 0) {
      SetWhy(why, "zlib stream is truncated");
      break;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      SetWhy(why, std::string("zlib stream is corrupt: ") + (zs.msg ? zs.msg : "error"));
      break;
    }
    if (inPos == inSize && zs.avail_out != 0) {
      SetWhy(why, "zlib stream is truncated");
      rc = Z_BUF_ERROR;
      break;
    }
  }
  inflateEnd(&zs);
  out.resize(outPos);
  return rc == Z_STREAM_END;
}

bool InflateBzip(const uint8_t* in, size_t inSize, size_t expectedSize, std::vector<uint8_t>& out,
                 std::string* why, size_t maxOut) {
  bz_stream bs{};
  if (BZ2_bzDecompressInit(&bs, 0, 0) != BZ_OK) {
    SetWhy(why, "bzip2 initialisation failed");
    return false;
  }
  const size_t step = std::max<size_t>(256, RoundUp256(inSize));
  out.assign(FirstOutputSize(caBzip, inSize, expectedSize, maxOut), 0);
  size_t inPos = 0, outPos = 0;
  int rc = BZ_OK;
  for (;;) {
    if (outPos == out.size() && !GrowOutput(out, step, maxOut)) {
      SetWhy(why, "decompressed data exceeds the size limit");
      rc = BZ_MEM_ERROR;
      break;
    }
    bs.next_in = const_cast<char*>(reinterpret_cast<const char*>(in + inPos));
    bs.avail_in = unsigned(std::min(kChunk, inSize - inPos));
    bs.next_out = reinterpret_cast<char*>(out.data() + outPos);
    bs.avail_out = unsigned(std::min(kChunk, out.size() - outPos));
    const unsigned inBefore = bs.avail_in, outBefore = bs.avail_out;
    rc = BZ2_bzDecompress(&bs);
    inPos += inBefore - bs.avail_in;
    outPos += outBefore - bs.avail_out;
    if (rc == BZ_STREAM_END) break;
    if (rc != BZ_OK) {
      SetWhy(why, "bzip2 stream is corrupt");
      break;
    }
    if (inPos == inSize && bs.avail_out != 0) {
      SetWhy(why, "bzip2 stream is truncated");
      rc = BZ_UNEXPECTED_EOF;
      break;
    }
  }
  BZ2_bzDecompressEnd(&bs);
  out.resize(outPos);
  return rc == BZ_STREAM_END;
}

}  // namespace

const char* EdbCompressionName(uint8_t algorithm) {
  return algorithm <= caPpm ? kNames[algorithm] : "";
}

uint32_t EdbPpmHeaderWord(int mode) {
  static const int kOrder[10] = {0, 2, 3, 4, 5, 7, 8, 10, 13, 16};
  static const int kMemory[10] = {0, 2, 3, 7, 16, 22, 25, 40, 100, 100};
  mode = std::clamp(mode, 0, 9);
  return 0x6000u | (uint32_t(kMemory[mode] - 1) << 4 & 0xFF0u) |
         (uint32_t(kOrder[mode] - 1) & 0xFu);
}

bool EdbCompressBuffer(uint8_t algorithm, int mode, const uint8_t* in, size_t inSize,
                       std::vector<uint8_t>& out, std::string* why) {
  out.clear();
  switch (algorithm) {
    case caZlib: {
      uLongf bound = compressBound(uLong(inSize));
      out.resize(bound);
      int rc = compress2(out.data(), &bound, in, uLong(inSize), std::clamp(mode, 0, 9));
      if (rc != Z_OK) {
        out.clear();
        SetWhy(why, "zlib compression failed");
        return false;
      }
      out.resize(bound);
      return true;
    }
    case caBzip: {
      if (inSize > UINT_MAX / 2) {
        SetWhy(why, "buffer too large for bzip2");
        return false;
      }
      unsigned len = unsigned(inSize + inSize / 100 + 600);
      out.resize(len);
      int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                        const_cast<char*>(reinterpret_cast<const char*>(in)),
                                        unsigned(inSize), std::clamp(mode, 1, 9), 0, 0);
      if (rc != BZ_OK) {
        out.clear();
        SetWhy(why, "bzip2 compression failed");
        return false;
      }
      out.resize(len);
      return true;
    }
    case caPpm: SetWhy(why, "Compression algorithm PPM is not supported"); return false;
    case caNone: SetWhy(why, "Compression algorithm NONE compresses nothing"); return false;
    default:
      SetWhy(why, "Unknown compression algorithm " + std::to_string(algorithm));
      return false;
  }
}

bool EdbDecompressBuffer(uint8_t algorithm, const uint8_t* in, size_t inSize, size_t expectedSize,
                         std::vector<uint8_t>& out, std::string* why, size_t maxOut) {
  out.clear();
  if (inSize == 0 || in == nullptr) {
    SetWhy(why, "nothing to decompress");
    return false;
  }
  bool ok = false;
  switch (algorithm) {
    case caZlib: ok = InflateZlib(in, inSize, expectedSize, out, why, maxOut); break;
    case caBzip: ok = InflateBzip(in, inSize, expectedSize, out, why, maxOut); break;
    case caPpm: SetWhy(why, "Compression algorithm PPM is not supported"); return false;
    case caNone: SetWhy(why, "Compression algorithm NONE holds no compressed data"); return false;
    default:
      SetWhy(why, "Unknown compression algorithm " + std::to_string(algorithm));
      return false;
  }
  if (ok && out.empty()) {
    SetWhy(why, "decompressed data is empty");
    ok = false;
  }
  if (!ok) out.clear();
  return ok;
}

}  // namespace edb
