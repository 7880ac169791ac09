#include "EdbCursor.h"

#include <algorithm>
#include <cstring>

#include "EdbEndian.h"

#include "EdbException.h"

namespace edb {

// ---- table data --------------------------------------------------------------------------

std::shared_ptr<TEdbTableData> TEdbTableData::Load(TEdbDiskDatabaseData& db, std::string_view name,
                                                   int32_t session) {
  auto t = std::make_shared<TEdbTableData>();
  t->Database = &db;
  t->Entry = db.FindTable(name);
  std::lock_guard<std::mutex> lock(db.Mutex());
  auto& pm = db.PageManager();
  TEdbInternalDBTransactedAccessFile metaFile(pm, ptTableMetaData, t->Entry.MetadataPage);
  std::vector<uint8_t> meta = metaFile.ReadAll(session, true);
  t->Metadata = TEdbTableMetadata::Load(meta.data(), meta.size());
  t->Geometry = TEdbRecordGeometry::Compute(pm.PageDataSize(), t->Metadata.StoredRecordSize);
  t->FormatVersion = pm.FileVersion();
  t->State.AutoincCounters = t->Metadata.InitialAutoincCounters();
  TEdbInternalDBTransactedAccessFile stateFile(pm, ptTableMostUpdated, t->Entry.StatePage);
  std::vector<uint8_t> state = stateFile.ReadAll(session, true);
  t->State = TEdbMostUpdated::Load(state.data(), state.size());
  return t;
}

void TEdbTableData::ReloadState(int32_t session) {
  std::lock_guard<std::mutex> lock(Database->Mutex());
  TEdbInternalDBTransactedAccessFile stateFile(Database->PageManager(), ptTableMostUpdated,
                                               Entry.StatePage);
  std::vector<uint8_t> state = stateFile.ReadAll(session, true);
  State = TEdbMostUpdated::Load(state.data(), state.size());
}

// ---- record manager ----------------------------------------------------------------------

TEdbDiskRecordManager::TEdbDiskRecordManager(TEdbPageManager& pm, const TEdbTableData& table,
                                             int32_t session)
    : pm_(pm),
      table_(table),
      session_(session),
      index_(pm, session, table.Metadata.RecordPageIndexRoot),
      scratch_(table.Metadata.StoredRecordSize) {}

bool TEdbDiskRecordManager::Accepted(const TEdbPage* page) const {
  return EdbAcceptRecordPage(page->Header(), table_.FormatVersion, table_.TableID());
}

TEdbRecordBitmap TEdbDiskRecordManager::Bitmap(const TEdbPage* page) const {
  if (page->DataSize() < table_.Geometry.UsedSize())
    EdbRaise(errc::kInvalidRecordsOnPage, "Invalid number of records on page");
  return TEdbRecordBitmap(page->Data(), table_.Geometry.RecordsPerPage);
}

TEdbPageRef TEdbDiskRecordManager::FetchPage(int32_t pageNo, uint16_t expectedType) {
  if (pageNo < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  return TEdbPageRef(pm_.GetPage(session_, pageNo, true, expectedType));
}

void TEdbDiskRecordManager::ReadSlot(const TEdbPage* page, uint32_t slot, uint8_t* recordBuffer) {
  const uint8_t* src = page->Data() + table_.Geometry.SlotOffset(slot);
  std::memcpy(scratch_.data(), src, scratch_.size());
  if (recordBuffer) EdbStoredToBuffer(table_.Metadata, scratch_.data(), recordBuffer);
}

TEdbNavResult TEdbDiskRecordManager::ReadPageEnd(const TEdbPage* page,
                                                 const TEdbPageIndexEntry& entry, bool forward,
                                                 TEdbRecordId& id, uint8_t* recordBuffer) {
  const TEdbRecordBitmap bits = Bitmap(page);
  const int32_t slot =
      forward ? bits.FirstSetFrom(0) : bits.LastSetBelow(table_.Geometry.RecordsPerPage);
  if (slot < 0) {
    // A page the index lists holds at least one record.
    if (forward)
      EdbRaise(errc::kRecordNotFoundOnPage, "Record not found. PageNo=%d, PageRecordCount=%d",
               entry.PageNo, int(entry.RecordCount));
    EdbRaise(errc::kLastRecordNotFound, "Record not found");
  }
  ReadSlot(page, uint32_t(slot), recordBuffer);
  id = {entry.PageNo, uint16_t(slot)};
  return nrFound;
}

TEdbNavResult TEdbDiskRecordManager::WalkEdge(bool first, TEdbRecordId& id, uint8_t* recordBuffer) {
  TEdbPageIndexEntry e;
  if (!(first ? index_.First(e) : index_.Last(e))) return nrNotFound;
  TEdbPageRef page = FetchPage(e.PageNo, kEdbAnyPageType);
  if (!Accepted(page.get())) return nrNotFound;
  return ReadPageEnd(page.get(), e, first, id, recordBuffer);
}

TEdbNavResult TEdbDiskRecordManager::WalkStep(bool forward, TEdbRecordId& id,
                                              uint8_t* recordBuffer) {
  {
    TEdbPageRef page = FetchPage(id.PageNo, kEdbAnyPageType);
    if (Accepted(page.get())) {
      const TEdbRecordBitmap bits = Bitmap(page.get());
      const int32_t slot =
          forward ? bits.FirstSetFrom(uint32_t(id.Slot) + 1) : bits.LastSetBelow(id.Slot);
      if (slot >= 0) {
        ReadSlot(page.get(), uint32_t(slot), recordBuffer);
        id.Slot = uint16_t(slot);
        return nrFound;
      }
    } else if (!forward) {
      // Walking backward from a page that is not the table's starts over at the last record.
      page.Reset();
      return WalkEdge(false, id, recordBuffer);
    }
  }
  TEdbPageIndexEntry e;
  if (!(forward ? index_.Next(id.PageNo, e) : index_.Prior(id.PageNo, e)))
    return forward ? nrAfterLast : nrBeforeFirst;
  TEdbPageRef page = FetchPage(e.PageNo, kEdbPageTypeRecord);
  return ReadPageEnd(page.get(), e, forward, id, recordBuffer);
}

TEdbNavResult TEdbDiskRecordManager::Navigate(TEdbNavDirection direction, bool goFirst, bool goLast,
                                              TEdbRecordId& id, uint8_t* recordBuffer) {
  if (table_.RecordCount() == 0) return nrAfterLast;
  const bool next = direction == TEdbNavDirection::Next;
  const bool prior = direction == TEdbNavDirection::Prior;
  if (goFirst) return prior ? nrBeforeFirst : WalkEdge(true, id, recordBuffer);
  if (goLast) return next ? nrAfterLast : WalkEdge(false, id, recordBuffer);
  if (next || prior) return WalkStep(next, id, recordBuffer);

  // Current.
  TEdbPageRef page = FetchPage(id.PageNo, kEdbAnyPageType);
  if (!Accepted(page.get())) return nrNotFound;
  if (!Bitmap(page.get()).IsSet(id.Slot)) return nrNotFound;
  ReadSlot(page.get(), id.Slot, recordBuffer);
  return nrFound;
}

TEdbRecordId TEdbDiskRecordManager::RecNoToRecordId(int64_t recNo) {
  TEdbRecordId result;
  bool found = false;
  int64_t sumBefore = 0;
  index_.ForEach([&](const TEdbPageIndexEntry& e) {
    if (sumBefore + e.RecordCount > recNo - 1) {
      result.PageNo = e.PageNo;
      found = true;
      return false;
    }
    sumBefore += e.RecordCount;
    return true;
  });
  if (!found || recNo < 1)
    EdbRaise(errc::kRecNoBeyondCount, "Cannot set RecNo greater than RecordCount");
  TEdbPageRef page = FetchPage(result.PageNo, kEdbPageTypeRecord);
  int32_t slot = Bitmap(page.get()).NthSet(uint32_t(recNo - 1 - sumBefore));
  if (slot < 0) EdbRaise(errc::kRecNoSlotNotFound, "Record not found");
  result.Slot = uint16_t(slot);
  return result;
}

int64_t TEdbDiskRecordManager::RecordIdToRecNo(const TEdbRecordId& id) {
  int64_t before = index_.RecordsBefore(id.PageNo);
  TEdbPageRef page = FetchPage(id.PageNo, kEdbPageTypeRecord);
  return before + Bitmap(page.get()).CountSetBelow(id.Slot) + 1;
}

void TEdbDiskRecordManager::CheckRecordCount() {
  int64_t sum = 0;
  if (table_.Metadata.RecordPageIndexRoot != kEdbNoPage)
    index_.ForEach([&](const TEdbPageIndexEntry& e) {
      sum += e.RecordCount;
      return true;
    });
  if (sum != table_.RecordCount())
    EdbRaise(errc::kRecordCountMismatch,
             "Invalid table RecordPageIndex or MostUpdated. RecordPageIndex.RecordCount=%lld, "
             "MostUpdated.RecordCount=%lld",
             static_cast<long long>(sum), static_cast<long long>(table_.RecordCount()));
}

// ---- physical-order cursor ---------------------------------------------------------------

TEdbRecordCursor::TEdbRecordCursor(TEdbPageManager& pm, const TEdbTableData& table, int32_t session)
    : pm_(pm),
      table_(table),
      session_(session),
      index_(pm, session, table.Metadata.RecordPageIndexRoot) {}

const uint8_t* TEdbRecordCursor::ReadAhead(int32_t pageNo) {
  const uint32_t pageSize = direct_->PageSize();
  if (pageNo >= chunkFirst_ && pageNo < chunkFirst_ + chunkCount_)
    return chunk_.data() + size_t(pageNo - chunkFirst_) * pageSize;
  const int64_t total = direct_->Header().TotalPageCount;
  const int32_t count = int32_t(std::clamp<int64_t>(total - pageNo, 1, kReadAheadPages));
  chunk_.resize(size_t(kReadAheadPages) * pageSize);
  const size_t want = size_t(count) * pageSize;
  size_t done = direct_->File().ReadBuffer(chunk_.data(), direct_->PageFileOffset(pageNo), want,
                                           errc::kReadPage);
  // Pages past the end of the file read as nothing: a zero header, like a failed page read.
  if (done < want) std::memset(chunk_.data() + done, 0, want - done);
  chunkFirst_ = pageNo;
  chunkCount_ = count;
  return chunk_.data();
}

bool TEdbRecordCursor::EnterPage(const TEdbPageIndexEntry& entry, bool firstPage) {
  if (entry.PageNo < 0) EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  // The first page of a walk may be anything and is tested; later pages come from the index
  // and must be record pages.
  const uint8_t* header;
  TEdbPageRef page;
  if (direct_) {
    header = ReadAhead(entry.PageNo);
    uint16_t type = GetU16(header + pagehdr::kPageType);
    if (!firstPage && type != kEdbPageTypeRecord)
      EdbRaise(errc::kInvalidPageType,
               "Invalid page type. Possibly data is corrupted. Expected type %d, but found %d",
               int(kEdbPageTypeRecord), int(type));
  } else {
    page = TEdbPageRef(pm_.GetPage(session_, entry.PageNo, true,
                                   firstPage ? kEdbAnyPageType : kEdbPageTypeRecord));
    header = page->Header();
  }
  if (firstPage && !EdbAcceptRecordPage(header, table_.FormatVersion, table_.TableID()))
    return false;
  if (pm_.PageDataSize() < table_.Geometry.UsedSize())
    EdbRaise(errc::kInvalidRecordsOnPage, "Invalid number of records on page");
  const uint8_t* data = header + kEdbPageHeaderSize;
  int32_t slot = TEdbRecordBitmap(data, table_.Geometry.RecordsPerPage).FirstSetFrom(0);
  if (slot < 0)
    EdbRaise(errc::kRecordNotFoundOnPage, "Record not found. PageNo=%d, PageRecordCount=%d",
             entry.PageNo, int(entry.RecordCount));
  page_ = std::move(page);
  pageData_ = data;
  id_ = {entry.PageNo, uint16_t(slot)};
  record_ = data + table_.Geometry.SlotOffset(uint32_t(slot));
  return true;
}

bool TEdbRecordCursor::First() {
  page_.Reset();
  pageData_ = nullptr;
  record_ = nullptr;
  eof_ = true;
  chunkFirst_ = -1;
  chunkCount_ = 0;
  direct_ = dynamic_cast<TEdbDiskPageManager*>(&pm_);
  if (direct_ &&
      (direct_->Encrypted() || direct_->MultiUser() || direct_->ChangedPageCount(session_) != 0))
    direct_ = nullptr;
  if (table_.RecordCount() == 0) return false;
  TEdbPageIndexEntry e;
  if (!index_.First(e)) return false;
  if (!EnterPage(e, true)) return false;
  eof_ = false;
  return true;
}

bool TEdbRecordCursor::Next() {
  if (eof_ || !pageData_) return false;
  const uint32_t n = table_.Geometry.RecordsPerPage;
  int32_t slot = TEdbRecordBitmap(pageData_, n).FirstSetFrom(uint32_t(id_.Slot) + 1);
  if (slot >= 0) {
    id_.Slot = uint16_t(slot);
    record_ = pageData_ + table_.Geometry.SlotOffset(uint32_t(slot));
    return true;
  }
  return NextPage();
}

bool TEdbRecordCursor::NextPage() {
  TEdbPageIndexEntry e;
  if (!index_.Next(id_.PageNo, e)) {
    eof_ = true;  // the last record stays current
    return false;
  }
  EnterPage(e, false);
  return true;
}

}  // namespace edb
