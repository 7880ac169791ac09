#pragma once
// The free-space map: which pages of a database are in use. PFS pages (type 3) hold one bit per
// page, EAM pages (type 2) two bits per extent (EdbFreeSpaceFormat.h). The map hands out free page
// numbers, grows the file when none is left and shrinks it when its tail falls free. Map pages go
// straight to the file through the disk page manager's ReadPage/WritePage, never through the cache
// or a session.
//
// With page data size D and pages per extent E: PFS page k is page k*8D; EAM page k is page
// k*4DE, or k*4DE + 1 when that is a PFS page.

#include <cstdint>
#include <functional>
#include <memory>

namespace edb {

class TEdbDiskPageManager;
class TEdbPage;

class TEdbDatabaseFreeSpaceManager {
 public:
  TEdbDatabaseFreeSpaceManager(TEdbDiskPageManager& pm, uint16_t pagesPerExtent,
                               int32_t lastAllocatedPage, int32_t totalPageCount,
                               uint16_t pageDataSize);
  ~TEdbDatabaseFreeSpaceManager();

  // A free page number, marked in use (growing the file when needed). Under the header lock.
  int32_t AllocatePage();
  // Marks a page free and shrinks the file when its free tail reaches the growth amount.
  void ReleasePage(int32_t pageNo);

  bool IsPfsPage(int64_t pageNo) const;
  bool IsEamPage(int64_t pageNo) const;
  bool IsSystemPage(int64_t pageNo) const { return IsPfsPage(pageNo) || IsEamPage(pageNo); }
  // Raises 30434 "Cannot delete PFS or EAM page. PageNo=%d" for a system page.
  void CheckDeletable(int32_t pageNo) const;
  // Whether the page's PFS bit is set (30432 when the PFS page has the wrong type).
  bool IsPageUsed(int32_t pageNo);

  int64_t PfsSpan() const { return pfsSpan_; }
  int64_t EamSpan() const { return eamSpan_; }
  int64_t ExtentsPerEam() const { return extentsPerEam_; }
  uint16_t PagesPerExtent() const { return pagesPerExtent_; }
  int32_t LastAllocatedPage() const { return lastAllocated_; }
  int32_t TotalPageCount() const { return totalPages_; }

  // PFS / EAM page number of index k.
  int64_t PfsPageNo(int64_t k) const { return k * pfsSpan_; }
  int64_t EamPageNo(int64_t k) const;
  // Pages added when the file grows: max(total / 10, E), or 6 for an empty database.
  static int32_t GrowthAmount(int32_t totalPageCount, uint16_t pagesPerExtent);

 private:
  void RefreshFromHeader();
  void StoreToHeader();
  // Runs `work` between reading and storing the header's free-space fields, with the header
  // locked (raising `lockError` when it cannot be); after a failure the fields are stored as far
  // as possible and the header unlocked before the failure goes on.
  void UnderHeaderLock(int lockError, const std::function<void()>& work);
  bool SearchExisting(int32_t& found);
  bool SearchEam(int64_t eamIndex, int32_t& found);
  int32_t Grow();
  struct TMapPage;
  // Reads map page `pageNo` into `slot` (unless it is there already) and checks its type.
  void LoadMapPage(TMapPage& slot, int64_t pageNo, uint16_t wantedType, int code);
  void StoreMapPage(TMapPage& slot);
  void NewMapPage(int64_t pageNo, uint16_t type);
  void BeginOperation();
  void SetPfsBit(int32_t pageNo, bool used, bool tolerant = false);
  void RecomputeEam(int32_t pageNo);
  int32_t FindLastUsedPage();

  TEdbDiskPageManager& pm_;
  uint16_t pagesPerExtent_;
  uint16_t dataSize_;
  int64_t pfsSpan_;
  int64_t extentsPerEam_;
  int64_t eamSpan_;
  int32_t lastAllocated_;
  int32_t totalPages_;
  // The PFS and the EAM page being worked on (valid within one allocation or release).
  std::unique_ptr<TMapPage> pfs_, eam_;
};

}  // namespace edb
