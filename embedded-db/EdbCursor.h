#pragma once
// A table's loaded state and the walks over its records.
//
// TEdbTableData: the table-list entry, metadata, MostUpdated and record geometry of one table.
// TEdbDiskRecordManager: the engine's navigation requests (first, last, next, prior, current)
// with their result codes, and record number <-> record ID.
// TEdbRecordCursor: the fast physical-order walk (record pages by ascending page number, slots
// ascending) handing out a pointer to each stored record inside the cached page; nothing is
// copied and memory stays flat whatever the table size.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "EdbDiskDatabase.h"
#include "EdbRecordPageIndex.h"
#include "EdbRecordPages.h"
#include "EdbTableMetadata.h"

namespace edb {

class TEdbTableData {
 public:
  // Finds the table (30396 when missing), loads its metadata and state files and sets up the
  // record geometry (20174 when a record cannot fit a page).
  static std::shared_ptr<TEdbTableData> Load(TEdbDiskDatabaseData& db, std::string_view name,
                                             int32_t session);
  // Re-reads MostUpdated (record count, change counter, autoinc counters).
  void ReloadState(int32_t session);

  TEdbDiskDatabaseData* Database = nullptr;
  TEdbTableListEntry Entry;
  TEdbTableMetadata Metadata;
  TEdbMostUpdated State;
  TEdbRecordGeometry Geometry;
  double FormatVersion = 0;

  int32_t TableID() const { return Entry.TableID; }
  int64_t RecordCount() const { return State.RecordCount; }
};

enum TEdbNavResult : int { nrFound = 0, nrBeforeFirst = 1, nrAfterLast = 2, nrNotFound = 3 };
enum class TEdbNavDirection { Current, Next, Prior };

class TEdbDiskRecordManager {
 public:
  TEdbDiskRecordManager(TEdbPageManager& pm, const TEdbTableData& table, int32_t session);

  // One navigation request. `id` is the record ID in and out. When `recordBuffer` is given the
  // found record is converted into it (buffer form, BufferRecordSize bytes).
  TEdbNavResult Navigate(TEdbNavDirection direction, bool goFirst, bool goLast, TEdbRecordId& id,
                         uint8_t* recordBuffer = nullptr);
  // The stored form of the record found by the last successful Navigate (R bytes).
  const uint8_t* StoredRecord() const { return scratch_.data(); }

  int64_t RecordCount() const { return table_.RecordCount(); }
  // 1-based record number -> record ID (20113 beyond the entries, 20146 missing slot) and back.
  TEdbRecordId RecNoToRecordId(int64_t recNo);
  int64_t RecordIdToRecNo(const TEdbRecordId& id);
  // Compares the sum of the page-index record counts with the MostUpdated record count:
  // 20292 "Invalid table RecordPageIndex or MostUpdated..." when they differ.
  void CheckRecordCount();

 private:
  bool Accepted(const TEdbPage* page) const;
  void ReadSlot(const TEdbPage* page, uint32_t slot, uint8_t* recordBuffer);
  TEdbRecordBitmap Bitmap(const TEdbPage* page) const;
  TEdbPageRef FetchPage(int32_t pageNo, uint16_t expectedType);
  // The walk, in one direction (forward: next, first slots; backward: prior, last slots).
  // WalkEdge: the first or last record of the table. WalkStep: the next or prior record from
  // `id`, on its page or else at the near end of the neighbouring page in the index.
  // ReadPageEnd: the record at the near end of an index entry's page.
  TEdbNavResult WalkEdge(bool first, TEdbRecordId& id, uint8_t* recordBuffer);
  TEdbNavResult WalkStep(bool forward, TEdbRecordId& id, uint8_t* recordBuffer);
  TEdbNavResult ReadPageEnd(const TEdbPage* page, const TEdbPageIndexEntry& entry, bool forward,
                            TEdbRecordId& id, uint8_t* recordBuffer);

  TEdbPageManager& pm_;
  const TEdbTableData& table_;
  int32_t session_;
  TEdbBTreeRecordPageIndex index_;
  std::vector<uint8_t> scratch_;
};

class TEdbRecordCursor {
 public:
  // Record pages are read ahead in runs of this many pages straight from the file when the
  // database is plain, single-user and the session has no uncommitted pages; otherwise every
  // page comes through the page cache.
  static constexpr int32_t kReadAheadPages = 64;

  TEdbRecordCursor(TEdbPageManager& pm, const TEdbTableData& table, int32_t session);
  TEdbRecordCursor(TEdbDiskDatabaseData& db, const TEdbTableData& table, int32_t session)
      : TEdbRecordCursor(db.PageManager(), table, session) {}

  // Positions on the first record; false (and Eof) when the table has none.
  bool First();
  // Moves to the following record; false at the end (Eof set; the last record stays current).
  bool Next();
  bool Eof() const { return eof_; }
  // Stored form of the current record (StoredRecordSize bytes), valid until the next move.
  const uint8_t* Record() const { return record_; }
  TEdbRecordId Id() const { return id_; }
  int64_t RecordCount() const { return table_.RecordCount(); }
  const TEdbTableMetadata& Metadata() const { return table_.Metadata; }

  bool IsNull(int field) const { return EdbIsFieldNull(record_, field); }
  // The field's bytes in the current stored record (at its StoredOffset).
  const uint8_t* FieldData(int field) const {
    return record_ + table_.Metadata.Fields[size_t(field)].StoredOffset;
  }

 private:
  bool EnterPage(const TEdbPageIndexEntry& entry, bool firstPage);
  bool NextPage();
  // Header of page `pageNo` inside the read-ahead buffer (reading a new run when needed).
  const uint8_t* ReadAhead(int32_t pageNo);

  TEdbPageManager& pm_;
  const TEdbTableData& table_;
  int32_t session_;
  TEdbBTreeRecordPageIndex index_;
  TEdbPageRef page_;
  TEdbDiskPageManager* direct_ = nullptr;  // set while pages are read ahead from the file
  std::vector<uint8_t> chunk_;
  int32_t chunkFirst_ = -1;
  int32_t chunkCount_ = 0;
  const uint8_t* pageData_ = nullptr;  // data area of the current page
  const uint8_t* record_ = nullptr;
  TEdbRecordId id_;
  bool eof_ = true;
};

}  // namespace edb
