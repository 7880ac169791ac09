#pragma once
// BLOB storage: the 6-byte BLOB reference of a record, small-BLOB pages (several entries on one
// type-11 page), large BLOBs (a chain of type-11 pages with a page list) and the compressed
// block format of BLOB values. Reading turns a reference into the stored bytes (EdbLoadBlob) and
// the stored bytes into the field's value (EdbReadBlobValue / TEdbBlobStream).
//
// Page access goes through IEdbBlobPages so that the BLOB layer works over the page manager
// (TEdbPageManagerBlobPages) as well as over pages held in memory.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "EdbBlobFormat.h"
#include "EdbTableMetadata.h"

namespace edb {

class TEdbPageManager;

// Read access to type-11 pages.
class IEdbBlobPages {
 public:
  virtual ~IEdbBlobPages() = default;
  // D: the data-area size of a page.
  virtual uint32_t DataSize() const = 0;
  // Copies the D data bytes of page `pageNo` (which must be a BLOB page) into `data` and gives
  // its next-page link. Raises on failure (page layer errors).
  virtual void ReadPage(int32_t pageNo, uint8_t* data, int32_t& nextPage) = 0;
};

// Write access for the BLOB writer.
class IEdbBlobPageStore : public IEdbBlobPages {
 public:
  // A new, zero-filled BLOB page; returns its number.
  virtual int32_t NewPage() = 0;
  virtual void WritePage(int32_t pageNo, const uint8_t* data, int32_t nextPage) = 0;
};

// IEdbBlobPages over a page manager session.
class TEdbPageManagerBlobPages : public IEdbBlobPages {
 public:
  TEdbPageManagerBlobPages(TEdbPageManager& pm, int32_t session) : pm_(pm), session_(session) {}
  uint32_t DataSize() const override;
  void ReadPage(int32_t pageNo, uint8_t* data, int32_t& nextPage) override;

 private:
  TEdbPageManager& pm_;
  int32_t session_;
};

// The stored bytes of a BLOB value with the entry header's block count and U.
struct TEdbLoadedBlob {
  std::vector<uint8_t> Stored;
  int32_t BlockCount = 0;
  int64_t UncompressedSize = 0;
};

// Loads the stored bytes a reference names. Raises 20162 "Cannot read BLOB field value" when
// the reference is empty (page 0 or -1), when the small-BLOB page has no entry with the ID, and
// when the stored structures are inconsistent (sizes beyond the pages, broken page lists).
// `maxPages` bounds the pages a large BLOB may span (0: no bound beyond the structures).
TEdbLoadedBlob EdbLoadBlob(IEdbBlobPages& pages, const TEdbBlobRef& ref, int32_t maxPages = 0);
// The two forms, for tests and the ID 255 decision.
TEdbLoadedBlob EdbLoadSmallBlob(IEdbBlobPages& pages, int32_t pageNo, int16_t id);
TEdbLoadedBlob EdbLoadLargeBlob(IEdbBlobPages& pages, int32_t pageNo, int32_t maxPages = 0);

// Readable, seekable view of a BLOB value over its stored bytes. Blocks are decompressed one at
// a time when read. Errors: 20149 (block size 0), 20248 (negative U), 10081/10082 (stored bytes
// too short), 10083 (block position out of reach), 10086 (short block), 10087 (decompression
// failed), 10088 (block size differs), 10089 (checksum differs), 10103 (seek out of range).
class TEdbBlobStream {
 public:
  TEdbBlobStream(const TEdbLoadedBlob& blob, int32_t blockSize, uint8_t algorithm, uint8_t mode);
  int64_t Size() const { return size_; }
  int64_t Position() const { return pos_; }
  void Seek(int64_t pos);
  // Reads up to n bytes at the position; returns the bytes read.
  size_t Read(uint8_t* out, size_t n);
  std::vector<uint8_t> ReadAll();

 private:
  struct Block {
    size_t Offset;  // of the block header within the stored bytes
    TEdbBlobBlockHeader Header;
    int64_t Start;  // uncompressed position of its first byte
  };
  void LoadBlock(size_t index);

  const TEdbLoadedBlob& blob_;
  int32_t blockSize_;
  uint8_t algorithm_;
  int64_t size_ = 0;
  int64_t pos_ = 0;
  std::vector<Block> blocks_;
  size_t cachedBlock_ = SIZE_MAX;
  std::vector<uint8_t> cache_;
};

// The field's whole value (U bytes) from its stored bytes.
std::vector<uint8_t> EdbReadBlobValue(const TEdbLoadedBlob& blob, const TEdbFieldDef& fd);

// Default block size by compression mode when a field's BlobBlockSize is 0 at write time.
int32_t EdbDefaultBlobBlockSize(int mode);

// Builds the stored bytes of a value: the value itself (algorithm 0) or its compressed blocks.
// `blockCount` receives the number of blocks (0 when uncompressed). Raises 10085 when a block
// cannot be compressed.
std::vector<uint8_t> EdbEncodeBlobStored(const uint8_t* value, size_t size, uint8_t algorithm,
                                         uint8_t mode, int32_t blockSize, int32_t& blockCount);

}  // namespace edb
