#pragma once
// The format writer's table and record part: creates databases with their system files, tables
// with any field type, inserts and deletes records (filling record pages and growing the
// RecordPageIndex), and keeps MostUpdated. BLOB values are handed to an IEdbBlobStore, which
// writes them and answers the 6-byte reference stored in the record.
//
//   TEdbFormatWriter w;
//   w.CreateDatabase("x.abs");
//   TEdbTableWriter& t = w.CreateTable("T", {EdbMakeFieldDef("ID", aftAutoinc),
//                                            EdbMakeFieldDef("NAME", aftString, 40)});
//   TEdbRecordBuilder r = t.NewRecord();
//   r.SetAnsiString(1, "abc");
//   t.Insert(r);                 // autoinc fields left NULL get the next counter value
//   w.Close();                   // commits everything

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "EdbBlobFormat.h"
#include "EdbDiskDatabase.h"
#include "EdbRecordPageIndex.h"
#include "EdbRecordPages.h"
#include "EdbTableMetadata.h"

namespace edb {

// What a BLOB store gets to work with: the page manager, the writer's session, the table (its ID
// goes into the owner-table field of every page it adds; it may update BlobPageIndexRoot).
struct TEdbBlobWriteContext {
  TEdbDiskPageManager& PageManager;
  int32_t Session;
  int32_t TableID;
  TEdbTableMetadata& Metadata;
};

class IEdbBlobStore {
 public:
  virtual ~IEdbBlobStore() = default;
  // Stores one non-empty value of BLOB field `fieldIndex` (compressed as the field definition
  // says) and fills the 6-byte reference: int32 page number, int16 BLOB ID (-1 for a large BLOB).
  virtual void StoreBlob(TEdbBlobWriteContext& ctx, int fieldIndex, const uint8_t* data,
                         size_t size, uint8_t reference[kEdbBlobRefSize]) = 0;
};

// A field definition for CreateTable: declared type, declared length (strings, bytes), the
// storage type from the type table.
TEdbFieldDef EdbMakeFieldDef(std::string name, uint8_t advancedType, int32_t fieldSize = 0);

// One record being composed, in stored form, every field NULL at first.
class TEdbRecordBuilder {
 public:
  explicit TEdbRecordBuilder(const TEdbTableMetadata& md);

  const TEdbTableMetadata& Metadata() const { return *md_; }
  void SetNull(int field);
  bool IsNull(int field) const { return EdbIsFieldNull(stored_.data(), field); }
  // The field's stored bytes (clears its null bit); callers may encode values into it.
  uint8_t* FieldBytes(int field);

  void SetInt(int field, int64_t v);           // integer base types 5..11 (truncated to width)
  void SetDouble(int field, double v);         // 12, 13, 22 (14 via the x87 form)
  void SetBool(int field, bool v);             // 21
  void SetDate(int field, int32_t dayNumber);  // 15
  void SetTime(int field, int32_t ms);         // 16
  void SetDateTime(int field, int32_t dayNumber, int32_t ms);  // 17
  // ANSI bytes for base 1 and 3 (cut to FieldSize; an empty text stores NULL).
  void SetAnsiString(int field, std::string_view bytes);
  // An empty text for base 1 and 3 that is not NULL.
  void SetEmptyAnsiString(int field);
  // UTF-16 code units for base 2 and 4 (cut to FieldSize; empty stores NULL).
  void SetWideString(int field, std::u16string_view units);
  // Raw bytes for base 23 and 24 (at most FieldSize + 1 bytes).
  void SetBytes(int field, std::string_view bytes);
  // A BLOB value, handed to the blob store on insert (empty stores NULL).
  void SetBlob(int field, std::string bytes);

  const std::vector<uint8_t>& Stored() const { return stored_; }
  const std::map<int, std::string>& Blobs() const { return blobs_; }

 private:
  uint8_t* Field(int field, int expectedWidth = -1);
  const TEdbTableMetadata* md_;
  std::vector<uint8_t> stored_;
  std::map<int, std::string> blobs_;
};

class TEdbFormatWriter;

class TEdbTableWriter {
 public:
  const TEdbTableMetadata& Metadata() const { return metadata_; }
  const TEdbTableListEntry& Entry() const { return entry_; }
  int32_t TableID() const { return entry_.TableID; }
  int64_t RecordCount() const { return state_.RecordCount; }

