#include "EdbSystemDirectory.h"

#include "EdbEndian.h"
#include "EdbException.h"

namespace edb {

std::vector<TEdbSystemDirectoryEntry> EdbParseSystemDirectory(const uint8_t* data, size_t size) {
  std::vector<TEdbSystemDirectoryEntry> entries;
  for (size_t i = 0; i + kEdbSystemDirectoryEntrySize <= size; i += kEdbSystemDirectoryEntrySize)
    entries.push_back({data[i + sysdir::kKind], GetI32(data + i + sysdir::kFirstPage)});
  return entries;
}

void TEdbSystemDirectory::Load(int32_t session) {
  std::vector<uint8_t> content = file_.ReadAll(session, true);
  entries_ = EdbParseSystemDirectory(content.data(), content.size());
}

void TEdbSystemDirectory::Create(int32_t session) {
  file_.SetFirstPage(kEdbNoPage);
  int32_t page = file_.Create(session);
  if (page != kEdbSystemDirectoryPage)
    EdbRaise(errc::kSystemDirectoryCreate,
             "Error Creating SystemDirectory. SystemDirectoryPageNo=%d. Real PageNo=%d.",
             kEdbSystemDirectoryPage, page);
  entries_.clear();
}

void TEdbSystemDirectory::Save(int32_t session) {
  TEdbByteWriter w;
  for (const auto& e : entries_) {
    w.U8(e.Kind);
    w.I32(e.FirstPage);
  }
  const auto& bytes = w.Buffer();
  file_.Write(session, bytes.data(), int32_t(bytes.size()));
}

int32_t TEdbSystemDirectory::FirstPageOf(uint8_t kind) const {
  for (const auto& e : entries_)
    if (e.Kind == kind) return e.FirstPage;
  return kEdbNoPage;
}

void TEdbSystemDirectory::SetFirstPage(uint8_t kind, int32_t page) {
  for (auto& e : entries_)
    if (e.Kind == kind) {
      e.FirstPage = page;
      return;
    }
  entries_.push_back({kind, page});
}

}  // namespace edb
