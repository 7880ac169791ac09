// BLOB storage: small and large forms, the ID 255 decision, compressed blocks and their checks.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "EdbBlob.h"
#include "EdbBlobWriter.h"
#include "EdbCompression.h"
#include "EdbCrc.h"
#include "EdbEndian.h"
#include "EdbException.h"

using namespace edb;

namespace {

// BLOB pages held in memory, numbered from 1.
class MemPages : public IEdbBlobPageStore {
 public:
  explicit MemPages(uint32_t d = 4056) : d_(d) {}
  uint32_t DataSize() const override { return d_; }
  void ReadPage(int32_t no, uint8_t* data, int32_t& next) override {
    auto it = pages_.find(no);
    if (it == pages_.end()) EdbRaise(errc::kInvalidPageType, "no page %d", no);
    std::memcpy(data, it->second.data.data(), d_);
    next = it->second.next;
  }
  int32_t NewPage() override {
    pages_[++last_] = {std::vector<uint8_t>(d_), -1};
    return last_;
  }
  void WritePage(int32_t no, const uint8_t* data, int32_t next) override {
    pages_.at(no).data.assign(data, data + d_);
    pages_.at(no).next = next;
  }
  std::vector<uint8_t>& Data(int32_t no) { return pages_.at(no).data; }
  int32_t& Next(int32_t no) { return pages_.at(no).next; }
  size_t Count() const { return pages_.size(); }

 private:
  struct Page {
    std::vector<uint8_t> data;
    int32_t next;
  };
  uint32_t d_;
  int32_t last_ = 0;
  std::map<int32_t, Page> pages_;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(seed);
  for (auto& b : v) b = uint8_t(rng() % 7 + 'a');  // compressible but not trivial
  return v;
}

TEdbFieldDef BlobField(uint8_t alg = 0, uint8_t mode = 0, int32_t block = 102400) {
  TEdbFieldDef f;
  f.Name = "B";
  f.BaseType = bftBlob;
  f.AdvancedType = aftBlob;
  f.BlobCompressionAlgorithm = alg;
  f.BlobCompressionMode = mode;
  f.BlobBlockSize = block;
  return f;
}

int CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EEdbException& e) {
    return e.NativeError();
  }
  return 0;
}

std::vector<uint8_t> ReadBack(MemPages& pages, const TEdbBlobRef& ref, const TEdbFieldDef& fd) {
  return EdbReadBlobValue(EdbLoadBlob(pages, ref), fd);
}

}  // namespace

TEST(EdbBlob, SmallOrLargeByStoredSize) {
  MemPages pages;
  TEdbBlobWriter w(pages);
  const TEdbFieldDef fd = BlobField();
  auto v4031 = Pattern(4031), v4032 = Pattern(4032, 2);
  // 4031 + 24 < 4056: small; 4032 + 24 = 4056: large.
  TEdbBlobRef small = w.Write(fd, v4031.data(), v4031.size());
  w.SetSmallPage(-1);
  TEdbBlobRef large = w.Write(fd, v4032.data(), v4032.size());
  EXPECT_GE(small.Id, 0);
  EXPECT_EQ(large.Id, -1);
  EXPECT_EQ(ReadBack(pages, small, fd), v4031);
  EXPECT_EQ(ReadBack(pages, large, fd), v4032);
}

TEST(EdbBlob, LargeBlobPagesAndPageList) {
  MemPages pages;
  TEdbBlobWriter w(pages);
  auto v = Pattern(10000);
  TEdbBlobRef ref = w.Write(BlobField(), v.data(), v.size());
  ASSERT_EQ(ref.Id, -1);
  // 4024 bytes on the first page, 4056 on the second, 1920 on the third; the list follows.
  const auto& first = pages.Data(ref.PageNo);
  TEdbBlobEntryHeader h = TEdbBlobEntryHeader::Parse(first.data());
  EXPECT_EQ(h.StoredSize, 10000);
  EXPECT_EQ(h.UncompressedSize, 10000);
  TEdbBlobPageListRef lr = TEdbBlobPageListRef::Parse(first.data() + 22);
  EXPECT_EQ(lr.PageCount, 3);
  EXPECT_EQ(lr.Offset, 1920);
  const auto& third = pages.Data(lr.PageNo);
  EXPECT_EQ(GetI32(third.data() + 1920), ref.PageNo);
  EXPECT_EQ(std::memcmp(first.data() + 32, v.data(), 4024), 0);
  EXPECT_EQ(std::memcmp(third.data(), v.data() + 8080, 1920), 0);
  EXPECT_EQ(pages.Count(), 3u);
  EXPECT_EQ(ReadBack(pages, ref, BlobField()), v);
}

