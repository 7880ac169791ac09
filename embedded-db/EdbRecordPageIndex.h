#pragma once
// The RecordPageIndex of a table: a B-tree in TableIndex pages (type 12) whose leaves list the
// table's record pages in ascending page-number order with the number of records on each.

#include <cstdint>
#include <vector>

#include "EdbBTreeFormat.h"
#include "EdbPageManager.h"

namespace edb {

// One B-tree page's data area, validated on construction (20237 when its items do not fit).
struct TEdbBTreePageView {
  bool IsRoot = false;
  bool IsLeaf = false;
  int32_t PrevPage = kEdbNoPage;
  int32_t NextPage = kEdbNoPage;
  uint16_t KeySize = 0;
  uint16_t ItemCount = 0;
  uint32_t ItemSize = 0;  // key + value (+ 6 when items carry a record ID)
  const uint8_t* Items = nullptr;

  // `leafValueSize`: bytes of a leaf value (2 in page indexes); node values are 4 bytes.
  static TEdbBTreePageView Parse(const uint8_t* data, uint32_t dataSize,
                                 uint32_t leafValueSize = btree::kPageIndexLeafValueSize);
  int32_t Key(uint32_t i) const;         // int32 key of item i
  int32_t Child(uint32_t i) const;       // node: child page of item i
  uint16_t LeafValue(uint32_t i) const;  // leaf: uint16 value of item i
};

struct TEdbPageIndexEntry {
  int32_t PageNo = kEdbNoPage;
  uint16_t RecordCount = 0;
};

class TEdbBTreeRecordPageIndex {
 public:
  TEdbBTreeRecordPageIndex(TEdbPageManager& pm, int32_t session, int32_t rootPage)
      : pm_(pm), session_(session), root_(rootPage) {}

  int32_t RootPage() const { return root_; }
  // False when the index is empty. Root -1: 20115 (first) / 20116 (last).
  bool First(TEdbPageIndexEntry& out);
  bool Last(TEdbPageIndexEntry& out);
  // The entry after / before the record page `pageNo`; false when there is none. A page that is
  // not in the index: 20104 (next) / 20105 (prior); a missing sibling link 20100 / 20102.
  bool Next(int32_t pageNo, TEdbPageIndexEntry& out);
  bool Prior(int32_t pageNo, TEdbPageIndexEntry& out);
  // Sum of the record counts of the entries before `pageNo` (20114 when it is not indexed).
  int64_t RecordsBefore(int32_t pageNo);
  // Calls f(entry) for every entry in order while f returns true.
  template <class F>
  void ForEach(F&& f) {
    TEdbPageIndexEntry e;
    if (!First(e)) return;
    do {
      if (!f(e)) return;
    } while (Next(e.PageNo, e));
  }

 private:
  struct Level {
    int32_t PageNo;
    uint32_t Item;
    uint32_t Count;
    int32_t Prev;
    int32_t Next;
  };
  TEdbBTreePageView Fetch(int32_t pageNo, TEdbPageRef& ref);
  // Descends from the root to the leaf holding `key`; false when it is not there.
  bool Locate(int32_t key);
  bool Search(int32_t pageNo, int32_t key, int depth);
  void PushLevel(int32_t pageNo, const TEdbBTreePageView& v, uint32_t item);
  bool DescendEdge(bool last, int rootError);
  bool Step(bool forward, int linkError);
  void CurrentEntry(TEdbPageIndexEntry& out);

  TEdbPageManager& pm_;
  int32_t session_;
  int32_t root_;
  int searchVisits_ = 0;
  std::vector<Level> path_;               // root .. leaf of the last position
  std::vector<TEdbPageIndexEntry> leaf_;  // the items of the leaf at the end of the path
};

}  // namespace edb
