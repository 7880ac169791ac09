#pragma once
// Little-endian byte helpers for the database file's integers, plus a bounds-checked reader
// over a byte buffer that raises the engine's stream error with the caller's native code.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace edb {

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline int16_t GetI16(const uint8_t* p) { return int16_t(GetU16(p)); }
inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) { return int32_t(GetU32(p)); }
inline uint64_t GetU64(const uint8_t* p) {
  return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32);
}
inline int64_t GetI64(const uint8_t* p) { return int64_t(GetU64(p)); }

inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutI16(uint8_t* p, int16_t v) { PutU16(p, uint16_t(v)); }
inline void PutU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, uint32_t(v)); }
inline void PutU64(uint8_t* p, uint64_t v) {
  PutU32(p, uint32_t(v));
  PutU32(p + 4, uint32_t(v >> 32));
}
inline void PutI64(uint8_t* p, int64_t v) { PutU64(p, uint64_t(v)); }

// Sequential reader over a byte buffer. Every read names the native error code to raise when the
// buffer ends inside the item: "Cannot read from stream. Position = %d, Stream size = %d,
// Block size = %d, Bytes Read = %d".
class TEdbByteReader {
 public:
  TEdbByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t Position() const { return pos_; }
  size_t Size() const { return size_; }
  size_t Remaining() const { return size_ - pos_; }

  uint8_t U8(int code) { return *Take(1, code); }
  int16_t I16(int code) { return GetI16(Take(2, code)); }
  uint16_t U16(int code) { return GetU16(Take(2, code)); }
  int32_t I32(int code) { return GetI32(Take(4, code)); }
  int64_t I64(int code) { return GetI64(Take(8, code)); }
  std::string Bytes(size_t n, int code) {
    const uint8_t* p = Take(n, code);
    return std::string(reinterpret_cast<const char*>(p), n);
  }
  // Returns a pointer to the next n bytes and moves past them.
  const uint8_t* Take(size_t n, int code);

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Append-only little-endian writer, the counterpart of TEdbByteReader.
class TEdbByteWriter {
 public:
  void U8(uint8_t v) { buf_.push_back(v); }
  void I16(int16_t v) {
    uint8_t b[2];
    PutI16(b, v);
    buf_.insert(buf_.end(), b, b + 2);
  }
  void U16(uint16_t v) {
    uint8_t b[2];
    PutU16(b, v);
    buf_.insert(buf_.end(), b, b + 2);
  }
  void I32(int32_t v) {
    uint8_t b[4];
    PutI32(b, v);
    buf_.insert(buf_.end(), b, b + 4);
  }
  void I64(int64_t v) {
    uint8_t b[8];
    PutI64(b, v);
    buf_.insert(buf_.end(), b, b + 8);
  }
  void Bytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
  }
  void Bytes(const std::string& s) { Bytes(s.data(), s.size()); }
  std::vector<uint8_t>& Buffer() { return buf_; }
  std::vector<uint8_t> Take() { return std::move(buf_); }

 private:
  std::vector<uint8_t> buf_;
};

}  // namespace edb
