#pragma once
// The system directory: a transacted internal file of page type 4 at the fixed page 2 that names
// the first pages of the other system files, as 5-byte entries (uint8 kind, int32 first page).

#include <cstdint>
#include <vector>

#include "EdbInternalFile.h"

namespace edb {

enum TEdbSystemFileKind : uint8_t { sfkTableList = 1, sfkActiveSessions = 2 };

struct TEdbSystemDirectoryEntry {
  uint8_t Kind = 0;
  int32_t FirstPage = kEdbNoPage;
};

class TEdbSystemDirectory {
 public:
  explicit TEdbSystemDirectory(TEdbDiskPageManager& pm)
      : file_(pm, ptFileSystemDirectory, kEdbSystemDirectoryPage) {}

  // Reads the whole directory: entry count = full size / 5.
  void Load(int32_t session);
  // Creates the directory file (its first page must come out as page 2, else 30392).
  void Create(int32_t session);
  void Save(int32_t session);

  // First page of a system file kind; -1 when the directory has none.
  int32_t FirstPageOf(uint8_t kind) const;
  void SetFirstPage(uint8_t kind, int32_t page);  // appends when the kind is new
  const std::vector<TEdbSystemDirectoryEntry>& Entries() const { return entries_; }

 private:
  TEdbInternalDBTransactedAccessFile file_;
  std::vector<TEdbSystemDirectoryEntry> entries_;
};

// Decodes directory content (count = size / 5; a partial tail entry is ignored).
std::vector<TEdbSystemDirectoryEntry> EdbParseSystemDirectory(const uint8_t* data, size_t size);

}  // namespace edb
