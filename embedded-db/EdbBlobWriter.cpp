#include "EdbBlobWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbPageManager.h"

namespace edb {

TEdbBlobRef TEdbBlobWriter::Write(const TEdbFieldDef& fd, const uint8_t* value, size_t size) {
  if (size == 0) EdbRaise(errc::kInvalidBlobSize, "Invalid blob field size");
  int32_t blocks = 0;
  const std::vector<uint8_t> stored = EdbEncodeBlobStored(
      value, size, fd.BlobCompressionAlgorithm, fd.BlobCompressionMode, fd.BlobBlockSize, blocks);
  const uint32_t d = pages_.DataSize();
  if (stored.size() + blobfmt::kSmallOverhead < d)
    return WriteSmall(stored.data(), stored.size(), blocks, int64_t(size));
  return WriteLarge(stored.data(), stored.size(), blocks, int64_t(size));
}

TEdbBlobRef TEdbBlobWriter::WriteSmall(const uint8_t* stored, size_t storedSize, int32_t blockCount,
                                       int64_t uncompressedSize) {
  const uint32_t d = pages_.DataSize();
  const size_t need = kEdbBlobEntryHeaderSize + storedSize;
  std::vector<uint8_t> data(d);
  int32_t next = -1;
  size_t used = 0;
  uint16_t count = 0;
  if (smallPage_ >= 0) {
    pages_.ReadPage(smallPage_, data.data(), next);
    count = GetU16(data.data() + blobfmt::kSmallCount);
    used = blobfmt::kSmallEntries;
    for (uint16_t k = 0; k < count; ++k) {
      used +=
          kEdbBlobEntryHeaderSize + size_t(GetI64(data.data() + used + blobfmt::kEntryStoredSize));
    }
    // IDs are allocated in entry order.
    if (used + need > d || count >= kEdbMaxSmallBlobId) smallPage_ = -1;
  }
  if (smallPage_ < 0) {
    smallPage_ = pages_.NewPage();
    std::fill(data.begin(), data.end(), 0);
    next = -1;
    count = 0;
    used = blobfmt::kSmallEntries;
  }
  if (used + need > d) {
    EdbRaise(errc::kBlobPageFull,
             "Cannot add blob. Page is full: BlobCount=%d, BlobOffset=%d, BlobSize=%d, "
             "PageDataSize=%d, SizeInBlobPageIndex=%d",
             int(count), int(used), int(storedSize), int(d), int(used));
  }
  TEdbBlobEntryHeader h;
  h.Id = int16_t(count);
  h.BlockCount = blockCount;
  h.StoredSize = int64_t(storedSize);
  h.UncompressedSize = uncompressedSize;
  h.Serialize(data.data() + used);
  if (storedSize) std::memcpy(data.data() + used + kEdbBlobEntryHeaderSize, stored, storedSize);
  PutU16(data.data() + blobfmt::kSmallCount, uint16_t(count + 1));
  pages_.WritePage(smallPage_, data.data(), next);
  return {smallPage_, h.Id};
}

TEdbBlobRef TEdbBlobWriter::WriteLarge(const uint8_t* stored, size_t storedSize, int32_t blockCount,
                                       int64_t uncompressedSize) {
  const uint32_t d = pages_.DataSize();
  const size_t first = d - kEdbBlobLargeDataOffset;
  size_t pageCount = 1;
  if (storedSize > first) pageCount += (storedSize - first + d - 1) / d;

  std::vector<int32_t> list(pageCount);
  for (auto& p : list) p = pages_.NewPage();

  std::vector<uint8_t> data(d);
  size_t done = 0;
  size_t lastUsed = 0;
  for (size_t i = 0; i < pageCount; ++i) {
    std::fill(data.begin(), data.end(), 0);
    const size_t from = i == 0 ? kEdbBlobLargeDataOffset : 0;
    const size_t n = std::min(storedSize - done, size_t(d) - from);
    if (n) std::memcpy(data.data() + from, stored + done, n);
    done += n;
    lastUsed = from + n;
    if (i + 1 < pageCount) pages_.WritePage(list[i], data.data(), -1);
  }
  // The page list follows the data on the last data page, or starts a fresh page when no
  // number fits there; it continues on further pages at offset 0, chained by next-page links.
  int32_t listStart = list.back();
  size_t listOffset = lastUsed;
  std::vector<uint8_t>* cur = &data;
  int32_t curPage = list.back();
  size_t off = lastUsed;
  std::vector<uint8_t> fresh(d);
  if ((d - off) / blobfmt::kListEntrySize == 0) {
    pages_.WritePage(curPage, data.data(), -1);
    curPage = pages_.NewPage();
    listStart = curPage;
    listOffset = 0;
    std::fill(fresh.begin(), fresh.end(), 0);
    cur = &fresh;
    off = 0;
  }
  size_t written = 0;
  while (true) {
    const size_t room = (d - off) / blobfmt::kListEntrySize;
    for (size_t k = 0; k < room && written < list.size(); ++k, ++written) {
      PutI32(cur->data() + off + blobfmt::kListEntrySize * k, list[written]);
    }
    if (written == list.size()) {
      pages_.WritePage(curPage, cur->data(), -1);
      break;
    }
    const int32_t nextPage = pages_.NewPage();
    pages_.WritePage(curPage, cur->data(), nextPage);
    curPage = nextPage;
    std::fill(fresh.begin(), fresh.end(), 0);
    cur = &fresh;
    off = 0;
  }

  // Header and page-list reference on the first page (rewritten with its data).
  std::vector<uint8_t> head(d);
  int32_t next = -1;
  pages_.ReadPage(list[0], head.data(), next);
  TEdbBlobEntryHeader h;
  h.Id = kEdbLargeBlobId;
  h.BlockCount = blockCount;
  h.StoredSize = int64_t(storedSize);
  h.UncompressedSize = uncompressedSize;
  h.Serialize(head.data());
  TEdbBlobPageListRef lr{listStart, uint16_t(listOffset), int32_t(pageCount)};
  lr.Serialize(head.data() + kEdbBlobPageListRefOffset);
  pages_.WritePage(list[0], head.data(), next);
  return {list[0], kEdbLargeBlobId};
}

uint32_t TEdbWriterBlobPages::DataSize() const { return pm_.PageDataSize(); }

void TEdbWriterBlobPages::ReadPage(int32_t pageNo, uint8_t* data, int32_t& nextPage) {
  TEdbPageRef page(pm_.GetPage(session_, pageNo, true, ptTableBlob));
  std::memcpy(data, page->Data(), page->DataSize());
  nextPage = page->NextPage();
}

int32_t TEdbWriterBlobPages::NewPage() {
  TEdbPageRef page(pm_.AddPage(session_, ptTableBlob));
  page->SetOwnerTableId(tableId_);
  page->SetDirty(true);
  return page->PageNo();
}

void TEdbWriterBlobPages::WritePage(int32_t pageNo, const uint8_t* data, int32_t nextPage) {
  TEdbPageRef page(pm_.GetPage(session_, pageNo, true, ptTableBlob));
  std::memcpy(page->Data(), data, page->DataSize());
  page->SetNextPage(nextPage);
  page->SetDirty(true);
}

void TEdbBlobStoreWriter::StoreBlob(TEdbBlobWriteContext& ctx, int fieldIndex, const uint8_t* data,
                                    size_t size, uint8_t reference[kEdbBlobRefSize]) {
  const TEdbFieldDef& fd = ctx.Metadata.Fields.at(size_t(fieldIndex));
  TEdbWriterBlobPages pages(ctx.PageManager, ctx.Session, ctx.TableID);
  TEdbBlobWriter writer(pages);
  auto it = smallPages_.find(ctx.TableID);
  if (it != smallPages_.end()) writer.SetSmallPage(it->second);
  const TEdbBlobRef ref = writer.Write(fd, data, size);
  smallPages_[ctx.TableID] = writer.SmallPage();
  ref.Serialize(reference);
}

}  // namespace edb
