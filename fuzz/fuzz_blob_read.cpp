// Fuzz entry: arbitrary bytes as a database file; every table is opened and walked, and every
// field of every record (BLOBs included) is read. Engine errors are expected; crashes, hangs and
// sanitizer reports are not.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "EdbBlob.h"
#include "EdbCompression.h"
#include "EdbEndian.h"
#include "EdbMain.h"

namespace {

// The input's tail as BLOB pages of 64 data bytes each (page n at offset 12 + 68 n: an int32
// next-page link, then the data area), so that the BLOB layer sees many page layouts quickly.
class TInputPages : public edb::IEdbBlobPages {
 public:
  TInputPages(const uint8_t* d, size_t n) : d_(d), n_(n) {}
  uint32_t DataSize() const override { return 64; }
  void ReadPage(int32_t pageNo, uint8_t* data, int32_t& next) override {
    const size_t off = size_t(pageNo) * 68;
    if (pageNo < 0 || off + 68 > n_)
      edb::EdbRaise(edb::errc::kInvalidPageType, "no page %d", pageNo);
    next = edb::GetI32(d_ + off);
    std::memcpy(data, d_ + off + 4, 64);
  }

 private:
  const uint8_t* d_;
  size_t n_;
};

// Reads one BLOB through the reference and stream of the first 12 bytes: int32 page, int16 ID,
// algorithm, mode, int32 block size.
void FuzzBlobLayer(const uint8_t* data, size_t size) {
  if (size < 12) return;
  edb::TEdbBlobRef ref = edb::TEdbBlobRef::Parse(data);
  edb::TEdbFieldDef fd;
  fd.BaseType = edb::bftBlob;
  fd.AdvancedType = edb::aftBlob;
  fd.BlobCompressionAlgorithm = uint8_t(data[6] % 4);
  fd.BlobCompressionMode = data[7];
  std::memcpy(&fd.BlobBlockSize, data + 8, 4);
  TInputPages pages(data + 12, size - 12);
  try {
    edb::TEdbLoadedBlob blob = edb::EdbLoadBlob(pages, ref, int32_t((size - 12) / 68));
    if (blob.UncompressedSize > (int64_t(1) << 26)) return;
    (void)edb::EdbReadBlobValue(blob, fd);
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBlobLayer(data, size);
  auto image = std::make_shared<std::vector<uint8_t>>(data, data + size);
  try {
    edb::TEdbSession session;
    edb::TEdbDatabase db(&session);
    db.SetDatabaseName("Fuzz");
    db.SetDatabaseFileName("fuzz.abs");
    db.SetMemoryImage(image);
    db.SetSilentMode(true);
    db.Open();
    std::vector<std::string> names;
    try {
      names = db.GetTableNames();
    } catch (const std::exception&) {
      return 0;
    }
    if (names.size() > 16) names.resize(16);
    for (const std::string& name : names) {
      edb::TEdbTable t(&session);
      t.SetDatabaseName("Fuzz");
      t.SetTableName(name);
      try {
        t.Open();
        (void)t.RecordCount();
        for (int rec = 0; !t.Eof() && rec < 2000; ++rec) {
          for (int i = 0; i < t.FieldCount(); ++i) {
            try {
              edb::TEdbVariant v = t.Fields(i).AsVariant();
              if (!v.IsNull()) (void)v.ToString();
            } catch (const std::exception&) {
              // A failing field leaves the others readable.
            }
          }
          t.Next();
        }
      } catch (const std::exception&) {
      }
      t.Close();
    }
  } catch (const std::exception&) {
  }
  return 0;
}
