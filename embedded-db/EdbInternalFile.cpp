#include "EdbInternalFile.h"

#include <algorithm>
#include <cstring>

#include "EdbCompression.h"
#include "EdbEndian.h"
#include "EdbException.h"

namespace edb {

namespace {

[[noreturn]] void RaiseInvalidFormat() {
  EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
}

// Largest number of content bytes a chain can hold in this database.
int64_t ChainCapacity(TEdbDiskPageManager& pm) {
  return int64_t(pm.Header().TotalPageCount) * pm.PageDataSize();
}

}  // namespace

// ---- transacted --------------------------------------------------------------------------

void TEdbInternalDBTransactedAccessFile::CheckOpen(const char* op) const {
  if (firstPage_ == kEdbNoPage)
    EdbRaise(errc::kTransactedFileClosed,
             "Cannot perform this operation (%s) on closed internal file", op);
}

int32_t TEdbInternalDBTransactedAccessFile::Create(int32_t session) {
  if (firstPage_ != kEdbNoPage)
    EdbRaise(errc::kTransactedFileExists,
             "Cannot create Internal file. File already exists. StartPageNo=%d", firstPage_);
  TEdbPageRef page(pm_.AddPage(session, pageType_));
  uint8_t* d = page->Data();
  d[preamble::kLength] = kEdbInternalFilePreamble;
  PutI32(d + preamble::kStoredSize, 0);
  PutI32(d + preamble::kFullSize, 0);
  d[preamble::kCompression] = 0;
  page->SetNextPage(kEdbNoPage);
  page->SetDirty(true);
  firstPage_ = page->PageNo();
  return firstPage_;
}

TEdbInternalFileSize TEdbInternalDBTransactedAccessFile::GetSize(int32_t session, bool sync) {
  CheckOpen("GetSize");
  TEdbPageRef page(pm_.GetPage(session, firstPage_, sync, pageType_));
  const uint8_t* d = page->Data();
  TEdbInternalFileSize s;
  s.Stored = GetI32(d + preamble::kStoredSize);
  s.Full = GetI32(d + preamble::kFullSize);
  s.Compression = d[preamble::kCompression];
  return s;
}

void TEdbInternalDBTransactedAccessFile::Read(int32_t session, uint8_t* dest, bool sync,
                                              int32_t count) {
  CheckOpen("ReadFile");
  if (count < 0) RaiseInvalidFormat();
  TEdbPageRef page(pm_.GetPage(session, firstPage_, sync, pageType_));
  const uint32_t dataSize = pm_.PageDataSize();
  const uint8_t* d = page->Data();
  const int32_t stored = GetI32(d + preamble::kStoredSize);
  const int32_t full = GetI32(d + preamble::kFullSize);
  const uint8_t compression = d[preamble::kCompression];
  if (full < count)
    EdbRaise(errc::kInternalFileReadPastSize, "Cannot Read internal file. FileSize=%d. ReadSize=%d",
             full, count);
  if (stored < 0) RaiseInvalidFormat();

  const int32_t wanted = compression ? stored : count;
  // Every number from the file is checked before it sizes anything: a chain cannot hold more
  // than the file's pages, and expanded content is bounded.
  if (wanted > ChainCapacity(pm_)) RaiseInvalidFormat();
  if (compression && count > kEdbMaxInternalFileSize) RaiseInvalidFormat();

  std::vector<uint8_t> work;
  uint8_t* target = dest;
  if (compression) {
    work.resize(size_t(wanted));
    target = work.data();
  }

  int64_t collected = 0;
  uint32_t offset = kEdbInternalFilePreamble;
  for (;;) {
    uint32_t avail = dataSize > offset ? dataSize - offset : 0;
    uint32_t take = uint32_t(std::min<int64_t>(avail, wanted - collected));
    if (take) std::memcpy(target + collected, page->Data() + offset, take);
    collected += take;
    if (collected >= wanted) break;
    int32_t next = page->NextPage();
    if (next == kEdbNoPage) break;
    page.Reset();
    page = TEdbPageRef(pm_.GetPage(session, next, sync, pageType_));
    offset = 0;
  }
  page.Reset();
  if (collected < wanted)
    EdbRaise(errc::kInternalFileShortRead,
             "Cannot read internal file. Bytes wanted=%d. Bytes read=%d", wanted,
             int32_t(collected));

  if (compression) {
    std::vector<uint8_t> out;
    if (!EdbDecompressBuffer(compression, work.data(), work.size(), size_t(full), out, nullptr,
                             size_t(kEdbMaxInternalFileSize)) ||
        out.size() < size_t(count))
      EdbRaise(errc::kTableFileDecompression,
               "Table file decompression error. Probably table is corrupted");
    if (count) std::memcpy(dest, out.data(), size_t(count));
  }
}

std::vector<uint8_t> TEdbInternalDBTransactedAccessFile::ReadAll(int32_t session, bool sync) {
  TEdbInternalFileSize s = GetSize(session, sync);
  if (s.Full < 0 || s.Full > kEdbMaxInternalFileSize) RaiseInvalidFormat();
  if (!s.Compression && s.Full > ChainCapacity(pm_)) RaiseInvalidFormat();
  std::vector<uint8_t> out(size_t(s.Full));
  Read(session, out.data(), sync, s.Full);
  return out;
}

void TEdbInternalDBTransactedAccessFile::Write(int32_t session, const uint8_t* data, int32_t count,
                                               uint8_t compression, int level) {
  CheckOpen("WriteFile");
  std::vector<uint8_t> packed;
  const uint8_t* content = data;
  int32_t stored = count;
  if (compression && count > 0) {
    if (!EdbCompressBuffer(compression, level, data, size_t(count), packed))
      EdbRaise(errc::kTableFileCompression, "Table file compression error");
    content = packed.data();
    stored = int32_t(packed.size());
  } else {
    compression = 0;
  }

  const uint32_t dataSize = pm_.PageDataSize();
  const int64_t pagesNeeded =
      std::max<int64_t>(1, (int64_t(stored) + kEdbInternalFilePreamble + dataSize - 1) / dataSize);

  TEdbPageRef page(pm_.GetPage(session, firstPage_, true, pageType_));
  uint8_t* d = page->Data();
  d[preamble::kLength] = kEdbInternalFilePreamble;
  PutI32(d + preamble::kStoredSize, stored);
  PutI32(d + preamble::kFullSize, count);
  d[preamble::kCompression] = compression;

  int64_t written = 0;
  uint32_t offset = kEdbInternalFilePreamble;
  for (int64_t i = 0; i < pagesNeeded; ++i) {
    uint32_t take = uint32_t(std::min<int64_t>(dataSize - offset, stored - written));
    if (take) std::memcpy(page->Data() + offset, content + written, take);
    written += take;
    page->SetDirty(true);
    if (i + 1 == pagesNeeded) break;
    int32_t next = page->NextPage();
    TEdbPageRef nextPage;
    if (next == kEdbNoPage) {
      nextPage = TEdbPageRef(pm_.AddPage(session, pageType_));
      nextPage->SetNextPage(kEdbNoPage);
      page->SetNextPage(nextPage->PageNo());
    } else {
      nextPage = TEdbPageRef(pm_.GetPage(session, next, true, pageType_));
    }
    page = std::move(nextPage);
    offset = 0;
  }
  // Pages the shorter content no longer needs are given back.
  int32_t rest = page->NextPage();
  if (rest != kEdbNoPage) {
    page->SetNextPage(kEdbNoPage);
    page->SetDirty(true);
  }
  page.Reset();
  while (rest != kEdbNoPage) {
    int32_t after;
    {
      TEdbPageRef p(pm_.GetPage(session, rest, true, pageType_));
      after = p->NextPage();
    }
    pm_.DeletePage(session, rest);
    rest = after;
  }
}

void TEdbInternalDBTransactedAccessFile::Delete(int32_t session) {
  CheckOpen("SetSize");
  int32_t n = firstPage_;
  int64_t guard = int64_t(pm_.Header().TotalPageCount) + 1;
  while (n != kEdbNoPage && guard-- > 0) {
    int32_t next;
    {
      TEdbPageRef p(pm_.GetPage(session, n, true, pageType_));
      next = p->NextPage();
    }
    pm_.DeletePage(session, n);
    n = next;
  }
  firstPage_ = kEdbNoPage;
}

// ---- direct ------------------------------------------------------------------------------

void TEdbInternalDBDirectAccessFile::CheckOpen(const char* op) const {
  if (!opened_)
    EdbRaise(errc::kDirectFileClosed, "Cannot perform this operation (%s) on closed internal file",
             op);
}

int32_t TEdbInternalDBDirectAccessFile::Create(int32_t session, int32_t size) {
  if (opened_)
    EdbRaise(errc::kDirectFileExists,
             "Cannot create Internal file. File already exists. StartPageNo=%d", FirstPage());
  if (size < 0) size = 0;
  const uint32_t dataSize = pm_.PageDataSize();
  const int64_t pagesNeeded =
      std::max<int64_t>(1, (int64_t(size) + kEdbInternalFilePreamble + dataSize - 1) / dataSize);
  std::vector<int32_t> pages;
  TEdbPageRef prev;
  for (int64_t i = 0; i < pagesNeeded; ++i) {
    TEdbPageRef p(pm_.AddPage(session, pageType_));
    p->SetEncipherOnWrite(false);
    p->SetNextPage(kEdbNoPage);
    p->SetDirty(true);
    if (i == 0) {
      uint8_t* d = p->Data();
      d[preamble::kLength] = kEdbInternalFilePreamble;
      PutI32(d + preamble::kStoredSize, size);
      PutI32(d + preamble::kFullSize, 0);
      d[preamble::kCompression] = 0;
    }
    if (prev) prev->SetNextPage(p->PageNo());
    pages.push_back(p->PageNo());
    prev = std::move(p);
  }
  prev.Reset();
  pages_ = std::move(pages);
  storedSize_ = size;
  addressableSize_ = pages_.size() == 1 ? int32_t(dataSize - kEdbInternalFilePreamble) : size;
  opened_ = true;
  return pages_.front();
}

void TEdbInternalDBDirectAccessFile::Open(int32_t firstPage) {
  Close();
  if (firstPage < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  const uint32_t dataSize = pm_.PageDataSize();
  uint8_t pre[kEdbInternalFilePreamble] = {};
  pm_.ReadPagePart(pre, firstPage, kEdbInternalFilePreamble, kEdbPageHeaderSize);
  int32_t stored = GetI32(pre + preamble::kStoredSize);
  if (stored < 0 || stored > ChainCapacity(pm_)) RaiseInvalidFormat();
  const int64_t pagesNeeded =
      (int64_t(stored) + kEdbInternalFilePreamble + dataSize - 1) / dataSize;

  std::vector<int32_t> pages;
  int32_t pageNo = firstPage;
  bool firstHasNext = false;
  for (int64_t i = 0; i < pagesNeeded; ++i) {
    if (pageNo < 0) RaiseInvalidFormat();
    // Byte 0 of the first page is the file's lock byte, so headers are read from offset 1.
    uint8_t hdr[kEdbPageHeaderSize - 1] = {};
    pm_.ReadPagePart(hdr, pageNo, sizeof hdr, 1);
    uint16_t type = GetU16(hdr + pagehdr::kPageType - 1);
    if (type != pageType_)
      EdbRaise(errc::kInternalFileWrongPageType, "Invalid PageType found: %d but wanted: %d",
               int(type), int(pageType_));
    pages.push_back(pageNo);
    int32_t next = GetI32(hdr + pagehdr::kNextPage - 1);
    if (i == 0) firstHasNext = next != kEdbNoPage;
    pageNo = next;
  }
  pages_ = std::move(pages);
  storedSize_ = stored;
  addressableSize_ = firstHasNext ? stored : int32_t(dataSize - kEdbInternalFilePreamble);
  opened_ = true;
}

void TEdbInternalDBDirectAccessFile::Locate(int32_t position, int32_t& pageNo,
                                            uint32_t& offset) const {
  const uint32_t dataSize = pm_.PageDataSize();
  int64_t p = int64_t(position) + kEdbInternalFilePreamble;
  size_t index = size_t(p / dataSize);
  if (index >= pages_.size()) RaiseInvalidFormat();
  pageNo = pages_[index];
  offset = kEdbPageHeaderSize + uint32_t(p % dataSize);
}

void TEdbInternalDBDirectAccessFile::ReadBytes(int32_t position, void* buf, int32_t count) {
  CheckOpen("DirectReadBuffer");
  if (position < 0 || position > addressableSize_)
    EdbRaise(errc::kDirectFileSeekPastEnd,
             "Seek position bigger then file size. FileSize=%d. Position=%d", addressableSize_,
             position);
  if (count < 0 || int64_t(position) + count > addressableSize_) RaiseInvalidFormat();
  uint8_t* out = static_cast<uint8_t*>(buf);
  while (count > 0) {
    int32_t pageNo;
    uint32_t offset;
    Locate(position, pageNo, offset);
    uint32_t n = std::min<uint32_t>(pm_.PageSize() - offset, uint32_t(count));
    pm_.ReadPagePart(out, pageNo, n, offset);
    out += n;
    position += int32_t(n);
    count -= int32_t(n);
  }
}

void TEdbInternalDBDirectAccessFile::WriteBytes(int32_t position, const void* buf, int32_t count) {
  CheckOpen("DirectWriteBuffer");
  if (position < 0 || position > addressableSize_)
    EdbRaise(errc::kDirectFileSeekPastEnd,
             "Seek position bigger then file size. FileSize=%d. Position=%d", addressableSize_,
             position);
  uint8_t pre[kEdbInternalFilePreamble] = {};
  pm_.ReadPagePart(pre, pages_.front(), kEdbInternalFilePreamble, kEdbPageHeaderSize);
  int32_t stored = GetI32(pre + preamble::kStoredSize);
  if (count < 0 || int64_t(position) + count > stored)
    EdbRaise(errc::kDirectFileWritePastEnd,
             "Cannot write after end of file. FileSize=%d. Position=%d, Count=%d", stored, position,
             count);
  const uint8_t* in = static_cast<const uint8_t*>(buf);
  while (count > 0) {
    int32_t pageNo;
    uint32_t offset;
    Locate(position, pageNo, offset);
    uint32_t n = std::min<uint32_t>(pm_.PageSize() - offset, uint32_t(count));
    pm_.WritePagePart(in, pageNo, n, offset);
    in += n;
    position += int32_t(n);
    count -= int32_t(n);
  }
}

bool TEdbInternalDBDirectAccessFile::LockByte(int32_t position) {
  CheckOpen("LockByte");
  int32_t pageNo;
  uint32_t offset;
  Locate(position, pageNo, offset);
  return pm_.LockPageByte(pageNo, offset);
}

bool TEdbInternalDBDirectAccessFile::UnlockByte(int32_t position) {
  CheckOpen("UnlockByte");
  int32_t pageNo;
  uint32_t offset;
  Locate(position, pageNo, offset);
  return pm_.UnlockPageByte(pageNo, offset);
}

bool TEdbInternalDBDirectAccessFile::IsByteLocked(int32_t position) {
  CheckOpen("IsByteLocked");
  int32_t pageNo;
  uint32_t offset;
  Locate(position, pageNo, offset);
  return pm_.IsPageByteLocked(pageNo, offset);
}

bool TEdbInternalDBDirectAccessFile::IsRegionLocked(int32_t position, int32_t length) {
  CheckOpen("IsRegionLocked");
  while (length > 0) {
    int32_t pageNo;
    uint32_t offset;
    Locate(position, pageNo, offset);
    uint32_t n = std::min<uint32_t>(pm_.PageSize() - offset, uint32_t(length));
    if (pm_.IsPageRegionLocked(pageNo, offset, n)) return true;
    position += int32_t(n);
    length -= int32_t(n);
  }
  return false;
}

bool TEdbInternalDBDirectAccessFile::LockFile() {
  CheckOpen("LockFile");
  return pm_.LockPageByte(pages_.front(), 0);
}

bool TEdbInternalDBDirectAccessFile::UnlockFile() {
  CheckOpen("UnlockFile");
  return pm_.UnlockPageByte(pages_.front(), 0);
}

}  // namespace edb