  TEdbRecordBuilder NewRecord() const { return TEdbRecordBuilder(metadata_); }
  // Appends a record into the first free slot at the end of the table (a new record page when
  // the last one is full). Autoinc fields that are NULL get the next counter value.
  TEdbRecordId Insert(const TEdbRecordBuilder& record);
  // Clears the record's slot bit (the slot stays a hole). 20143 when it holds no record.
  void Delete(const TEdbRecordId& id);
  // Writes the metadata (page-index roots) and MostUpdated and commits the session.
  void Commit();

 private:
  friend class TEdbFormatWriter;
  TEdbTableWriter(TEdbFormatWriter& owner, TEdbTableListEntry entry, TEdbTableMetadata md);
  void AddPageToIndex(int32_t pageNo, uint16_t count);
  // Rewrites the RecordPageIndex as a whole B-tree, level by level from the leaves up.
  void SaveIndex();
  struct TIndexItem {
    int32_t Key;
    int32_t Value;
  };
  uint32_t IndexPageCapacity(bool leaf) const;
  // The next index page: one of the previous tree's while they last, then a new one.
  TEdbPageRef TakeIndexPage(size_t& reuse);
  static void WriteIndexPage(TEdbPage& page, const TEdbBTreePageHeader& header,
                             const TIndexItem* items, size_t count);
  // Writes one level; answers the node items of the level above, one per page written.
  std::vector<TIndexItem> WriteIndexLevel(const std::vector<TIndexItem>& items, bool leaf,
                                          size_t& reuse, std::vector<int32_t>& used);
  void MaybeAutoCommit();

  TEdbFormatWriter& owner_;
  TEdbTableListEntry entry_;
  TEdbTableMetadata metadata_;
  TEdbMostUpdated state_;
  TEdbRecordGeometry geometry_;
  // The index in memory: record pages in ascending order with their counts. Rewritten as a
  // whole B-tree on commit.
  std::vector<TEdbPageIndexEntry> pages_;
  std::vector<int32_t> indexPages_;  // B-tree pages in use, reused on the next save
  int32_t lastPage_ = kEdbNoPage;    // page that takes the next insert
  uint32_t pendingInserts_ = 0;
  bool indexDirty_ = false;
  bool stateDirty_ = false;
  uint8_t metadataCompression_ = 0;
};

class TEdbFormatWriter {
 public:
  TEdbFormatWriter();
  ~TEdbFormatWriter();

  // Creates the database (system directory, connection-slot file, empty table list).
  void CreateDatabase(const std::string& fileName, const TEdbPassword& password = {},
                      const TEdbCreateOptions& options = {},
                      std::unique_ptr<IEdbFileStore> store = nullptr);
  // Creates a table. `requiredFields` get not-null constraints. `metadataCompression` compresses
  // the metadata file (0 none, 1 ZLIB, 2 BZIP).
  TEdbTableWriter& CreateTable(const std::string& name, std::vector<TEdbFieldDef> fields,
                               const std::vector<std::string>& requiredFields = {},
                               uint8_t metadataCompression = 0);
  TEdbTableWriter& Table(std::string_view name);

  // The BLOB store used for BLOB fields (not owned). Without one, a BLOB value raises 20162.
  void SetBlobStore(IEdbBlobStore* store) { blobStore_ = store; }
  IEdbBlobStore* BlobStore() const { return blobStore_; }
  // Inserts per automatic commit (0: commit only on Commit/Close).
  void SetAutoCommitEvery(uint32_t records) { autoCommitEvery_ = records; }
  // Caps the items per RecordPageIndex page (0: as many as fit), so that small tables get
  // several index levels too.
  void SetMaxIndexItems(uint32_t items) { maxIndexItems_ = items; }

  void Commit();  // commits every table
  void Close();   // commits and closes the file
  TEdbDiskDatabaseData& Database() { return db_; }
  TEdbDiskPageManager& PageManager() { return db_.PageManager(); }
  int32_t Session() const { return kEdbSystemSession; }

 private:
  friend class TEdbTableWriter;
  TEdbDiskDatabaseData db_;
  IEdbBlobStore* blobStore_ = nullptr;
  uint32_t autoCommitEvery_ = 20000;
  uint32_t maxIndexItems_ = 0;
  std::vector<std::unique_ptr<TEdbTableWriter>> tables_;
};

}  // namespace edb
