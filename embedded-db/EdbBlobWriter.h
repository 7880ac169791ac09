#pragma once
// The BLOB part of the format writer: stores a field's value in the small form (an entry on a
// shared small-BLOB page) or the large form (a chain of pages with a page list), compressed in
// blocks when the field asks for it, and returns the reference to put into the record.

#include <cstddef>
#include <cstdint>

#include "EdbBlob.h"
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

  // Starts small-BLOB entries on a fresh page from now on.
  void ResetSmallPage() { smallPage_ = -1; }

 private:
  IEdbBlobPageStore& pages_;
  int32_t smallPage_ = -1;  // small-BLOB page with room, -1 none
};

}  // namespace edb
