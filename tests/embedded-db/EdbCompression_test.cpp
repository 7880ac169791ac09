// Buffer compression: streams made directly with zlib and libbz2 are expanded, the output
// sizing rule copes with unknown sizes, and every failure case answers false.

#include <gtest/gtest.h>

#include <bzlib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "EdbCompression.h"

using namespace edb;

namespace {

std::vector<uint8_t> Sample(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * i) % 251 + (i / 1000));
  return v;
}

std::vector<uint8_t> ZlibDirect(const std::vector<uint8_t>& in) {
  uLongf len = compressBound(uLong(in.size()));
  std::vector<uint8_t> out(len);
  EXPECT_EQ(compress2(out.data(), &len, in.data(), uLong(in.size()), 6), Z_OK);
  out.resize(len);
  return out;
}

std::vector<uint8_t> BzipDirect(const std::vector<uint8_t>& in) {
  unsigned len = unsigned(in.size() + in.size() / 100 + 600);
  std::vector<uint8_t> out(len);
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &len,
                                     const_cast<char*>(reinterpret_cast<const char*>(in.data())),
                                     unsigned(in.size()), 9, 0, 0),
            BZ_OK);
  out.resize(len);
  return out;
}

}  // namespace

TEST(EdbCompression, ExpandsLibraryStreamsWhateverTheExpectedSize) {
  const std::vector<uint8_t> data = Sample(300000);
  const std::vector<uint8_t> z = ZlibDirect(data), b = BzipDirect(data);
  // 0 and a wrong size both make the buffer grow by the rounded input length until done.
  for (size_t expected : {size_t(0), size_t(1), size_t(10000), data.size(), size_t(10001)}) {
    std::vector<uint8_t> out;
    ASSERT_TRUE(EdbDecompressBuffer(caZlib, z.data(), z.size(), expected, out)) << expected;
    EXPECT_EQ(out, data);
    ASSERT_TRUE(EdbDecompressBuffer(caBzip, b.data(), b.size(), expected, out)) << expected;
    EXPECT_EQ(out, data);
  }
}

TEST(EdbCompression, CompressesIntoStreamsTheLibrariesRead) {
  const std::vector<uint8_t> data = Sample(50000);
  std::vector<uint8_t> z, b;
  ASSERT_TRUE(EdbCompressBuffer(caZlib, 9, data.data(), data.size(), z));
  ASSERT_TRUE(EdbCompressBuffer(caBzip, 1, data.data(), data.size(), b));
  std::vector<uint8_t> back(data.size());
  uLongf len = uLongf(back.size());
  ASSERT_EQ(uncompress(back.data(), &len, z.data(), uLong(z.size())), Z_OK);
  EXPECT_EQ(back, data);
  unsigned blen = unsigned(back.size());
  ASSERT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(back.data()), &blen,
                                       reinterpret_cast<char*>(b.data()), unsigned(b.size()), 0, 0),
            BZ_OK);
  EXPECT_EQ(back, data);
}

TEST(EdbCompression, FailuresAnswerFalse) {
  const std::vector<uint8_t> data = Sample(5000);
  std::vector<uint8_t> z = ZlibDirect(data), out;
  std::string why;
  for (uint8_t alg : {caNone, caZlib, caBzip, caPpm})
    EXPECT_FALSE(EdbDecompressBuffer(alg, z.data(), 0, 100, out)) << int(alg);
  EXPECT_FALSE(EdbDecompressBuffer(caNone, z.data(), z.size(), 0, out));
  // Truncated and corrupted streams.
  EXPECT_FALSE(EdbDecompressBuffer(caZlib, z.data(), z.size() / 2, 0, out, &why));
  EXPECT_TRUE(out.empty());
  std::vector<uint8_t> bad = z;
  bad[bad.size() / 2] ^= 0xFF;
  bad[bad.size() / 3] ^= 0x55;
  EXPECT_FALSE(EdbDecompressBuffer(caZlib, bad.data(), bad.size(), 0, out));
  EXPECT_FALSE(EdbDecompressBuffer(caBzip, z.data(), z.size(), 0, out));
  // A stream that expands past the limit stops there instead of allocating on.
  std::vector<uint8_t> zeros(1 << 20, 0);
  std::vector<uint8_t> bomb = ZlibDirect(zeros);
  EXPECT_FALSE(EdbDecompressBuffer(caZlib, bomb.data(), bomb.size(), 0, out, &why, 4096));
  // An empty stream decompresses to nothing, which counts as failure.
  std::vector<uint8_t> empty = ZlibDirect({});
  EXPECT_FALSE(EdbDecompressBuffer(caZlib, empty.data(), empty.size(), 0, out));
}

TEST(EdbCompression, PpmIsNamedAndRefused) {
  EXPECT_EQ(EdbPpmHeaderWord(9), 0x663Fu);
  EXPECT_EQ(EdbPpmHeaderWord(1), 0x6011u);  // order 2, 2 MB
  std::vector<uint8_t> in(16, 1), out;
  std::string why;
  EXPECT_FALSE(EdbDecompressBuffer(caPpm, in.data(), in.size(), 16, out, &why));
  EXPECT_NE(why.find("PPM"), std::string::npos);
  why.clear();
  EXPECT_FALSE(EdbCompressBuffer(caPpm, 5, in.data(), in.size(), out, &why));
  EXPECT_NE(why.find("PPM"), std::string::npos);
  EXPECT_STREQ(EdbCompressionName(caBzip), "BZIP");
  EXPECT_STREQ(EdbCompressionName(caPpm), "PPM");
}
