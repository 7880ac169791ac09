// Page and check-block encipherment: key derivation from the password, the feedback chaining and
// the 24-byte triple-DES block. The block ciphers and hashes are Crypto++'s.

#include "EdbCipher.h"

#include <cryptopp/blowfish.h>
#include <cryptopp/des.h>
#include <cryptopp/rijndael.h>
#include <cryptopp/ripemd.h>
#include <cryptopp/square.h>
#include <cryptopp/twofish.h>

#include <algorithm>
#include <cstring>

namespace edb {
namespace {

struct TCipherInfo {
  const char* name;
  bool ripemd256;  // else RIPEMD-128
  size_t maxKey;   // longest key of the cipher
  size_t blockSize;
};

const TCipherInfo kCiphers[kEdbCipherCount] = {
    {"Rijndael_128", false, 32, 16}, {"Rijndael_256", true, 32, 16}, {"DES_Single", false, 8, 8},
    {"DES_Triple", false, 24, 24},   {"Blowfish", true, 56, 8},      {"Twofish_128", false, 32, 16},
    {"Twofish_256", true, 32, 16},   {"Square", false, 16, 16},
};

template <class Cipher>
void MakePair(const std::vector<uint8_t>& key, std::unique_ptr<CryptoPP::BlockTransformation>& e,
              std::unique_ptr<CryptoPP::BlockTransformation>& d) {
  e = std::make_unique<typename Cipher::Encryption>(key.data(), key.size());
  d = std::make_unique<typename Cipher::Decryption>(key.data(), key.size());
}

}  // namespace

const char* EdbCipherName(uint8_t cipherId) {
  return cipherId < kEdbCipherCount ? kCiphers[cipherId].name : "";
}

std::vector<uint8_t> EdbDeriveCipherKey(const std::string& password, uint8_t cipherId) {
  if (cipherId >= kEdbCipherCount) return {};
  const TCipherInfo& info = kCiphers[cipherId];
  std::vector<uint8_t> digest;
  const auto* bytes = reinterpret_cast<const CryptoPP::byte*>(password.data());
  if (info.ripemd256) {
    CryptoPP::RIPEMD256 h;
    digest.resize(h.DigestSize());
    h.CalculateDigest(digest.data(), bytes, password.size());
  } else {
    CryptoPP::RIPEMD128 h;
    digest.resize(h.DigestSize());
    h.CalculateDigest(digest.data(), bytes, password.size());
  }
  if (cipherId == ciDesTriple) {
    digest.resize(24, 0);  // 16 digest bytes, then 8 zero bytes
    return digest;
  }
  digest.resize(std::min(digest.size(), info.maxKey));
  return digest;
}

struct TEdbCipher::Impl {
  size_t block = 0;
  // Single block cipher (all ids but DES_Triple).
  std::unique_ptr<CryptoPP::BlockTransformation> enc, dec;
  // DES_Triple: DES under K1, K2, K3.
  std::unique_ptr<CryptoPP::BlockTransformation> tdesEnc[3], tdesDec[3];

  static void SwapMiddleWords(uint8_t* b) {
    uint8_t t[4];
    std::memcpy(t, b + 4, 4);
    std::memcpy(b + 4, b + 8, 4);
    std::memcpy(b + 8, t, 4);
  }
  static void Pass(const CryptoPP::BlockTransformation& c, uint8_t* b) {
    for (int i = 0; i < 3; ++i) c.ProcessBlock(b + 8 * i);
  }
  // One 24-byte triple-DES block in place.
  void TripleEncrypt(uint8_t* b) const {
    Pass(*tdesEnc[0], b);
    SwapMiddleWords(b);
    Pass(*tdesDec[1], b);
    SwapMiddleWords(b);
    Pass(*tdesEnc[2], b);
  }
  void TripleDecrypt(uint8_t* b) const {
    Pass(*tdesDec[2], b);
    SwapMiddleWords(b);
    Pass(*tdesEnc[1], b);
    SwapMiddleWords(b);
    Pass(*tdesDec[0], b);
  }
  void E(uint8_t* b) const {
    if (enc)
      enc->ProcessBlock(b);
    else
      TripleEncrypt(b);
  }
  void D(uint8_t* b) const {
    if (dec)
      dec->ProcessBlock(b);
    else
      TripleDecrypt(b);
  }
};

TEdbCipher::TEdbCipher(const std::string& password, uint8_t cipherId) : id_(cipherId) {
  if (cipherId >= kEdbCipherCount) return;
  impl_ = std::make_unique<Impl>();
  impl_->block = kCiphers[cipherId].blockSize;
  std::vector<uint8_t> key = EdbDeriveCipherKey(password, cipherId);
  switch (cipherId) {
    case ciRijndael128:
    case ciRijndael256: MakePair<CryptoPP::Rijndael>(key, impl_->enc, impl_->dec); break;
    case ciDesSingle: MakePair<CryptoPP::DES>(key, impl_->enc, impl_->dec); break;
    case ciDesTriple:
      for (int i = 0; i < 3; ++i) {
        impl_->tdesEnc[i] = std::make_unique<CryptoPP::DES::Encryption>(key.data() + 8 * i, 8);
        impl_->tdesDec[i] = std::make_unique<CryptoPP::DES::Decryption>(key.data() + 8 * i, 8);
      }
      break;
    case ciBlowfish: MakePair<CryptoPP::Blowfish>(key, impl_->enc, impl_->dec); break;
    case ciTwofish128:
    case ciTwofish256: MakePair<CryptoPP::Twofish>(key, impl_->enc, impl_->dec); break;
    case ciSquare: MakePair<CryptoPP::Square>(key, impl_->enc, impl_->dec); break;
    default: break;
  }
}

TEdbCipher::~TEdbCipher() = default;

bool TEdbCipher::Active() const { return impl_ != nullptr; }

size_t TEdbCipher::BlockSize() const { return impl_ ? impl_->block : 0; }

void TEdbCipher::Encrypt(uint8_t* buf, size_t len) const {
  if (!impl_) return;
  const size_t B = impl_->block;
  uint8_t f[24];
  std::memset(f, 0xFF, B);
  size_t pos = 0;
  for (; pos + B <= len; pos += B) {
    uint8_t* p = buf + pos;
    for (size_t i = 0; i < B; ++i) p[i] ^= f[i];
    impl_->E(p);
    for (size_t i = 0; i < B; ++i) f[i] ^= p[i];
  }
  if (pos < len) {
    impl_->E(f);
    for (size_t i = 0; pos + i < len; ++i) buf[pos + i] ^= f[i];
  }
}

void TEdbCipher::Decrypt(uint8_t* buf, size_t len) const {
  if (!impl_) return;
  const size_t B = impl_->block;
  uint8_t f[24], c[24];
  std::memset(f, 0xFF, B);
  size_t pos = 0;
  for (; pos + B <= len; pos += B) {
    uint8_t* p = buf + pos;
    std::memcpy(c, p, B);
    impl_->D(p);
    for (size_t i = 0; i < B; ++i) {
      p[i] ^= f[i];
      f[i] ^= c[i];
    }
  }
  if (pos < len) {
    impl_->E(f);
    for (size_t i = 0; pos + i < len; ++i) buf[pos + i] ^= f[i];
  }
}

}  // namespace edb