TEST(EdbBlob, PageListSpillsToChainedPages) {
  // Tiny pages: D = 64 holds 32 bytes on the first page, 64 on each further one, and at most
  // 16 list numbers per list page, so a 2000-byte value needs a chained list.
  MemPages pages(64);
  TEdbBlobWriter w(pages);
  auto v = Pattern(2000, 5);
  TEdbBlobRef ref = w.Write(BlobField(), v.data(), v.size());
  TEdbBlobPageListRef lr = TEdbBlobPageListRef::Parse(pages.Data(ref.PageNo).data() + 22);
  EXPECT_EQ(lr.PageCount, 1 + (2000 - 32 + 63) / 64);
  EXPECT_EQ(ReadBack(pages, ref, BlobField()), v);
  // A broken link in the list chain is reported, not followed into nothing.
  pages.Next(lr.PageNo) = -1;
  EXPECT_EQ(CodeOf([&] { EdbLoadBlob(pages, ref); }), errc::kCannotReadBlob);
}

TEST(EdbBlob, SmallPageEntriesFoundById) {
  // A hand-made small-BLOB page with entries of IDs 0, 2 and 1.
  MemPages pages;
  int32_t no = pages.NewPage();
  auto& d = pages.Data(no);
  PutU16(d.data(), 3);
  size_t off = 2;
  const int16_t ids[] = {0, 2, 1};
  const char* values[] = {"zero", "two!", "one-one"};
  for (int k = 0; k < 3; ++k) {
    const size_t n = std::strlen(values[k]);
    PutI16(d.data() + off, ids[k]);
    PutI32(d.data() + off + 2, 0);
    PutI64(d.data() + off + 6, int64_t(n));
    PutI64(d.data() + off + 14, int64_t(n));
    std::memcpy(d.data() + off + 22, values[k], n);
    off += 22 + n;
  }
  auto one = ReadBack(pages, {no, 1}, BlobField());
  EXPECT_EQ(std::string(one.begin(), one.end()), "one-one");
  auto two = ReadBack(pages, {no, 2}, BlobField());
  EXPECT_EQ(std::string(two.begin(), two.end()), "two!");
  // An ID that no entry carries fails instead of yielding nothing.
  EXPECT_EQ(CodeOf([&] { EdbLoadBlob(pages, {no, 7}); }), errc::kCannotReadBlob);
  // Empty references.
  EXPECT_EQ(CodeOf([&] { EdbLoadBlob(pages, {0, 0}); }), errc::kCannotReadBlob);
  EXPECT_EQ(CodeOf([&] { EdbLoadBlob(pages, {-1, -1}); }), errc::kCannotReadBlob);
  // An entry whose size runs past the page.
  PutI64(d.data() + 2 + 6, 5000);
  EXPECT_EQ(CodeOf([&] { EdbLoadBlob(pages, {no, 1}); }), errc::kCannotReadBlob);
}

TEST(EdbBlob, Id255NamesEitherForm) {
  MemPages pages;
  TEdbBlobWriter w(pages);
  // A large BLOB referenced with ID 255: its header fits its page count, so the large form wins.
  auto v = Pattern(9000, 3);
  TEdbBlobRef large = w.Write(BlobField(), v.data(), v.size());
  EXPECT_EQ(ReadBack(pages, {large.PageNo, 255}, BlobField()), v);
  // A small-BLOB page whose entry carries ID 255.
  int32_t no = pages.NewPage();
  auto& d = pages.Data(no);
  PutU16(d.data(), 1);
  PutI16(d.data() + 2, 255);
  PutI64(d.data() + 2 + 6, 3);
  PutI64(d.data() + 2 + 14, 3);
  std::memcpy(d.data() + 24, "abc", 3);
  auto s = ReadBack(pages, {no, 255}, BlobField());
  EXPECT_EQ(std::string(s.begin(), s.end()), "abc");
}

