// The engine CRC, the password-to-key derivation and the eight ciphers' chaining, pinned with
// published vectors and with expected bytes computed outside this code (by a separate
// implementation of the chaining over published single-block primitives).

#include <gtest/gtest.h>
#include <zlib.h>

#include <cryptopp/des.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <cstring>
#include <string>
#include <vector>

#include "EdbCipher.h"
#include "EdbCrc.h"

using namespace edb;

namespace {

std::vector<uint8_t> Hex(const std::string& h) {
  std::vector<uint8_t> v;
  for (size_t i = 0; i + 1 < h.size(); i += 2)
    v.push_back(uint8_t(std::stoul(h.substr(i, 2), nullptr, 16)));
  return v;
}

std::vector<uint8_t> Range(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i);
  return v;
}

std::vector<uint8_t> Encrypted(const std::string& pw, uint8_t id, std::vector<uint8_t> buf) {
  TEdbCipher(pw, id).Encrypt(buf.data(), buf.size());
  return buf;
}

// The chaining written out in the test, over any single-block encipher function.
template <class E>
std::vector<uint8_t> ChainByHand(E encipherBlock, size_t B, std::vector<uint8_t> pt) {
  std::vector<uint8_t> f(B, 0xFF), out;
  size_t pos = 0;
  for (; pos + B <= pt.size(); pos += B) {
    std::vector<uint8_t> blk(B);
    for (size_t i = 0; i < B; ++i) blk[i] = pt[pos + i] ^ f[i];
    encipherBlock(blk.data());
    for (size_t i = 0; i < B; ++i) f[i] ^= blk[i];
    out.insert(out.end(), blk.begin(), blk.end());
  }
  if (pos < pt.size()) {
    encipherBlock(f.data());
    for (size_t i = 0; pos + i < pt.size(); ++i) out.push_back(pt[pos + i] ^ f[i]);
  }
  return out;
}

const char* kRipemd128Abc = "c14a12199c66e4ba84636b0f69144c77";
const char* kRipemd256Abc = "afbd6e228b9d8cbbcef5ca2d03e6dba10ac0bc7dcbe4680e1e42d2e975459b65";

}  // namespace

TEST(EdbCrc, KnownValuesAndRelationToCommonCrc32) {
  EXPECT_EQ(EdbCrc32("abc", 3), 0xCA6598D0u);
  EXPECT_EQ(EdbCrc32("", 0), 0u);
  // Same table and polynomial as the common CRC-32, only without its initial and final
  // inversion: zlib started from all ones gives the inverted engine value.
  std::vector<uint8_t> data = Range(1000);
  const uint32_t common = uint32_t(crc32(0xFFFFFFFFul, data.data(), uInt(data.size())));
  EXPECT_EQ(EdbCrc32(data.data(), data.size()), ~common);
  // Continuation over split buffers.
  EXPECT_EQ(EdbCrc32(data.data() + 10, 990, EdbCrc32(data.data(), 10)),
            EdbCrc32(data.data(), 1000));
}

TEST(EdbCipherKey, PublishedRipemdVectorsTruncatedPerCipher) {
  auto hex = [](const std::vector<uint8_t>& v) {
    std::string s;
    char b[3];
    for (uint8_t c : v) {
      std::snprintf(b, sizeof b, "%02x", c);
      s += b;
    }
    return s;
  };
  EXPECT_EQ(hex(EdbDeriveCipherKey("", ciRijndael128)), "cdf26213a150dc3ecb610f18f6b38b46");
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciRijndael128)), kRipemd128Abc);
  EXPECT_EQ(hex(EdbDeriveCipherKey("", ciRijndael256)),
            "02ba4c4e5f8ecd1877fc52d64d30e37a2d9774fb1e5d026380ae0168e3c5522d");
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciRijndael256)), kRipemd256Abc);
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciDesSingle)), std::string(kRipemd128Abc).substr(0, 16));
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciDesTriple)),
            std::string(kRipemd128Abc) + "0000000000000000");
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciBlowfish)), kRipemd256Abc);
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciTwofish128)), kRipemd128Abc);
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciTwofish256)), kRipemd256Abc);
  EXPECT_EQ(hex(EdbDeriveCipherKey("abc", ciSquare)), kRipemd128Abc);
  EXPECT_TRUE(EdbDeriveCipherKey("abc", 8).empty());
}

