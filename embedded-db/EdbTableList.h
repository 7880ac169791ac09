#pragma once
// The table list: a transacted internal file of page type 6 holding one 272-byte entry per table
// in creation order (length-prefixed name of up to 255 bytes, table ID, first pages of the
// table's metadata, state and lock-byte files).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "EdbInternalFile.h"

namespace edb {

struct TEdbTableListEntry {
  std::string Name;
  int32_t TableID = 0;
  int32_t MetadataPage = kEdbNoPage;  // transacted, page type 8
  int32_t StatePage = kEdbNoPage;     // transacted, page type 9
  int32_t LockPage = kEdbNoPage;      // direct, page type 7
};

class TEdbTableListFile {
 public:
  TEdbTableListFile(TEdbDiskPageManager& pm, int32_t firstPage = kEdbNoPage)
      : file_(pm, ptTableList, firstPage) {}

  int32_t FirstPage() const { return file_.FirstPage(); }
  int32_t Create(int32_t session) {
    entries_.clear();
    return file_.Create(session);
  }
  // Reads the whole list into memory (count = full size / 272; a partial entry is ignored).
  void Load(int32_t session);
  void Save(int32_t session);

  const std::vector<TEdbTableListEntry>& Entries() const { return entries_; }
  // ASCII case-insensitive; -1 when missing.
  int IndexOf(std::string_view name) const;
  // Raises 30396 "Table '%s' not exists." when missing.
  const TEdbTableListEntry& Find(std::string_view name) const;
  // Appends and writes the list (30395 when the name exists; names are cut to 255 bytes).
  void Add(int32_t session, const TEdbTableListEntry& entry);
  void Remove(int32_t session, std::string_view name);                       // 30405
  void Rename(int32_t session, std::string_view name, std::string_view to);  // 30397

 private:
  TEdbInternalDBTransactedAccessFile file_;
  std::vector<TEdbTableListEntry> entries_;
};

std::vector<TEdbTableListEntry> EdbParseTableList(const uint8_t* data, size_t size);
std::vector<uint8_t> EdbSerializeTableList(const std::vector<TEdbTableListEntry>& entries);

}  // namespace edb
