#pragma once
// Builds database file images byte by byte, straight from the documented layouts, without the
// engine's writer: file header, check block, lock area, object-ID counter and pages with their
// 40-byte headers. Tests use these images to pin the reader against layouts computed by hand.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EdbDatabaseFile.h"

namespace edbtest {

inline void Le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void Le64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

// Little-endian byte appender for hand-made contents.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint8_t v) {
    b.push_back(v);
    return *this;
  }
  Bytes& i16(int16_t v) {
    uint8_t t[2];
    Le16(t, uint16_t(v));
    b.insert(b.end(), t, t + 2);
    return *this;
  }
  Bytes& i32(int32_t v) {
    uint8_t t[4];
    Le32(t, uint32_t(v));
    b.insert(b.end(), t, t + 4);
    return *this;
  }
  Bytes& i64(int64_t v) {
    uint8_t t[8];
    Le64(t, uint64_t(v));
    b.insert(b.end(), t, t + 8);
    return *this;
  }
  Bytes& str(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& name(const std::string& s) { return u8(uint8_t(s.size())).str(s); }
  Bytes& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
  size_t size() const { return b.size(); }
};

class Image {
 public:
  static constexpr uint32_t kPageSize = 4096;
  static constexpr uint32_t kData = kPageSize - 40;
  static constexpr uint32_t kPageArea = 380;

  explicit Image(int32_t pageCount, double version = 5.12) : pages_(pageCount) {
    bytes_.assign(kPageArea + size_t(pageCount) * kPageSize, 0);
    static const uint8_t sig[16] = {0x41, 0x42, 0x53, 0x30, 0x4C, 0x55, 0x54, 0x45,
                                    0x44, 0x41, 0x54, 0x41, 0x42, 0x41, 0x53, 0x45};
    std::memcpy(bytes_.data(), sig, 16);
    Le16(&bytes_[16], 76);
    uint64_t v;
    std::memcpy(&v, &version, 8);
    Le64(&bytes_[18], v);
    Le16(&bytes_[26], uint16_t(kPageSize));
    Le16(&bytes_[28], 8);
    Le32(&bytes_[30], uint32_t(pageCount));
    Le32(&bytes_[34], uint32_t(pageCount - 1));
    bytes_[42] = 2;           // consistent
    Le16(&bytes_[76], 280);   // check block length
    Le16(&bytes_[356], 20);   // lock area length
    Le32(&bytes_[376], 100);  // object-ID counter
    for (int32_t n = 0; n < pageCount; ++n) Page(n, 1, -1, -1);
  }

  uint8_t* PageBytes(int32_t n) { return bytes_.data() + kPageArea + size_t(n) * kPageSize; }
  uint8_t* Data(int32_t n) { return PageBytes(n) + 40; }

  // Writes a page header: magic, change counter, type, next page, owner table ID.
  void Page(int32_t n, uint16_t type, int32_t next, int32_t ownerTable, int32_t counter = 7) {
    uint8_t* p = PageBytes(n);
    p[0] = 0x41;
    p[1] = 0x42;
    p[2] = 0x53;
    p[3] = 0x50;
    Le32(p + 4, uint32_t(counter));
    Le16(p + 8, type);
    Le32(p + 10, uint32_t(next));
    Le32(p + 22, uint32_t(ownerTable));
    Le32(p + 26, 0xFFFFFFFFu);
  }

  // An internal file whose content starts on page `first` and continues on `more` pages.
  void InternalFile(uint16_t type, const std::vector<uint8_t>& content, std::vector<int32_t> chain,
                    int32_t storedOverride = -1) {
    int32_t stored = storedOverride >= 0 ? storedOverride : int32_t(content.size());
    size_t pos = 0;
    for (size_t i = 0; i < chain.size(); ++i) {
      Page(chain[i], type, i + 1 < chain.size() ? chain[i + 1] : -1, -1);
      uint8_t* d = Data(chain[i]);
      size_t off = 0;
      if (i == 0) {
        d[0] = 10;
        Le32(d + 1, uint32_t(stored));
        Le32(d + 5, uint32_t(stored));
        d[9] = 0;
        off = 10;
      }
      size_t n = std::min(content.size() - pos, size_t(kData) - off);
      if (n) std::memcpy(d + off, content.data() + pos, n);
      pos += n;
    }
  }

  // System directory (page 2), connection-slot file (page 3), table list (page 4).
  void SystemFiles(const std::vector<uint8_t>& tableList, std::vector<int32_t> listChain = {4}) {
    InternalFile(4, Bytes().u8(2).i32(3).u8(1).i32(listChain[0]).b, {2});
    InternalFile(5, std::vector<uint8_t>(), {3}, 500);
    InternalFile(6, tableList, listChain);
  }

  std::vector<uint8_t>& Raw() { return bytes_; }
  std::unique_ptr<edb::IEdbFileStore> Store() const {
    return std::make_unique<edb::TEdbMemoryFileStore>(bytes_);
  }

 private:
  int32_t pages_;
  std::vector<uint8_t> bytes_;
};

// One 272-byte table-list entry.
inline std::vector<uint8_t> TableListEntry(const std::string& name, int32_t id, int32_t meta,
                                           int32_t state, int32_t locks) {
  std::vector<uint8_t> e(272, 0);
  e[0] = uint8_t(name.size());
  std::memcpy(e.data() + 1, name.data(), name.size());
  Le32(&e[256], uint32_t(id));
  Le32(&e[260], uint32_t(meta));
  Le32(&e[264], uint32_t(state));
  Le32(&e[268], uint32_t(locks));
  return e;
}

// A field definition in stream form, non-BLOB (no BLOB items), no default value.
inline void FieldDef(Bytes& b, const std::string& name, int32_t id, uint8_t base, uint8_t adv,
                     int32_t size) {
  b.name(name).i32(id).u8(base).u8(adv).i32(size);
  b.i64(1).i64(0).i64(0).i64(0).u8(0);
  b.u8(base).u8(255);  // empty default value: two bytes
}

// A B-tree page of the record page index: leaf items (page, count) or node items (key, child).
inline void BTreePage(Image& img, int32_t n, bool root, bool leaf, int32_t prev, int32_t next,
                      const std::vector<std::pair<int32_t, int32_t>>& items) {
  img.Page(n, 12, -1, -1);
  uint8_t* d = img.Data(n);
  d[0] = root;
  d[1] = leaf;
  Le32(d + 2, uint32_t(prev));
  Le32(d + 6, uint32_t(next));
  Le16(d + 12, 4);
  Le16(d + 14, uint16_t(items.size()));
  uint8_t* p = d + 18;
  for (auto [k, v] : items) {
    Le32(p, uint32_t(k));
    if (leaf) {
      Le16(p + 4, uint16_t(v));
      p += 6;
    } else {
      Le32(p + 4, uint32_t(v));
      p += 8;
    }
  }
}

}  // namespace edbtest
