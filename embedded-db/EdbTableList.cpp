#include "EdbTableList.h"

#include <algorithm>
#include <cstring>

#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbTableMetadata.h"

namespace edb {

std::vector<TEdbTableListEntry> EdbParseTableList(const uint8_t* data, size_t size) {
  std::vector<TEdbTableListEntry> entries;
  entries.reserve(size / kEdbTableListEntrySize);
  for (size_t off = 0; off + kEdbTableListEntrySize <= size; off += kEdbTableListEntrySize) {
    const uint8_t* e = data + off;
    TEdbTableListEntry t;
    t.Name.assign(reinterpret_cast<const char*>(e + tablelist::kName), e[tablelist::kNameLength]);
    t.TableID = GetI32(e + tablelist::kTableId);
    t.MetadataPage = GetI32(e + tablelist::kMetadataPage);
    t.StatePage = GetI32(e + tablelist::kStatePage);
    t.LockPage = GetI32(e + tablelist::kLockPage);
    entries.push_back(std::move(t));
  }
  return entries;
}

std::vector<uint8_t> EdbSerializeTableList(const std::vector<TEdbTableListEntry>& entries) {
  std::vector<uint8_t> out(entries.size() * kEdbTableListEntrySize, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    uint8_t* e = out.data() + i * kEdbTableListEntrySize;
    const auto& t = entries[i];
    size_t n = std::min<size_t>(t.Name.size(), kEdbMaxTableNameLength);
    e[tablelist::kNameLength] = uint8_t(n);
    std::memcpy(e + tablelist::kName, t.Name.data(), n);
    PutI32(e + tablelist::kTableId, t.TableID);
    PutI32(e + tablelist::kMetadataPage, t.MetadataPage);
    PutI32(e + tablelist::kStatePage, t.StatePage);
    PutI32(e + tablelist::kLockPage, t.LockPage);
  }
  return out;
}

void TEdbTableListFile::Load(int32_t session) {
  std::vector<uint8_t> content = file_.ReadAll(session, true);
  entries_ = EdbParseTableList(content.data(), content.size());
}

void TEdbTableListFile::Save(int32_t session) {
  std::vector<uint8_t> bytes = EdbSerializeTableList(entries_);
  file_.Write(session, bytes.data(), int32_t(bytes.size()));
}

int TEdbTableListFile::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (EdbSameNameAscii(entries_[i].Name, name)) return int(i);
  return -1;
}

const TEdbTableListEntry& TEdbTableListFile::Find(std::string_view name) const {
  int i = IndexOf(name);
  if (i < 0) EdbRaise(errc::kTableNotFound, "Table '%s' not exists.", std::string(name).c_str());
  return entries_[size_t(i)];
}

void TEdbTableListFile::Add(int32_t session, const TEdbTableListEntry& entry) {
  TEdbTableListEntry e = entry;
  if (e.Name.size() > kEdbMaxTableNameLength) e.Name.resize(kEdbMaxTableNameLength);
  if (IndexOf(e.Name) >= 0)
    EdbRaise(errc::kTableExists, "Cannot create table. Table '%s' already exists", e.Name.c_str());
  entries_.push_back(std::move(e));
  Save(session);
}

void TEdbTableListFile::Remove(int32_t session, std::string_view name) {
  int i = IndexOf(name);
  if (i < 0)
    EdbRaise(errc::kRemoveTableNotFound, "Table '%s' not exists.", std::string(name).c_str());
  entries_.erase(entries_.begin() + i);
  Save(session);
}

void TEdbTableListFile::Rename(int32_t session, std::string_view name, std::string_view to) {
  int i = IndexOf(name);
  if (i < 0)
    EdbRaise(errc::kRenameTableNotFound, "Table '%s' not exists.", std::string(name).c_str());
  entries_[size_t(i)].Name = std::string(to.substr(0, kEdbMaxTableNameLength));
  Save(session);
}

}  // namespace edb