TEST(EdbBlob, CompressedBlocksRoundTrip) {
  for (uint8_t alg : {uint8_t(caZlib), uint8_t(caBzip)}) {
    MemPages pages;
    TEdbBlobWriter w(pages);
    const TEdbFieldDef fd = BlobField(alg, 6, 102400);
    auto v = Pattern(250000, alg);
    TEdbBlobRef ref = w.Write(fd, v.data(), v.size());
    TEdbLoadedBlob blob = EdbLoadBlob(pages, ref);
    ASSERT_EQ(blob.BlockCount, 3);
    EXPECT_EQ(blob.UncompressedSize, 250000);
    // Blocks of 102400, 102400 and 45200 bytes, each header pointing at the next.
    size_t pos = 0;
    const int32_t sizes[] = {102400, 102400, 45200};
    for (int k = 0; k < 3; ++k) {
      TEdbBlobBlockHeader h = TEdbBlobBlockHeader::Parse(blob.Stored.data() + pos);
      EXPECT_EQ(h.UncompressedSize, sizes[k]);
      EXPECT_EQ(h.Distance, h.CompressedSize + 20);
      EXPECT_EQ(h.Crc, EdbCrc32(v.data() + 102400 * k, size_t(sizes[k])));
      pos += size_t(h.Distance);
    }
    EXPECT_EQ(pos, blob.Stored.size());
    EXPECT_EQ(EdbReadBlobValue(blob, fd), v);
    // Reading from the middle crosses a block boundary.
    TEdbBlobStream s(blob, fd.BlobBlockSize, alg, 6);
    s.Seek(102390);
    uint8_t buf[20];
    ASSERT_EQ(s.Read(buf, 20), 20u);
    EXPECT_EQ(std::memcmp(buf, v.data() + 102390, 20), 0);
  }
}

TEST(EdbBlob, StreamChecksAndErrors) {
  auto v = Pattern(5000);
  int32_t blocks = 0;
  TEdbLoadedBlob blob;
  blob.Stored = EdbEncodeBlobStored(v.data(), v.size(), caZlib, 6, 4096, blocks);
  blob.BlockCount = blocks;
  blob.UncompressedSize = 5000;
  ASSERT_EQ(blocks, 2);
  const TEdbFieldDef fd = BlobField(caZlib, 6, 4096);
  EXPECT_EQ(EdbReadBlobValue(blob, fd), v);

  // Checksum differs although the sizes are right.
  TEdbLoadedBlob bad = blob;
  bad.Stored[8] ^= 0x01;
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(bad, fd); }), errc::kBlockChecksumMismatch);
  // Block size 0, negative size.
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(blob, BlobField(caZlib, 6, 0)); }), errc::kZeroBlockSize);
  bad = blob;
  bad.UncompressedSize = -1;
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(bad, fd); }), errc::kInvalidBlobSize);
  // Too few bytes for the next block header; a distance beyond the data.
  bad = blob;
  bad.BlockCount = 3;
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(bad, fd); }), errc::kBlobBlockHeaderTooSmall);
  bad = blob;
  PutI64(bad.Stored.data() + 12, 1 << 20);
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(bad, fd); }), errc::kBlobNextBlockOutOfRange);
  // Compressed bytes corrupted: the decompression fails; a wrong declared size is 10088.
  bad = blob;
  for (size_t i = 22; i < 40; ++i) bad.Stored[i] ^= 0x5A;
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(bad, fd); }), errc::kDecompressBlock);
  bad = blob;
  PutI32(bad.Stored.data() + 4, 4000);
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(bad, fd); }), errc::kDecompressedSizeMismatch);
  // Uncompressed: fewer stored bytes than U.
  TEdbLoadedBlob plain;
  plain.Stored = {1, 2, 3};
  plain.UncompressedSize = 4;
  EXPECT_EQ(CodeOf([&] { EdbReadBlobValue(plain, BlobField()); }), errc::kBlobStoredTooSmall);
  // The default block size by mode.
  EXPECT_EQ(EdbDefaultBlobBlockSize(0), 102400);
  EXPECT_EQ(EdbDefaultBlobBlockSize(3), 524288);
  EXPECT_EQ(EdbDefaultBlobBlockSize(4), 1048576);
  EXPECT_EQ(EdbDefaultBlobBlockSize(9), 1572864);
}
