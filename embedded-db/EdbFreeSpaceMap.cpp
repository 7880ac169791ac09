// The free-space map: PFS bitmaps and EAM extent maps, page allocation with file growth, and
// page release with shrinking of a free file tail.

#include "EdbFreeSpaceMap.h"

#include <algorithm>
#include <climits>

#include "EdbException.h"
#include "EdbFreeSpaceFormat.h"
#include "EdbPageManager.h"

namespace edb {

struct TEdbDatabaseFreeSpaceManager::TMapPage {
  std::unique_ptr<TEdbPage> page;
  bool valid = false;
};

TEdbDatabaseFreeSpaceManager::TEdbDatabaseFreeSpaceManager(TEdbDiskPageManager& pm,
                                                           uint16_t pagesPerExtent,
                                                           int32_t lastAllocatedPage,
                                                           int32_t totalPageCount,
                                                           uint16_t pageDataSize)
    : pm_(pm),
      pagesPerExtent_(std::max<uint16_t>(1, pagesPerExtent)),
      dataSize_(std::max<uint16_t>(1, pageDataSize)),
      pfsSpan_(fsmfmt::kPagesPerPfsByte * int64_t(dataSize_)),
      extentsPerEam_(fsmfmt::kExtentsPerEamByte * int64_t(dataSize_)),
      eamSpan_(extentsPerEam_ * pagesPerExtent_),
      lastAllocated_(lastAllocatedPage),
      totalPages_(totalPageCount),
      pfs_(std::make_unique<TMapPage>()),
      eam_(std::make_unique<TMapPage>()) {
  pfs_->page = std::make_unique<TEdbPage>(&pm_, pm_.PageSize());
  eam_->page = std::make_unique<TEdbPage>(&pm_, pm_.PageSize());
}

TEdbDatabaseFreeSpaceManager::~TEdbDatabaseFreeSpaceManager() = default;

int32_t TEdbDatabaseFreeSpaceManager::GrowthAmount(int32_t totalPageCount,
                                                   uint16_t pagesPerExtent) {
  if (totalPageCount <= 0) return 6;
  return std::max<int32_t>(totalPageCount / 10, pagesPerExtent);
}

bool TEdbDatabaseFreeSpaceManager::IsPfsPage(int64_t pageNo) const {
  return pageNo >= 0 && pageNo % pfsSpan_ == 0;
}

bool TEdbDatabaseFreeSpaceManager::IsEamPage(int64_t pageNo) const {
  if (pageNo < 0) return false;
  if (pageNo % eamSpan_ == 0 && pageNo % pfsSpan_ != 0) return true;
  return pageNo >= 1 && (pageNo - 1) % eamSpan_ == 0 && (pageNo - 1) % pfsSpan_ == 0;
}

int64_t TEdbDatabaseFreeSpaceManager::EamPageNo(int64_t k) const {
  const int64_t n = k * eamSpan_;
  return IsPfsPage(n) ? n + 1 : n;
}

void TEdbDatabaseFreeSpaceManager::CheckDeletable(int32_t pageNo) const {
  if (IsSystemPage(pageNo))
    EdbRaise(errc::kCannotDeleteMapPage, "Cannot delete PFS or EAM page. PageNo=%d", pageNo);
}

void TEdbDatabaseFreeSpaceManager::RefreshFromHeader() {
  pm_.ReadHeaderAt(errc::kReadHeader);
  lastAllocated_ = pm_.header_.LastAllocatedPage;
  totalPages_ = pm_.header_.TotalPageCount;
}

void TEdbDatabaseFreeSpaceManager::StoreToHeader() {
  if (pm_.header_.LastAllocatedPage != lastAllocated_ ||
      pm_.header_.TotalPageCount != totalPages_) {
    pm_.header_.LastAllocatedPage = lastAllocated_;
    pm_.header_.TotalPageCount = totalPages_;
    pm_.WriteHeader();
  }
}

void TEdbDatabaseFreeSpaceManager::BeginOperation() {
  pfs_->valid = false;
  eam_->valid = false;
}

void TEdbDatabaseFreeSpaceManager::LoadMapPage(TMapPage& slot, int64_t pageNo, uint16_t wantedType,
                                               int code) {
  TEdbPage* p = slot.page.get();
  if (!(slot.valid && p->PageNo() == pageNo)) {
    slot.valid = false;
    p->InitHeader();
    p->SetPageNo(int32_t(pageNo));
    pm_.ReadPage(p);
    slot.valid = true;
  }
  if (p->PageType() != wantedType) {
    slot.valid = false;
    const std::string found = EdbPageTypeName(p->PageType());
    EdbRaise(code, "Wrong page type. Found '%s', but wanted: '%s'", found.c_str(),
             EdbPageTypeName(wantedType).c_str());
  }
}

void TEdbDatabaseFreeSpaceManager::StoreMapPage(TMapPage& slot) {
  try {
    pm_.WritePage(slot.page.get());
  } catch (...) {
    slot.valid = false;
    throw;
  }
}

void TEdbDatabaseFreeSpaceManager::NewMapPage(int64_t pageNo, uint16_t type) {
  TMapPage& slot = type == ptPFS ? *pfs_ : *eam_;
  TEdbPage* p = slot.page.get();
  p->InitHeader();
  p->SetPageNo(int32_t(pageNo));
  p->SetPageType(type);
  p->Data()[0] = 1;
  slot.valid = true;
  StoreMapPage(slot);
}

void TEdbDatabaseFreeSpaceManager::SetPfsBit(int32_t pageNo, bool used, bool tolerant) {
  if (pageNo < 0 || pageNo >= totalPages_)
    EdbRaise(errc::kPageNotAddressable, "Page: %d cannot be addressed. TotalPageCount=%d", pageNo,
             totalPages_);
  const int64_t pfsNo = pageNo / pfsSpan_ * pfsSpan_;
  LoadMapPage(*pfs_, pfsNo, ptPFS, errc::kMapPageForMarking);
  const int64_t off = pageNo - pfsNo;
  uint8_t& b = fsmfmt::PfsByte(pfs_->page->Data(), off);
  const uint8_t mask = fsmfmt::PfsMask(off);
  const bool set = (b & mask) != 0;
  if (set == used) {
    if (tolerant) return;
    if (used) EdbRaise(errc::kPageAlreadyUsed, "Page: %d already used", pageNo);
    EdbRaise(errc::kPageAlreadyFree, "Page: %d already free", pageNo);
  }
  b = uint8_t(b ^ mask);
  StoreMapPage(*pfs_);
}

bool TEdbDatabaseFreeSpaceManager::IsPageUsed(int32_t pageNo) {
  if (pageNo < 0 || pageNo >= totalPages_) return false;
  BeginOperation();
  const int64_t pfsNo = pageNo / pfsSpan_ * pfsSpan_;
  LoadMapPage(*pfs_, pfsNo, ptPFS, errc::kMapPageForTest);
  const int64_t off = pageNo - pfsNo;
  return fsmfmt::PfsBit(pfs_->page->Data(), off);
}

void TEdbDatabaseFreeSpaceManager::RecomputeEam(int32_t pageNo) {
  if (pageNo < 0 || pageNo >= totalPages_)
    EdbRaise(errc::kPageNotAddressableEam, "Page: %d cannot be addressed. TotalPageCount=%d",
             pageNo, totalPages_);
  const int64_t k = pageNo / eamSpan_;
  LoadMapPage(*eam_, EamPageNo(k), ptEAM, errc::kMapPageForEam);
  const int64_t extent = pageNo / pagesPerExtent_;
  const int64_t local = extent - k * extentsPerEam_;
  int used = 0, free = 0;
  for (int64_t p = extent * pagesPerExtent_; p < (extent + 1) * pagesPerExtent_ && !(used && free);
       ++p) {
    const int64_t pfsNo = p / pfsSpan_ * pfsSpan_;
    if (pfsNo > lastAllocated_) {
      ++free;
      continue;
    }
    LoadMapPage(*pfs_, pfsNo, ptPFS, errc::kMapPageForEam);
    const int64_t off = p - pfsNo;
    if (fsmfmt::PfsBit(pfs_->page->Data(), off))
      ++used;
    else
      ++free;
  }
  const uint8_t field = (used && !free) ? fsmfmt::kEamFull : fsmfmt::kEamHasFreePage;
  if (fsmfmt::SetEamField(eam_->page->Data(), local, field)) StoreMapPage(*eam_);
}

bool TEdbDatabaseFreeSpaceManager::SearchEam(int64_t eamIndex, int32_t& found) {
  const int64_t eamNo = EamPageNo(eamIndex);
  if (eamNo >= totalPages_) return false;
  LoadMapPage(*eam_, eamNo, ptEAM, errc::kMapPageForSearch);
  const uint8_t* d = eam_->page->Data();
  int64_t extent = -1;
  for (int64_t i = 0; i < dataSize_ && extent < 0; ++i) {
    if (d[i] == fsmfmt::kByteAllSet) continue;
    for (int64_t u = i * fsmfmt::kExtentsPerEamByte; u < (i + 1) * fsmfmt::kExtentsPerEamByte;
         ++u) {
      if (!fsmfmt::EamFull(d, u)) {
        extent = eamIndex * extentsPerEam_ + u;
        break;
      }
    }
  }
  if (extent < 0) return false;
  const int64_t first = extent * pagesPerExtent_;
  const int64_t last = (extent + 1) * pagesPerExtent_ - 1;
  for (int64_t idx = first / pfsSpan_; idx <= last / pfsSpan_; ++idx) {
    const int64_t pfsNo = idx * pfsSpan_;
    if (pfsNo >= totalPages_) return false;
    LoadMapPage(*pfs_, pfsNo, ptPFS, errc::kMapPageForSearch);
    const uint8_t* b = pfs_->page->Data();
    for (int64_t i = 0; i < dataSize_; ++i) {
      if (b[i] == fsmfmt::kByteAllSet) continue;
      for (int bit = 0; bit < fsmfmt::kPagesPerPfsByte; ++bit) {
        const int64_t unit = i * fsmfmt::kPagesPerPfsByte + bit;
        if (fsmfmt::PfsBit(b, unit)) continue;
        const int64_t page = pfsNo + unit;
        if (page >= totalPages_) return false;  // later bits lie further beyond the end
        found = int32_t(page);
        SetPfsBit(found, true);
        RecomputeEam(found);
        return true;
      }
    }
  }
  return false;
}

bool TEdbDatabaseFreeSpaceManager::SearchExisting(int32_t& found) {
  if (lastAllocated_ == -1) return false;
  const int64_t L = std::max<int64_t>(int64_t(totalPages_) - 1, 0) / eamSpan_;
  if (SearchEam(L, found)) return true;
  for (int64_t k = 0; k < L; ++k)
    if (SearchEam(k, found)) return true;
  return false;
}

int32_t TEdbDatabaseFreeSpaceManager::Grow() {
  const int64_t total = totalPages_;
  const int64_t lastPfs = total > 0 ? (total - 1) / pfsSpan_ : -1;
  int64_t lastEam = total > 0 ? (total - 1) / eamSpan_ : -1;
  if (lastEam >= 0 && EamPageNo(lastEam) > total - 1) --lastEam;

  int64_t candidate = int64_t(lastAllocated_) + 1;
  while (IsSystemPage(candidate)) ++candidate;
  int64_t n = GrowthAmount(totalPages_, pagesPerExtent_);
  if (candidate >= total + n) n = candidate - total + 1;
  while (IsSystemPage(total + n - 1)) ++n;
  const int64_t newTotal = total + n;
  if (newTotal > INT32_MAX)
    EdbRaise(errc::kPageNotAddressable, "Page: %d cannot be addressed. TotalPageCount=%d",
             int32_t(std::min<int64_t>(candidate, INT32_MAX)), totalPages_);

  pm_.File().SetSize(pm_.PageAreaOffset() + newTotal * pm_.PageSize());
  totalPages_ = int32_t(newTotal);
  pm_.header_.TotalPageCount = totalPages_;

  const int64_t newLastPfs = (newTotal - 1) / pfsSpan_;
  int64_t newLastEam = (newTotal - 1) / eamSpan_;
  if (EamPageNo(newLastEam) > newTotal - 1) --newLastEam;
  for (int64_t k = lastPfs + 1; k <= newLastPfs; ++k) NewMapPage(PfsPageNo(k), ptPFS);
  for (int64_t k = lastEam + 1; k <= newLastEam; ++k) NewMapPage(EamPageNo(k), ptEAM);

  lastAllocated_ = int32_t(candidate);
  for (int64_t k = lastEam + 1; k <= newLastEam; ++k) SetPfsBit(int32_t(EamPageNo(k)), true, true);
  for (int64_t k = lastPfs + 1; k <= newLastPfs; ++k) RecomputeEam(int32_t(PfsPageNo(k)));

  SetPfsBit(int32_t(candidate), true);
  RecomputeEam(int32_t(candidate));
  return int32_t(candidate);
}

void TEdbDatabaseFreeSpaceManager::UnderHeaderLock(int lockError,
                                                   const std::function<void()>& work) {
  pm_.LockHeader(lockError);
  try {
    BeginOperation();
    RefreshFromHeader();
    work();
    StoreToHeader();
  } catch (...) {
    try {
      StoreToHeader();
    } catch (...) {
    }
    pm_.UnlockHeader();
    throw;
  }
  pm_.UnlockHeader();
}

int32_t TEdbDatabaseFreeSpaceManager::AllocatePage() {
  int32_t found = kEdbNoPage;
  UnderHeaderLock(errc::kLockedOnAllocate, [&] {
    if (!SearchExisting(found)) found = Grow();
    lastAllocated_ = std::max(lastAllocated_, found);
  });
  return found;
}

int32_t TEdbDatabaseFreeSpaceManager::FindLastUsedPage() {
  if (totalPages_ <= 0) return -1;
  for (int64_t idx = (int64_t(totalPages_) - 1) / pfsSpan_; idx >= 0; --idx) {
    const int64_t pfsNo = idx * pfsSpan_;
    LoadMapPage(*pfs_, pfsNo, ptPFS, errc::kMapPageForTest);
    const uint8_t* b = pfs_->page->Data();
    for (int64_t i = dataSize_ - 1; i >= 0; --i) {
      if (b[i] == 0) continue;
      for (int bit = fsmfmt::kPagesPerPfsByte - 1; bit >= 0; --bit) {
        const int64_t unit = i * fsmfmt::kPagesPerPfsByte + bit;
        if (!fsmfmt::PfsBit(b, unit)) continue;
        const int64_t page = pfsNo + unit;
        if (page < totalPages_ && !IsSystemPage(page)) return int32_t(page);
      }
    }
  }
  return -1;
}

void TEdbDatabaseFreeSpaceManager::ReleasePage(int32_t pageNo) {
  CheckDeletable(pageNo);
  UnderHeaderLock(errc::kLockedOnRelease, [&] {
    SetPfsBit(pageNo, false);
    RecomputeEam(pageNo);
    lastAllocated_ = FindLastUsedPage();
    const int32_t g = GrowthAmount(totalPages_, pagesPerExtent_);
    const int64_t tail = int64_t(totalPages_) - lastAllocated_ - 1;
    if (tail >= g) {
      const int64_t cut = tail / g * g;
      totalPages_ = int32_t(totalPages_ - cut);
      pm_.File().SetSize(pm_.PageAreaOffset() + int64_t(totalPages_) * pm_.PageSize());
      BeginOperation();
    }
  });
}

}  // namespace edb
