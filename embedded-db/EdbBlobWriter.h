#pragma once
// The BLOB part of the format writer: stores a field's value in the small form (an entry on a
// shared small-BLOB page) or the large form (a chain of pages with a page list), compressed in
// blocks when the field asks for it, and returns the reference to put into the record.

#include <cstddef>
#include <cstdint>

#include <map>

#include "EdbBlob.h"
#include "EdbFormatWriter.h"
#include "EdbRecordPageIndex.h"
#include "EdbTableMetadata.h"

namespace edb {

class TEdbBlobWriter {
 public:
  explicit TEdbBlobWriter(IEdbBlobPageStore& pages) : pages_(pages) {}

  // Stores a non-empty value (an empty value is stored as NULL by the caller and never reaches
  // here; passing one raises 20248). Uses the field's compression algorithm, mode and block
  // size (0: the default of the mode). The small form is used when S + 24 < D.
  TEdbBlobRef Write(const TEdbFieldDef& fd, const uint8_t* value, size_t size);

  // Lower-level forms over already encoded stored bytes, for tests.
  TEdbBlobRef WriteSmall(const uint8_t* stored, size_t storedSize, int32_t blockCount,
                         int64_t uncompressedSize);
  TEdbBlobRef WriteLarge(const uint8_t* stored, size_t storedSize, int32_t blockCount,
                         int64_t uncompressedSize);

  // The small-BLOB page new entries go to (-1: a fresh page).
  int32_t SmallPage() const { return smallPage_; }
  void SetSmallPage(int32_t page) { smallPage_ = page; }

 private:
  IEdbBlobPageStore& pages_;
  int32_t smallPage_ = -1;  // small-BLOB page with room, -1 none
};

// IEdbBlobPageStore over the format writer's page manager session; new pages carry the table's
// ID in their owner field.
class TEdbWriterBlobPages : public IEdbBlobPageStore {
 public:
  TEdbWriterBlobPages(TEdbPageManager& pm, int32_t session, int32_t tableId)
      : pm_(pm), session_(session), tableId_(tableId) {}
  uint32_t DataSize() const override;
  void ReadPage(int32_t pageNo, uint8_t* data, int32_t& nextPage) override;
  int32_t NewPage() override;
  void WritePage(int32_t pageNo, const uint8_t* data, int32_t nextPage) override;

 private:
  TEdbPageManager& pm_;
  int32_t session_;
  int32_t tableId_;
};

// The format writer's BLOB hook: stores every BLOB value through TEdbBlobWriter, filling one
// small-BLOB page per table before starting the next.
class TEdbBlobStoreWriter : public IEdbBlobStore {
 public:
  void StoreBlob(TEdbBlobWriteContext& ctx, int fieldIndex, const uint8_t* data, size_t size,
                 uint8_t reference[kEdbBlobRefSize]) override;

 private:
  std::map<int32_t, int32_t> smallPages_;  // table ID -> small-BLOB page with room
};

}  // namespace edb
