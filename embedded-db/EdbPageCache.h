#pragma once
// The page lists of the page manager: the shared cache and each session's change list. A list
// owns its page objects, finds them by page number in logarithmic time and keeps a use stamp per
// page so that the least recently used page can be found (also in logarithmic time).

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace edb {

class TEdbPage;

class TEdbSortedPageList {
 public:
  TEdbSortedPageList();
  ~TEdbSortedPageList();
  TEdbSortedPageList(const TEdbSortedPageList&) = delete;
  TEdbSortedPageList& operator=(const TEdbSortedPageList&) = delete;
  TEdbSortedPageList(TEdbSortedPageList&&) noexcept;
  TEdbSortedPageList& operator=(TEdbSortedPageList&&) noexcept;

  size_t Count() const { return pages_.size(); }
  bool Empty() const { return pages_.empty(); }

  // The page with that number, or null.
  TEdbPage* Find(int32_t pageNo) const;
  // Adds a page (its number must not be in the list yet) and gives it the next stamp.
  void Insert(std::unique_ptr<TEdbPage> page);
  // Takes a page out of the list. Raises 20165 on an empty list, 20166 when it is missing.
  std::unique_ptr<TEdbPage> Remove(int32_t pageNo);
  // Gives the page the next stamp; 20167 "Page not found" when it is missing.
  void Touch(int32_t pageNo);
  // The least recently used page that nobody uses (use count 0), or null.
  TEdbPage* LeastRecentlyUsedUnused() const;
  // All pages in ascending page-number order.
  std::vector<TEdbPage*> Pages() const;
  // Removes every page.
  std::vector<std::unique_ptr<TEdbPage>> TakeAll();

 private:
  struct Entry {
    std::unique_ptr<TEdbPage> page;
    uint64_t stamp;
  };
  std::map<int32_t, Entry> pages_;
  std::map<uint64_t, int32_t> byStamp_;
  uint64_t nextStamp_ = 0;
};

}  // namespace edb
