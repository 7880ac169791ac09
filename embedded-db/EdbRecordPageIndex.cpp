#include "EdbRecordPageIndex.h"

#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbRecordPages.h"

namespace edb {

namespace {

// Deeper trees cannot occur in a real file (each level multiplies by hundreds of items); the
// bound keeps a corrupt file from leading the search in circles.
constexpr int kMaxDepth = 24;
// Pages one key search may visit (trying both sides of a node key doubles at most per level).
constexpr int kMaxSearchVisits = 4096;

[[noreturn]] void RaiseInvalidFormat() {
  EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
}

}  // namespace

TEdbBTreePageView TEdbBTreePageView::Parse(const uint8_t* data, uint32_t dataSize,
                                           uint32_t leafValueSize) {
  if (dataSize < btree::kHeaderSize) RaiseInvalidFormat();
  const TEdbBTreePageHeader h = TEdbBTreePageHeader::Parse(data);
  TEdbBTreePageView v;
  v.IsRoot = h.IsRoot;
  v.IsLeaf = h.IsLeaf;
  v.PrevPage = h.PrevPage;
  v.NextPage = h.NextPage;
  const uint32_t extra = h.HasRecordId ? btree::kRecordIdSize : 0;
  v.KeySize = h.KeySize;
  v.ItemCount = h.ItemCount;
  // Page indexes have int32 keys.
  if (v.KeySize != btree::kPageIndexKeySize) RaiseInvalidFormat();
  v.ItemSize = v.KeySize + (v.IsLeaf ? leafValueSize : btree::kNodeValueSize) + extra;
  uint64_t end = uint64_t(h.ItemsOffset()) + uint64_t(v.ItemCount) * v.ItemSize;
  if (end > dataSize) RaiseInvalidFormat();
  v.Items = data + h.ItemsOffset();
  return v;
}

int32_t TEdbBTreePageView::Key(uint32_t i) const { return GetI32(Items + i * ItemSize); }
int32_t TEdbBTreePageView::Child(uint32_t i) const {
  return GetI32(Items + i * ItemSize + KeySize);
}
uint16_t TEdbBTreePageView::LeafValue(uint32_t i) const {
  return GetU16(Items + i * ItemSize + KeySize);
}

TEdbBTreePageView TEdbBTreeRecordPageIndex::Fetch(int32_t pageNo, TEdbPageRef& ref) {
  if (pageNo < 0) RaiseInvalidFormat();
  ref = TEdbPageRef(pm_.GetPage(session_, pageNo, true, kEdbPageTypeIndex));
  return TEdbBTreePageView::Parse(ref->Data(), ref->DataSize());
}

void TEdbBTreeRecordPageIndex::PushLevel(int32_t pageNo, const TEdbBTreePageView& v,
                                         uint32_t item) {
  path_.push_back({pageNo, item, v.ItemCount, v.PrevPage, v.NextPage});
  if (v.IsLeaf) {
    leaf_.resize(v.ItemCount);
    for (uint32_t i = 0; i < v.ItemCount; ++i) leaf_[i] = {v.Key(i), v.LeafValue(i)};
  }
}

bool TEdbBTreeRecordPageIndex::DescendEdge(bool last, int rootError) {
  path_.clear();
  leaf_.clear();
  if (root_ == kEdbNoPage) EdbRaise(rootError, "Index error: invalid page number");
  int32_t pageNo = root_;
  for (int depth = 0;; ++depth) {
    if (depth >= kMaxDepth) RaiseInvalidFormat();
    TEdbPageRef ref;
    TEdbBTreePageView v = Fetch(pageNo, ref);
    if (v.ItemCount == 0) {
      if (depth == 0 && v.IsLeaf) return false;  // an empty index
      RaiseInvalidFormat();
    }
    uint32_t item = last ? v.ItemCount - 1u : 0u;
    PushLevel(pageNo, v, item);
    if (v.IsLeaf) return true;
    pageNo = v.Child(item);
  }
}

bool TEdbBTreeRecordPageIndex::Search(int32_t pageNo, int32_t key, int depth) {
  if (depth >= kMaxDepth || ++searchVisits_ > kMaxSearchVisits) RaiseInvalidFormat();
  TEdbPageRef ref;
  TEdbBTreePageView v = Fetch(pageNo, ref);
  if (v.IsLeaf) {
    for (uint32_t i = 0; i < v.ItemCount; ++i)
      if (v.Key(i) == key) {
        PushLevel(pageNo, v, i);
        return true;
      }
    return false;
  }
  // A node item's key bounds its child's keys from one side; which side is not fixed by the
  // format, so the child on either side of the key is tried: the last item whose key is at most
  // the key wanted, then the first whose key is at least it.
  int64_t below = -1;
  for (uint32_t i = 0; i < v.ItemCount && v.Key(i) <= key; ++i) below = i;
  uint32_t candidates[2];
  int n = 0;
  if (below >= 0) candidates[n++] = uint32_t(below);
  uint32_t above = uint32_t(below + 1);
  if (above < v.ItemCount && (below < 0 || v.Key(uint32_t(below)) != key)) candidates[n++] = above;
  for (int c = 0; c < n; ++c) {
    int32_t child = v.Child(candidates[c]);
    PushLevel(pageNo, v, candidates[c]);
    if (Search(child, key, depth + 1)) return true;
    path_.pop_back();
  }
  return false;
}

bool TEdbBTreeRecordPageIndex::Locate(int32_t key) {
  if (!path_.empty() && path_.back().Item < leaf_.size() && leaf_[path_.back().Item].PageNo == key)
    return true;
  path_.clear();
  leaf_.clear();
  if (root_ == kEdbNoPage) return false;
  searchVisits_ = 0;
  return Search(root_, key, 0);
}

bool TEdbBTreeRecordPageIndex::Step(bool forward, int linkError) {
  if (path_.empty())
    EdbRaise(forward ? errc::kIndexNextNoPosition : errc::kIndexPriorNoPosition,
             "Index error: invalid position");
  int d = int(path_.size()) - 1;
  while (d >= 0 && !(forward ? path_[size_t(d)].Item + 1 < path_[size_t(d)].Count
                             : path_[size_t(d)].Item > 0))
    --d;
  if (d < 0) return false;
  forward ? ++path_[size_t(d)].Item : --path_[size_t(d)].Item;
  for (size_t k = size_t(d) + 1; k < path_.size(); ++k) {
    int32_t sibling = forward ? path_[k].Next : path_[k].Prev;
    if (sibling == kEdbNoPage) EdbRaise(linkError, "Index error: invalid page number");
    TEdbPageRef ref;
    TEdbBTreePageView v = Fetch(sibling, ref);
    if (v.ItemCount == 0) RaiseInvalidFormat();
    // A page must sit on the level it was reached on.
    if (v.IsLeaf != (k + 1 == path_.size())) RaiseInvalidFormat();
    uint32_t item = forward ? 0u : v.ItemCount - 1u;
    path_[k] = {sibling, item, v.ItemCount, v.PrevPage, v.NextPage};
    if (v.IsLeaf) {
      leaf_.resize(v.ItemCount);
      for (uint32_t i = 0; i < v.ItemCount; ++i) leaf_[i] = {v.Key(i), v.LeafValue(i)};
    }
  }
  return true;
}

void TEdbBTreeRecordPageIndex::CurrentEntry(TEdbPageIndexEntry& out) {
  out = leaf_.at(path_.back().Item);
}

bool TEdbBTreeRecordPageIndex::First(TEdbPageIndexEntry& out) {
  if (!DescendEdge(false, errc::kIndexFirstNoRoot)) return false;
  CurrentEntry(out);
  return true;
}

bool TEdbBTreeRecordPageIndex::Last(TEdbPageIndexEntry& out) {
  if (!DescendEdge(true, errc::kIndexLastNoRoot)) return false;
  CurrentEntry(out);
  return true;
}

bool TEdbBTreeRecordPageIndex::Next(int32_t pageNo, TEdbPageIndexEntry& out) {
  if (!Locate(pageNo)) EdbRaise(errc::kIndexNextPageNotIndexed, "Invalid page number");
  if (!Step(true, errc::kIndexNextNoSibling)) return false;
  CurrentEntry(out);
  // Entries ascend strictly; anything else is a corrupt index (and would let a walk circle).
  if (out.PageNo <= pageNo) RaiseInvalidFormat();
  return true;
}

bool TEdbBTreeRecordPageIndex::Prior(int32_t pageNo, TEdbPageIndexEntry& out) {
  if (!Locate(pageNo)) EdbRaise(errc::kIndexPriorPageNotIndexed, "Invalid page number");
  if (!Step(false, errc::kIndexPriorNoSibling)) return false;
  CurrentEntry(out);
  if (out.PageNo >= pageNo) RaiseInvalidFormat();
  return true;
}

int64_t TEdbBTreeRecordPageIndex::RecordsBefore(int32_t pageNo) {
  int64_t sum = 0;
  bool found = false;
  ForEach([&](const TEdbPageIndexEntry& e) {
    if (e.PageNo == pageNo) {
      found = true;
      return false;
    }
    sum += e.RecordCount;
    return true;
  });
  if (!found) EdbRaise(errc::kIndexRecNoPageNotIndexed, "Invalid page number");
  return sum;
}

}  // namespace edb
