#pragma once
// Internal files: byte sequences kept in chains of pages of one page type, linked through the
// page header's next-page field. The first page's data area starts with a 10-byte preamble
// (preamble length 10, int32 stored size, int32 full size, uint8 compression).
//
// Transacted files go through the page cache within a session and are committed with it
// (system directory, table list, table metadata and state). Direct files are read and written
// with direct partial page access, never enciphered (connection slots, table locks).

#include <cstdint>
#include <vector>

#include "EdbPageManager.h"
#include "EdbSystemFileFormat.h"

namespace edb {

// Largest expanded content accepted from a compressed internal file.
constexpr int32_t kEdbMaxInternalFileSize = 64 * 1024 * 1024;

struct TEdbInternalFileSize {
  int32_t Stored = 0;       // bytes as stored in the chain
  int32_t Full = 0;         // bytes before compression (0 in a direct file)
  uint8_t Compression = 0;  // 0 none, 1 ZLIB, 2 BZIP, 3 PPM
};

class TEdbInternalDBTransactedAccessFile {
 public:
  TEdbInternalDBTransactedAccessFile(TEdbDiskPageManager& pm, uint16_t pageType,
                                     int32_t firstPage = kEdbNoPage)
      : pm_(pm), pageType_(pageType), firstPage_(firstPage) {}

  int32_t FirstPage() const { return firstPage_; }
  void SetFirstPage(int32_t page) { firstPage_ = page; }
  uint16_t PageType() const { return pageType_; }

  // A new one-page file with the preamble 10, 0, 0, 0; returns its first page.
  // 30383 when this object already names a file.
  int32_t Create(int32_t session);
  TEdbInternalFileSize GetSize(int32_t session, bool sync = true);
  // Reads the first `count` bytes of the content (expanded when compressed): 30387 when the full
  // size is below count, 30388 when the chain ends early, 20189 when expansion fails, 20237 for
  // sizes that cannot be right.
  void Read(int32_t session, uint8_t* dest, bool sync, int32_t count);
  // The whole content.
  std::vector<uint8_t> ReadAll(int32_t session, bool sync = true);
  // Replaces the content (compressed with `compression` at `level` when not 0), growing or
  // shortening the chain. The pages become dirty in `session`.
  void Write(int32_t session, const uint8_t* data, int32_t count, uint8_t compression = 0,
             int level = 0);
  // Deletes every page of the chain.
  void Delete(int32_t session);

 private:
  void CheckOpen(const char* op) const;

  TEdbDiskPageManager& pm_;
  uint16_t pageType_;
  int32_t firstPage_;
};

class TEdbInternalDBDirectAccessFile {
 public:
  TEdbInternalDBDirectAccessFile(TEdbDiskPageManager& pm, uint16_t pageType)
      : pm_(pm), pageType_(pageType) {}

  // Allocates the pages for `size` content bytes in `session` (committed by the caller), writes
  // the preamble (10, size, 0, 0) and opens the file. Returns the first page.
  int32_t Create(int32_t session, int32_t size);
  // Reads the preamble and walks the chain the stored size needs, checking each page's type
  // (20155 "Invalid PageType found: %d but wanted: %d").
  void Open(int32_t firstPage);
  void Close() {
    pages_.clear();
    opened_ = false;
  }
  bool IsOpen() const { return opened_; }

  int32_t FirstPage() const { return pages_.empty() ? kEdbNoPage : pages_.front(); }
  int32_t StoredSize() const { return storedSize_; }
  // Stored size, or the whole first data area less the preamble for a one-page file.
  int32_t AddressableSize() const { return addressableSize_; }
  const std::vector<int32_t>& Pages() const { return pages_; }

  void ReadBytes(int32_t position, void* buf, int32_t count);
  void WriteBytes(int32_t position, const void* buf, int32_t count);

  // Byte-range locks: a content byte, or the file as a whole (byte 0 of its first page).
  bool LockByte(int32_t position);
  bool UnlockByte(int32_t position);
  bool IsByteLocked(int32_t position);
  bool IsRegionLocked(int32_t position, int32_t length);
  bool LockFile();
  bool UnlockFile();

 private:
  void CheckOpen(const char* op) const;
  // Page and page offset of a content position.
  void Locate(int32_t position, int32_t& pageNo, uint32_t& offset) const;

  TEdbDiskPageManager& pm_;
  uint16_t pageType_;
  bool opened_ = false;
  int32_t storedSize_ = 0;
  int32_t addressableSize_ = 0;
  std::vector<int32_t> pages_;
};

}  // namespace edb
