// Page lists keyed by page number, with use stamps for least-recently-used eviction.

#include "EdbPageCache.h"

#include "EdbException.h"
#include "EdbPageManager.h"

namespace edb {

TEdbSortedPageList::TEdbSortedPageList() = default;
TEdbSortedPageList::~TEdbSortedPageList() = default;
TEdbSortedPageList::TEdbSortedPageList(TEdbSortedPageList&&) noexcept = default;
TEdbSortedPageList& TEdbSortedPageList::operator=(TEdbSortedPageList&&) noexcept = default;

TEdbPage* TEdbSortedPageList::Find(int32_t pageNo) const {
  auto it = pages_.find(pageNo);
  return it == pages_.end() ? nullptr : it->second.page.get();
}

void TEdbSortedPageList::Insert(std::unique_ptr<TEdbPage> page) {
  const int32_t no = page->PageNo();
  const uint64_t stamp = ++nextStamp_;
  auto [it, inserted] = pages_.try_emplace(no, Entry{std::move(page), stamp});
  if (!inserted)
    EdbRaise(errc::kPageListDuplicate,
             "TSortedPageList.Insert - duplicate key = %d, itemCount = %d", no, int(pages_.size()));
  byStamp_.emplace(stamp, no);
}

std::unique_ptr<TEdbPage> TEdbSortedPageList::Remove(int32_t pageNo) {
  if (pages_.empty())
    EdbRaise(errc::kPageListEmpty, "TSortedPageList.Delete - no elements in array!");
  auto it = pages_.find(pageNo);
  if (it == pages_.end())
    EdbRaise(errc::kPageListDuplicate,
             "TSortedPageList.Delete - element not found, key = %d, itemCount = %d", pageNo,
             int(pages_.size()));
  std::unique_ptr<TEdbPage> page = std::move(it->second.page);
  byStamp_.erase(it->second.stamp);
  pages_.erase(it);
  return page;
}

void TEdbSortedPageList::Touch(int32_t pageNo) {
  auto it = pages_.find(pageNo);
  if (it == pages_.end()) EdbRaise(errc::kPageNotInList, "Page not found");
  // Re-key the stamp node in place: touching allocates nothing.
  auto node = byStamp_.extract(it->second.stamp);
  it->second.stamp = ++nextStamp_;
  node.key() = it->second.stamp;
  byStamp_.insert(std::move(node));
}

TEdbPage* TEdbSortedPageList::LeastRecentlyUsedUnused() const {
  for (const auto& [stamp, no] : byStamp_) {
    TEdbPage* p = pages_.find(no)->second.page.get();
    if (p->UseCount() == 0) return p;
  }
  return nullptr;
}

std::vector<TEdbPage*> TEdbSortedPageList::Pages() const {
  std::vector<TEdbPage*> v;
  v.reserve(pages_.size());
  for (const auto& [no, e] : pages_) v.push_back(e.page.get());
  return v;
}

std::vector<std::unique_ptr<TEdbPage>> TEdbSortedPageList::TakeAll() {
  std::vector<std::unique_ptr<TEdbPage>> v;
  v.reserve(pages_.size());
  for (auto& [no, e] : pages_) v.push_back(std::move(e.page));
  pages_.clear();
  byStamp_.clear();
  return v;
}

}  // namespace edb
