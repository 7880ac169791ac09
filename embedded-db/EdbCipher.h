#pragma once
// Encipherment of page data areas and of the password check block.
//
// Eight cipher ids (0..7), each a block cipher plus the RIPEMD hash that turns the password
// into its key. Every buffer is enciphered as a whole from the same starting state: a feedback
// register of B bytes of 0xFF; a whole block P becomes C = E(P xor F), then F := C xor F; a final
// partial block of n < B bytes is xored with the first n bytes of E(F) (deciphering uses E(F) for
// the tail too). An id outside 0..7 enciphers nothing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace edb {

enum TEdbCipherId : uint8_t {
  ciRijndael128 = 0,
  ciRijndael256 = 1,
  ciDesSingle = 2,
  ciDesTriple = 3,
  ciBlowfish = 4,
  ciTwofish128 = 5,
  ciTwofish256 = 6,
  ciSquare = 7,
};
constexpr int kEdbCipherCount = 8;

// The password a database is opened or created with: the password bytes (empty = none) and the
// cipher id used when the database is created encrypted.
struct TEdbPassword {
  std::string Text;
  uint8_t CipherId = ciRijndael128;
};

// The engine's name of a cipher id ("Rijndael_128", ...); "" for an unknown id.
const char* EdbCipherName(uint8_t cipherId);

// The key of a cipher id: the first min(digest length, longest key) bytes of RIPEMD-128 or
// RIPEMD-256 of the password; for DES_Triple the 16 digest bytes followed by 8 zero bytes.
// Empty for an unknown id.
std::vector<uint8_t> EdbDeriveCipherKey(const std::string& password, uint8_t cipherId);

// One keyed cipher. The key schedule is computed once; each Encrypt/Decrypt call starts from a
// fresh feedback register, so it is the same as using a fresh cipher per buffer.
class TEdbCipher {
 public:
  TEdbCipher(const std::string& password, uint8_t cipherId);
  ~TEdbCipher();
  TEdbCipher(const TEdbCipher&) = delete;
  TEdbCipher& operator=(const TEdbCipher&) = delete;

  uint8_t CipherId() const { return id_; }
  // False for an id outside 0..7 (then Encrypt and Decrypt leave the buffer as it is).
  bool Active() const;
  // Block size B: 16 (Rijndael, Twofish, Square), 8 (DES, Blowfish), 24 (DES_Triple).
  size_t BlockSize() const;

  void Encrypt(uint8_t* buf, size_t len) const;
  void Decrypt(uint8_t* buf, size_t len) const;

 private:
  struct Impl;
  uint8_t id_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace edb