// Expected bytes computed with an independent implementation of the chaining over the
// published AES, DES and Blowfish primitives (whose known answers it reproduced: FIPS-197
// 69c4e0d8..., DES 133457799BBCDFF1/0123456789ABCDEF -> 85E813540F0AB405).
TEST(EdbCipher, FixedVectorsForAesDesTripleDesBlowfish) {
  EXPECT_EQ(
      Encrypted("abc", ciRijndael128, Range(40)),
      Hex("2cc4dee080804816bc00a6be79813d12bbc782f24bc6323855f26f872fe43ba1ce7a1e0401067d4c"));
  EXPECT_EQ(
      Encrypted("abc", ciRijndael256, Range(40)),
      Hex("0931f72f25d9be8adebe078b637e98e855d11dbd4f71d10af7c4c6c1f85c640eb70cd0171b464314"));
  EXPECT_EQ(Encrypted("abc", ciDesSingle, Range(20)),
            Hex("41ca5a9c85b2ed4acfd10dc7e759d27e8fa18b7e"));
  EXPECT_EQ(
      Encrypted("abc", ciDesTriple, Range(56)),
      Hex("6c6f3ddb808fe042082850702063669ba17aaaa22bf361532934f8f980636b040b55480641e62663ad6cb7f1"
          "5970ae686f20abca3830101c"));
  EXPECT_EQ(Encrypted("abc", ciBlowfish, Range(20)),
            Hex("ae683491615f873425834dd758772d3d6e95d34e"));
}

// Twofish and Square: the primitive is checked against its known answer where one is published,
// then the chaining of two whole blocks and a partial tail is composed by hand.
TEST(EdbCipher, TwofishAndSquareMatchHandComposedChaining) {
  {
    std::vector<uint8_t> zero(16, 0), key0(16, 0);
    CryptoPP::Twofish::Encryption kat(key0.data(), 16);
    kat.ProcessBlock(zero.data());
    EXPECT_EQ(zero, Hex("9f589f5cf6122c32b6bfec2f2ae8c35a"));
  }
  struct Case {
    uint8_t id;
    const char* key;
  };
  for (Case c : {Case{ciTwofish128, kRipemd128Abc}, Case{ciTwofish256, kRipemd256Abc}}) {
    std::vector<uint8_t> key = Hex(c.key);
    CryptoPP::Twofish::Encryption e(key.data(), key.size());
    auto expected = ChainByHand([&](uint8_t* b) { e.ProcessBlock(b); }, 16, Range(40));
    EXPECT_EQ(Encrypted("abc", c.id, Range(40)), expected) << int(c.id);
  }
  std::vector<uint8_t> key = Hex(kRipemd128Abc);
  CryptoPP::Square::Encryption sq(key.data(), key.size());
  EXPECT_EQ(Encrypted("abc", ciSquare, Range(40)),
            ChainByHand([&](uint8_t* b) { sq.ProcessBlock(b); }, 16, Range(40)));
}

TEST(EdbCipher, EveryIdRoundTripsAndDiffersFromPlainText) {
  // 4056 bytes: the data area of a 4096-byte page (whole blocks plus a tail for 16-byte ciphers).
  std::vector<uint8_t> plain(4056);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 31 + 7);
  for (uint8_t id = 0; id < kEdbCipherCount; ++id) {
    TEdbCipher c("secret", id);
    EXPECT_TRUE(c.Active());
    std::vector<uint8_t> buf = plain;
    c.Encrypt(buf.data(), buf.size());
    EXPECT_NE(buf, plain) << EdbCipherName(id);
    // Each buffer starts from the same register: enciphering twice gives the same bytes.
    std::vector<uint8_t> again = plain;
    c.Encrypt(again.data(), again.size());
    EXPECT_EQ(buf, again);
    c.Decrypt(buf.data(), buf.size());
    EXPECT_EQ(buf, plain) << EdbCipherName(id);
  }
  EXPECT_EQ(TEdbCipher("x", ciDesTriple).BlockSize(), 24u);
  EXPECT_EQ(TEdbCipher("x", ciBlowfish).BlockSize(), 8u);
  EXPECT_EQ(TEdbCipher("x", ciSquare).BlockSize(), 16u);
  EXPECT_STREQ(EdbCipherName(ciDesTriple), "DES_Triple");
  EXPECT_STREQ(EdbCipherName(ciTwofish256), "Twofish_256");
}

TEST(EdbCipher, UnknownIdAndTailRules) {
  std::vector<uint8_t> buf = Range(33);
  TEdbCipher none("pw", 9);
  EXPECT_FALSE(none.Active());
  none.Encrypt(buf.data(), buf.size());
  EXPECT_EQ(buf, Range(33));
  // A buffer shorter than one block is only xored with E(F): enciphering is its own inverse.
  std::vector<uint8_t> tail = Range(5);
  TEdbCipher aes("pw", ciRijndael128);
  aes.Encrypt(tail.data(), tail.size());
  EXPECT_NE(tail, Range(5));
  aes.Encrypt(tail.data(), tail.size());
  EXPECT_EQ(tail, Range(5));
}
