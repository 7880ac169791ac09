#include "EdbBlob.h"

#include <algorithm>
#include <cstring>

#include "EdbCompression.h"
#include "EdbCrc.h"
#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbPageManager.h"

namespace edb {

namespace {

[[noreturn]] void CannotRead() { EdbRaise(errc::kCannotReadBlob, "Cannot read BLOB field value"); }

}  // namespace

uint32_t TEdbPageManagerBlobPages::DataSize() const { return pm_.PageDataSize(); }

void TEdbPageManagerBlobPages::ReadPage(int32_t pageNo, uint8_t* data, int32_t& nextPage) {
  TEdbPageRef page(pm_.GetPage(session_, pageNo, true, ptTableBlob));
  std::memcpy(data, page->Data(), page->DataSize());
  nextPage = page->NextPage();
}

TEdbLoadedBlob EdbLoadSmallBlob(IEdbBlobPages& pages, int32_t pageNo, int16_t id) {
  const uint32_t d = pages.DataSize();
  std::vector<uint8_t> data(d);
  int32_t next = -1;
  pages.ReadPage(pageNo, data.data(), next);
  if (d < blobfmt::kSmallEntries) CannotRead();
  const uint16_t count = GetU16(data.data() + blobfmt::kSmallCount);
  size_t off = blobfmt::kSmallEntries;
  for (uint16_t k = 0; k < count; ++k) {
    if (off + kEdbBlobEntryHeaderSize > d) CannotRead();
    const TEdbBlobEntryHeader h = TEdbBlobEntryHeader::Parse(data.data() + off);
    off += kEdbBlobEntryHeaderSize;
    if (h.StoredSize < 0 || uint64_t(h.StoredSize) > d - off) CannotRead();
    if (h.Id == id) {
      TEdbLoadedBlob b;
      b.Stored.assign(data.begin() + ptrdiff_t(off),
                      data.begin() + ptrdiff_t(off + size_t(h.StoredSize)));
      b.BlockCount = h.BlockCount;
      b.UncompressedSize = h.UncompressedSize;
      return b;
    }
    off += size_t(h.StoredSize);
  }
  // No entry carries the ID: the value cannot be read (an empty result would pass silently).
  CannotRead();
}

TEdbLoadedBlob EdbLoadLargeBlob(IEdbBlobPages& pages, int32_t pageNo, int32_t maxPages) {
  const uint32_t d = pages.DataSize();
  if (d <= kEdbBlobLargeDataOffset) CannotRead();
  std::vector<uint8_t> data(d);
  int32_t next = -1;
  pages.ReadPage(pageNo, data.data(), next);
  const TEdbBlobEntryHeader h = TEdbBlobEntryHeader::Parse(data.data());
  const TEdbBlobPageListRef list =
      TEdbBlobPageListRef::Parse(data.data() + kEdbBlobPageListRefOffset);
  const int64_t firstPart = int64_t(d) - int64_t(kEdbBlobLargeDataOffset);
  if (h.StoredSize < 0 || list.PageCount < 1) CannotRead();
  if (maxPages > 0 && list.PageCount > maxPages) CannotRead();
  // The data pages must hold S bytes, and no page beyond what S needs may be listed.
  const int64_t capacity = firstPart + int64_t(list.PageCount - 1) * d;
  if (h.StoredSize > capacity || h.StoredSize <= capacity - int64_t(d)) CannotRead();

  // Read the page list: P numbers from (list page, offset), following next-page links.
  std::vector<int32_t> pageList;
  pageList.reserve(size_t(std::min<int32_t>(list.PageCount, 65536)));
  int32_t listPage = list.PageNo;
  size_t off = list.Offset;
  std::vector<uint8_t> lp(d);
  while (int32_t(pageList.size()) < list.PageCount) {
    if (listPage < 0) CannotRead();
    int32_t link = -1;
    pages.ReadPage(listPage, lp.data(), link);
    if (off > d) CannotRead();
    const size_t room = (d - off) / blobfmt::kListEntrySize;
    if (room == 0) CannotRead();
    for (size_t k = 0; k < room && int32_t(pageList.size()) < list.PageCount; ++k) {
      pageList.push_back(GetI32(lp.data() + off + blobfmt::kListEntrySize * k));
    }
    listPage = link;
    off = 0;
  }

  // The bytes grow page by page: a stored size that the file cannot back fails on a missing page
  // before much memory is spent on it.
  TEdbLoadedBlob b;
  b.BlockCount = h.BlockCount;
  b.UncompressedSize = h.UncompressedSize;
  const size_t total = size_t(h.StoredSize);
  b.Stored.reserve(std::min<size_t>(total, size_t(16) << 20));
  size_t done = 0;
  for (size_t i = 0; i < pageList.size() && done < total; ++i) {
    const size_t from = i == 0 ? kEdbBlobLargeDataOffset : 0;
    if (i == 0 && pageList[0] == pageNo) {
      // The first listed page is the one already read.
    } else {
      pages.ReadPage(pageList[i], data.data(), next);
    }
    const size_t n = std::min(total - done, size_t(d) - from);
    b.Stored.insert(b.Stored.end(), data.begin() + ptrdiff_t(from),
                    data.begin() + ptrdiff_t(from + n));
    done += n;
  }
  if (done != total) CannotRead();
  return b;
}

TEdbLoadedBlob EdbLoadBlob(IEdbBlobPages& pages, const TEdbBlobRef& ref, int32_t maxPages) {
  if (ref.PageNo == 0 || ref.PageNo == -1) CannotRead();
  if (ref.PageNo < 0) CannotRead();
  if (ref.Id == kEdbLargeBlobId) return EdbLoadLargeBlob(pages, ref.PageNo, maxPages);
  if (ref.Id != kEdbAmbiguousBlobId) {
    if (ref.Id < 0) CannotRead();
    return EdbLoadSmallBlob(pages, ref.PageNo, ref.Id);
  }
  // ID 255 names either an entry of a small-BLOB page or a large BLOB. Read the page as a large
  // BLOB's first page: when its stored size fits its page count, try the large form first.
  bool largeFirst = false;
  try {
    const uint32_t d = pages.DataSize();
    std::vector<uint8_t> data(d);
    int32_t next = -1;
    pages.ReadPage(ref.PageNo, data.data(), next);
    if (d >= kEdbBlobLargeDataOffset) {
      const int64_t s = TEdbBlobEntryHeader::Parse(data.data()).StoredSize;
      const int64_t p =
          TEdbBlobPageListRef::Parse(data.data() + kEdbBlobPageListRefOffset).PageCount;
      largeFirst = (p - 2) * int64_t(d) < s && s < p * int64_t(d);
    }
  } catch (const std::exception&) {
    largeFirst = false;
  }
  if (largeFirst) {
    try {
      return EdbLoadLargeBlob(pages, ref.PageNo, maxPages);
    } catch (const std::exception&) {
      return EdbLoadSmallBlob(pages, ref.PageNo, ref.Id);
    }
  }
  try {
    return EdbLoadSmallBlob(pages, ref.PageNo, ref.Id);
  } catch (const std::exception&) {
    return EdbLoadLargeBlob(pages, ref.PageNo, maxPages);
  }
}

TEdbBlobStream::TEdbBlobStream(const TEdbLoadedBlob& blob, int32_t blockSize, uint8_t algorithm,
                               uint8_t /*mode*/)
    : blob_(blob), blockSize_(blockSize), algorithm_(algorithm) {
  if (blockSize == 0) EdbRaise(errc::kZeroBlockSize, "Stream block size = 0 is not allowed");
  if (blob.UncompressedSize < 0) EdbRaise(errc::kInvalidBlobSize, "Invalid blob field size");
  const size_t stored = blob.Stored.size();
  if (algorithm == caNone) {
    if (uint64_t(blob.UncompressedSize) > stored) {
      EdbRaise(errc::kBlobStoredTooSmall, "Stream size = %d too small. Should be at least = %d",
               int(stored), int(blob.UncompressedSize));
    }
    size_ = blob.UncompressedSize;
    return;
  }
  size_t pos = 0;
  int64_t total = 0;
  for (int32_t k = 0; k < blob.BlockCount; ++k) {
    if (stored - pos < kEdbBlobBlockHeaderSize) {
      EdbRaise(errc::kBlobBlockHeaderTooSmall,
               "Stream size = %d too small. Should be at least = %d", int(stored),
               int(pos + kEdbBlobBlockHeaderSize));
    }
    const TEdbBlobBlockHeader h = TEdbBlobBlockHeader::Parse(blob.Stored.data() + pos);
    if (h.UncompressedSize < 0 || h.CompressedSize < 0) {
      EdbRaise(errc::kDecompressedSizeMismatch,
               "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d", 0,
               int(h.UncompressedSize));
    }
    blocks_.push_back({pos, h, total});
    total += h.UncompressedSize;
    if (h.Distance < 0 || uint64_t(h.Distance) > stored - pos) {
      EdbRaise(errc::kBlobNextBlockOutOfRange,
               "Cannot set stream position to %d. Position = %d, Size = %d",
               int(int64_t(pos) + h.Distance), int(pos), int(stored));
    }
    pos += size_t(h.Distance);
  }
  size_ = total;
}

void TEdbBlobStream::Seek(int64_t pos) {
  if (pos < 0 || pos > size_) {
    EdbRaise(errc::kBlobSeekOutOfRange,
             "Cannot set stream position to %d. Position = %d, Size = %d", int(pos), int(pos_),
             int(size_));
  }
  pos_ = pos;
}

void TEdbBlobStream::LoadBlock(size_t index) {
  if (cachedBlock_ == index) return;
  cachedBlock_ = SIZE_MAX;
  const Block& b = blocks_[index];
  const size_t dataPos = b.Offset + kEdbBlobBlockHeaderSize;
  const size_t avail = blob_.Stored.size() - std::min(blob_.Stored.size(), dataPos);
  const size_t z = size_t(b.Header.CompressedSize);
  if (z > avail) {
    EdbRaise(errc::kReadBlock,
             "Cannot read from stream. Position = %d, Stream size = %d, Block size = %d, Bytes "
             "Read = %d",
             int(dataPos), int(blob_.Stored.size()), int(z), int(avail));
  }
  const size_t expected = size_t(b.Header.UncompressedSize);
  const size_t maxOut = std::min(kEdbMaxDecompressedSize, expected * 2 + 65536);
  if (!EdbDecompressBuffer(algorithm_, blob_.Stored.data() + dataPos, z, expected, cache_, nullptr,
                           maxOut)) {
    EdbRaise(errc::kDecompressBlock,
             "Decompress buffer failed. CompAlg = %d, InSize = %d, OutSize = %d", int(algorithm_),
             int(z), int(expected));
  }
  if (cache_.size() != expected) {
    EdbRaise(errc::kDecompressedSizeMismatch,
             "Decompress buffer failed. UncompSize = %d, Header.UncompSize = %d",
             int(cache_.size()), int(expected));
  }
  const uint32_t crc = EdbCrc32(cache_.data(), cache_.size(), 0);
  if (crc != b.Header.Crc) {
    EdbRaise(errc::kBlockChecksumMismatch,
             "Decompress buffer failed. CheckSum = %d, Header.Crc32 = %d", int(crc),
             int(b.Header.Crc));
  }
  cachedBlock_ = index;
}

size_t TEdbBlobStream::Read(uint8_t* out, size_t n) {
  size_t done = 0;
  while (done < n && pos_ < size_) {
    if (algorithm_ == caNone) {
      const size_t k = std::min(n - done, size_t(size_ - pos_));
      std::memcpy(out + done, blob_.Stored.data() + pos_, k);
      done += k;
      pos_ += int64_t(k);
      break;
    }
    // The block whose uncompressed range holds the position.
    size_t idx = blockSize_ > 0 ? size_t(pos_ / blockSize_) : 0;
    if (idx >= blocks_.size()) idx = blocks_.size() - 1;
    while (idx > 0 && blocks_[idx].Start > pos_) --idx;
    while (idx + 1 < blocks_.size() && blocks_[idx + 1].Start <= pos_) ++idx;
    LoadBlock(idx);
    const int64_t inBlock = pos_ - blocks_[idx].Start;
    if (inBlock < 0 || uint64_t(inBlock) >= cache_.size()) break;
    const size_t k = std::min(n - done, cache_.size() - size_t(inBlock));
    std::memcpy(out + done, cache_.data() + inBlock, k);
    done += k;
    pos_ += int64_t(k);
  }
  return done;
}

std::vector<uint8_t> TEdbBlobStream::ReadAll() {
  // Grows as the blocks are read: the sizes in block headers are not trusted for allocation
  // before the data behind them has been decompressed and checked.
  std::vector<uint8_t> out;
  out.reserve(size_t(std::min<int64_t>(size_ - pos_, int64_t(16) << 20)));
  uint8_t chunk[65536];
  while (pos_ < size_) {
    const size_t n = Read(chunk, sizeof chunk);
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  return out;
}

std::vector<uint8_t> EdbReadBlobValue(const TEdbLoadedBlob& blob, const TEdbFieldDef& fd) {
  TEdbBlobStream s(blob, fd.BlobBlockSize, fd.BlobCompressionAlgorithm, fd.BlobCompressionMode);
  return s.ReadAll();
}

int32_t EdbDefaultBlobBlockSize(int mode) {
  if (mode <= 0) return 102400;
  if (mode <= 3) return 524288;
  if (mode <= 6) return 1048576;
  return 1572864;
}

std::vector<uint8_t> EdbEncodeBlobStored(const uint8_t* value, size_t size, uint8_t algorithm,
                                         uint8_t mode, int32_t blockSize, int32_t& blockCount) {
  blockCount = 0;
  if (algorithm == caNone) return std::vector<uint8_t>(value, value + size);
  if (blockSize <= 0) blockSize = EdbDefaultBlobBlockSize(mode);
  std::vector<uint8_t> out;
  std::vector<uint8_t> z;
  for (size_t pos = 0; pos < size; pos += size_t(blockSize)) {
    const size_t n = std::min(size - pos, size_t(blockSize));
    if (!EdbCompressBuffer(algorithm, mode, value + pos, n, z)) {
      EdbRaise(errc::kCompressBlock,
               "Compress buffer failed. CompAlg = %d, CompMode = %d, InSize = %d, OutSize = %d",
               int(algorithm), int(mode), int(n), int(z.size()));
    }
    TEdbBlobBlockHeader h;
    h.CompressedSize = int32_t(z.size());
    h.UncompressedSize = int32_t(n);
    h.Crc = EdbCrc32(value + pos, n, 0);
    h.Distance = int64_t(z.size()) + int64_t(kEdbBlobBlockHeaderSize);
    uint8_t hb[kEdbBlobBlockHeaderSize];
    h.Serialize(hb);
    out.insert(out.end(), hb, hb + sizeof hb);
    out.insert(out.end(), z.begin(), z.end());
    ++blockCount;
  }
  return out;
}

}  // namespace edb
