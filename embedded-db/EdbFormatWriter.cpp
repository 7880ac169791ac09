#include "EdbFormatWriter.h"

#include <algorithm>
#include <cstring>

#include "EdbBTreeFormat.h"
#include "EdbCodePage.h"
#include "EdbEndian.h"
#include "EdbException.h"
#include "EdbInternalFile.h"
#include "EdbValueConvert.h"
#include "EdbValueFormat.h"

namespace edb {

TEdbFieldDef EdbMakeFieldDef(std::string name, uint8_t advancedType, int32_t fieldSize) {
  const TEdbAdvancedTypeInfo* info = EdbAdvancedTypeInfo(advancedType);
  if (!info) EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  TEdbFieldDef f;
  f.Name = std::move(name);
  f.AdvancedType = advancedType;
  f.BaseType = info->BaseType;
  f.FieldSize = advancedType == aftGuid ? kEdbGuidFieldSize : fieldSize;
  return f;
}

// ---- record builder ----------------------------------------------------------------------

TEdbRecordBuilder::TEdbRecordBuilder(const TEdbTableMetadata& md)
    : md_(&md), stored_(md.StoredRecordSize, 0) {
  for (size_t i = 0; i < md.Fields.size(); ++i) EdbSetFieldNull(stored_.data(), int(i), true);
}

uint8_t* TEdbRecordBuilder::Field(int field, int expectedWidth) {
  if (field < 0 || size_t(field) >= md_->Fields.size())
    EdbRaise(errc::kFieldNotFound, "Field #%d not found", field);
  const auto& f = md_->Fields[size_t(field)];
  if (expectedWidth >= 0 && f.StoredSize != uint32_t(expectedWidth))
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  EdbSetFieldNull(stored_.data(), field, false);
  blobs_.erase(field);
  uint8_t* p = stored_.data() + f.StoredOffset;
  std::memset(p, 0, f.StoredSize);
  return p;
}

void TEdbRecordBuilder::SetNull(int field) {
  Field(field);
  EdbSetFieldNull(stored_.data(), field, true);
}

uint8_t* TEdbRecordBuilder::FieldBytes(int field) { return Field(field); }

void TEdbRecordBuilder::SetInt(int field, int64_t v) {
  const TEdbFieldDef& f = md_->Fields.at(size_t(field));
  switch (f.BaseType) {
    case bftBoolean: return SetBool(field, v != 0);
    case bftDate: return SetDate(field, int32_t(v));
    case bftTime: return SetTime(field, int32_t(v));
    case bftInt8:
    case bftUInt8:
    case bftInt16:
    case bftUInt16:
    case bftInt32:
    case bftUInt32:
    case bftInt64:
      return EdbEncodeFieldValue(f, TEdbVariant::Integer(v), Field(field), kEdbDefaultCodePage);
    default: EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  }
}

void TEdbRecordBuilder::SetDouble(int field, double v) {
  const TEdbFieldDef& f = md_->Fields.at(size_t(field));
  if (f.BaseType == bftSingle || f.BaseType == bftDouble || f.BaseType == bftCurrency ||
      f.BaseType == bftExtended) {
    EdbEncodeFieldValue(f, TEdbVariant::Double(v), Field(field), kEdbDefaultCodePage);
  } else {
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  }
}

void TEdbRecordBuilder::SetBool(int field, bool v) {
  PutU16(Field(field, valuefmt::kBooleanSize), v ? 1 : 0);
}
void TEdbRecordBuilder::SetDate(int field, int32_t day) {
  PutI32(Field(field, valuefmt::kDateSize), day);
}
void TEdbRecordBuilder::SetTime(int field, int32_t ms) {
  PutI32(Field(field, valuefmt::kTimeSize), ms);
}

void TEdbRecordBuilder::SetDateTime(int field, int32_t day, int32_t ms) {
  uint8_t* p = Field(field, valuefmt::kDateTimeSize);
  PutI32(p + valuefmt::kDateTimeDay, day);
  PutI32(p + valuefmt::kDateTimeMs, ms);
}

void TEdbRecordBuilder::SetAnsiString(int field, std::string_view bytes) {
  const auto& f = md_->Fields.at(size_t(field));
  if (f.BaseType != bftFixedChar && f.BaseType != bftString)
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  if (bytes.empty()) return SetNull(field);
  size_t n = std::min<size_t>(bytes.size(), size_t(f.FieldSize));
  std::memcpy(Field(field), bytes.data(), n);
}

void TEdbRecordBuilder::SetEmptyAnsiString(int field) {
  const auto& f = md_->Fields.at(size_t(field));
  if (f.BaseType != bftFixedChar && f.BaseType != bftString)
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  Field(field);  // zero-filled, not NULL
}

void TEdbRecordBuilder::SetWideString(int field, std::u16string_view units) {
  const auto& f = md_->Fields.at(size_t(field));
  if (f.BaseType != bftFixedWideChar && f.BaseType != bftWideString)
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  if (units.empty()) return SetNull(field);
  size_t n = std::min<size_t>(units.size(), size_t(f.FieldSize));
  uint8_t* p = Field(field);
  for (size_t i = 0; i < n; ++i) PutU16(p + 2 * i, uint16_t(units[i]));
}

void TEdbRecordBuilder::SetBytes(int field, std::string_view bytes) {
  const auto& f = md_->Fields.at(size_t(field));
  if (f.BaseType != bftBytes && f.BaseType != bftVarBytes)
    EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  size_t n = std::min<size_t>(bytes.size(), f.StoredSize);
  std::memcpy(Field(field), bytes.data(), n);
}

void TEdbRecordBuilder::SetBlob(int field, std::string bytes) {
  const auto& f = md_->Fields.at(size_t(field));
  if (!f.IsBlob()) EdbRaise(errc::kUnknownDataType, "Unknown DataType: '%s'", "Unknown");
  Field(field);
  if (bytes.empty()) {
    EdbSetFieldNull(stored_.data(), field, true);
    return;
  }
  blobs_[field] = std::move(bytes);
}

// ---- table writer ------------------------------------------------------------------------

TEdbTableWriter::TEdbTableWriter(TEdbFormatWriter& owner, TEdbTableListEntry entry,
                                 TEdbTableMetadata md)
    : owner_(owner), entry_(std::move(entry)), metadata_(std::move(md)) {
  geometry_ =
      TEdbRecordGeometry::Compute(owner_.PageManager().PageDataSize(), metadata_.StoredRecordSize);
  state_.AutoincCounters = metadata_.InitialAutoincCounters();
}

TEdbRecordId TEdbTableWriter::Insert(const TEdbRecordBuilder& record) {
  if (record.Stored().size() != metadata_.StoredRecordSize)
    EdbRaise(errc::kInvalidDatabaseFormat, "Invalid database format");
  auto& pm = owner_.PageManager();
  const int32_t s = owner_.Session();
  std::vector<uint8_t> stored = record.Stored();

  for (size_t i = 0; i < metadata_.Fields.size(); ++i) {
    const auto& f = metadata_.Fields[i];
    if (!f.IsAutoinc()) continue;
    uint8_t* value = stored.data() + f.StoredOffset;
    if (EdbIsFieldNull(stored.data(), int(i))) {
      const int64_t v = state_.NextAutoinc(metadata_, int(i));
      EdbEncodeFieldValue(f, TEdbVariant::Integer(v), value, kEdbDefaultCodePage);
      EdbSetFieldNull(stored.data(), int(i), false);
    } else if (f.StoredSize == valuefmt::kInt64Size || f.StoredSize == valuefmt::kInt32Size) {
      // An explicit value moves the counter on so that later values stay unique.
      const int64_t v = EdbConvertFieldValue(f, value, kEdbDefaultCodePage).AsInteger();
      if (v > state_.AutoincCounters[i]) state_.AutoincCounters[i] = v;
    }
  }
  for (const auto& [field, bytes] : record.Blobs()) {
    IEdbBlobStore* store = owner_.BlobStore();
    if (!store) EdbRaise(errc::kCannotReadBlob, "Cannot read BLOB field value");
    TEdbBlobWriteContext ctx{pm, s, entry_.TableID, metadata_};
    uint8_t ref[kEdbBlobRefSize];
    store->StoreBlob(ctx, field, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ref);
    std::memcpy(stored.data() + metadata_.Fields[size_t(field)].StoredOffset, ref, kEdbBlobRefSize);
    EdbSetFieldNull(stored.data(), field, false);
  }

  // The page that takes the record: the last one written to while it has a free slot.
  int32_t slot = -1;
  TEdbPageRef page;
  if (lastPage_ != kEdbNoPage) {
    page = TEdbPageRef(pm.GetPage(s, lastPage_, true, kEdbPageTypeRecord));
    const uint8_t* bits = page->Data();
    for (uint32_t i = 0; i < geometry_.RecordsPerPage; ++i)
      if (!((bits[i >> 3] >> (i & 7)) & 1)) {
        slot = int32_t(i);
        break;
      }
    if (slot < 0) page.Reset();
  }
  if (slot < 0) {
    page = TEdbPageRef(pm.AddPage(s, kEdbPageTypeRecord));
    page->SetOwnerTableId(entry_.TableID);
    std::memset(page->Data(), 0, page->DataSize());
    lastPage_ = page->PageNo();
    slot = 0;
    AddPageToIndex(lastPage_, 0);
  }
  EdbSetSlotBit(page->Data(), uint32_t(slot), true);
  std::memcpy(page->Data() + geometry_.SlotOffset(uint32_t(slot)), stored.data(), stored.size());
  page->SetDirty(true);
  int32_t pageNo = page->PageNo();
  page.Reset();

  auto it = std::lower_bound(pages_.begin(), pages_.end(), pageNo,
                             [](const TEdbPageIndexEntry& e, int32_t p) { return e.PageNo < p; });
  ++it->RecordCount;
  indexDirty_ = true;
  ++state_.RecordCount;
  ++state_.ChangeCounter;
  stateDirty_ = true;
  MaybeAutoCommit();
  return {pageNo, uint16_t(slot)};
}

void TEdbTableWriter::Delete(const TEdbRecordId& id) {
  auto& pm = owner_.PageManager();
  const int32_t s = owner_.Session();
  auto it = std::lower_bound(pages_.begin(), pages_.end(), id.PageNo,
                             [](const TEdbPageIndexEntry& e, int32_t p) { return e.PageNo < p; });
  if (it == pages_.end() || it->PageNo != id.PageNo)
    EdbRaise(errc::kRecordNotFoundOnPage, "Record not found. PageNo=%d, PageRecordCount=%d",
             id.PageNo, 0);
  {
    TEdbPageRef page(pm.GetPage(s, id.PageNo, true, kEdbPageTypeRecord));
    TEdbRecordBitmap bits(page->Data(), geometry_.RecordsPerPage);
    if (!bits.IsSet(id.Slot))
      EdbRaise(errc::kRecordNotFoundOnPage, "Record not found. PageNo=%d, PageRecordCount=%d",
               id.PageNo, int(it->RecordCount));
    EdbSetSlotBit(page->Data(), id.Slot, false);
    page->SetDirty(true);
  }
  --it->RecordCount;
  --state_.RecordCount;
  ++state_.ChangeCounter;
  stateDirty_ = true;
  indexDirty_ = true;
  if (it->RecordCount == 0) {
    // An emptied page leaves the table: the index never lists a page without records.
    pages_.erase(it);
    pm.DeletePage(s, id.PageNo);
    if (lastPage_ == id.PageNo) lastPage_ = kEdbNoPage;
  }
}

void TEdbTableWriter::AddPageToIndex(int32_t pageNo, uint16_t count) {
  auto it = std::lower_bound(pages_.begin(), pages_.end(), pageNo,
                             [](const TEdbPageIndexEntry& e, int32_t p) { return e.PageNo < p; });
  pages_.insert(it, {pageNo, count});
  indexDirty_ = true;
}

void TEdbTableWriter::MaybeAutoCommit() {
  if (owner_.autoCommitEvery_ && ++pendingInserts_ >= owner_.autoCommitEvery_) owner_.Commit();
}

uint32_t TEdbTableWriter::IndexPageCapacity(bool leaf) const {
  const uint32_t itemSize =
      btree::kPageIndexKeySize + (leaf ? btree::kPageIndexLeafValueSize : btree::kNodeValueSize);
  uint32_t cap = (owner_.PageManager().PageDataSize() - uint32_t(btree::kHeaderSize)) / itemSize;
  if (owner_.maxIndexItems_) cap = std::min(cap, owner_.maxIndexItems_);
  return cap;
}

TEdbPageRef TEdbTableWriter::TakeIndexPage(size_t& reuse) {
  auto& pm = owner_.PageManager();
  const int32_t s = owner_.Session();
  TEdbPageRef ref;
  if (reuse < indexPages_.size()) {
    ref = TEdbPageRef(pm.GetPage(s, indexPages_[reuse++], true, kEdbPageTypeIndex));
  } else {
    ref = TEdbPageRef(pm.AddPage(s, kEdbPageTypeIndex));
    ++reuse;
  }
  ref->SetOwnerTableId(entry_.TableID);
  return ref;
}

void TEdbTableWriter::WriteIndexPage(TEdbPage& page, const TEdbBTreePageHeader& header,
                                     const TIndexItem* items, size_t count) {
  uint8_t* d = page.Data();
  std::memset(d, 0, page.DataSize());
  header.Serialize(d);
  uint8_t* p = d + header.ItemsOffset();
  for (size_t k = 0; k < count; ++k) {
    PutI32(p, items[k].Key);
    p += btree::kPageIndexKeySize;
    if (header.IsLeaf) {
      PutU16(p, uint16_t(items[k].Value));
      p += btree::kPageIndexLeafValueSize;
    } else {
      PutI32(p, items[k].Value);
      p += btree::kNodeValueSize;
    }
  }
  page.SetDirty(true);
}

std::vector<TEdbTableWriter::TIndexItem> TEdbTableWriter::WriteIndexLevel(
    const std::vector<TIndexItem>& items, bool leaf, size_t& reuse, std::vector<int32_t>& used) {
  const uint32_t cap = IndexPageCapacity(leaf);
  const size_t count = (items.size() + cap - 1) / cap;
  std::vector<int32_t> pages(count);
  std::vector<TEdbPageRef> refs(count);
  for (size_t i = 0; i < count; ++i) {
    refs[i] = TakeIndexPage(reuse);
    pages[i] = refs[i]->PageNo();
    used.push_back(pages[i]);
  }
  std::vector<TIndexItem> parents;
  for (size_t i = 0; i < count; ++i) {
    const size_t first = i * cap, last = std::min(items.size(), first + cap);
    TEdbBTreePageHeader h;
    h.IsRoot = h.NewRoot = count == 1;
    h.IsLeaf = leaf;
    h.PrevPage = i ? pages[i - 1] : kEdbNoPage;
    h.NextPage = i + 1 < count ? pages[i + 1] : kEdbNoPage;
    h.ItemCount = uint16_t(last - first);
    WriteIndexPage(*refs[i], h, items.data() + first, last - first);
    // A node item: the first key of the child page and the child's number.
    parents.push_back({items[first].Key, pages[i]});
  }
  return parents;
}

void TEdbTableWriter::SaveIndex() {
  // Levels bottom-up: leaves carry record counts, nodes children; the level of one page is the
  // root.
  std::vector<TIndexItem> items;
  items.reserve(pages_.size());
  for (const auto& e : pages_) items.push_back({e.PageNo, e.RecordCount});
  size_t reuse = 0;
  std::vector<int32_t> used;
  metadata_.RecordPageIndexRoot = kEdbNoPage;
  for (bool leaf = true; !items.empty(); leaf = false) {
    items = WriteIndexLevel(items, leaf, reuse, used);
    if (items.size() == 1) {
      metadata_.RecordPageIndexRoot = items[0].Value;
      break;
    }
  }
  // Index pages the smaller tree no longer needs.
  auto& pm = owner_.PageManager();
  for (size_t i = used.size(); i < indexPages_.size(); ++i)
    pm.DeletePage(owner_.Session(), indexPages_[i]);
  indexPages_ = std::move(used);
  indexDirty_ = false;
}

void TEdbTableWriter::Commit() {
  auto& pm = owner_.PageManager();
  const int32_t s = owner_.Session();
  if (indexDirty_) SaveIndex();
  std::vector<uint8_t> meta = metadata_.Save();
  TEdbInternalDBTransactedAccessFile metaFile(pm, ptTableMetaData, entry_.MetadataPage);
  metaFile.Write(s, meta.data(), int32_t(meta.size()), metadataCompression_, 6);
  if (stateDirty_) {
    std::vector<uint8_t> st = state_.Save();
    TEdbInternalDBTransactedAccessFile stateFile(pm, ptTableMostUpdated, entry_.StatePage);
    stateFile.Write(s, st.data(), int32_t(st.size()));
    stateDirty_ = false;
  }
  pendingInserts_ = 0;
}

// ---- database writer ---------------------------------------------------------------------

TEdbFormatWriter::TEdbFormatWriter() = default;

TEdbFormatWriter::~TEdbFormatWriter() {
  try {
    if (db_.IsOpen()) Close();
  } catch (...) {
  }
}

void TEdbFormatWriter::CreateDatabase(const std::string& fileName, const TEdbPassword& password,
                                      const TEdbCreateOptions& options,
                                      std::unique_ptr<IEdbFileStore> store) {
  db_.Create(fileName, password, options, std::move(store));
}

TEdbTableWriter& TEdbFormatWriter::CreateTable(const std::string& name,
                                               std::vector<TEdbFieldDef> fields,
                                               const std::vector<std::string>& requiredFields,
                                               uint8_t metadataCompression) {
  auto& pm = PageManager();
  const int32_t s = Session();
  if (db_.TableList().IndexOf(name.substr(0, kEdbMaxTableNameLength)) >= 0)
    EdbRaise(errc::kTableExists, "Cannot create table. Table '%s' already exists", name.c_str());

  TEdbTableMetadata md;
  int32_t nextId = 1;
  for (auto& f : fields)
    if (f.ObjectID >= nextId) nextId = f.ObjectID + 1;
  for (auto& f : fields)
    if (f.ObjectID == 0) f.ObjectID = nextId++;
  md.Fields = std::move(fields);
  md.ComputeLayout();
  md.CheckDuplicateNames();
  for (const auto& r : requiredFields) {
    int i = md.FieldIndex(r);
    if (i < 0) EdbRaise(errc::kFieldNotFound, "Field #%d not found", i);
    TEdbConstraintDef c;
    c.Type = ctNotNull;
    c.Name = "NOTNULL_" + md.Fields[size_t(i)].Name;
    c.ObjectID = nextId++;
    c.Ints[2] = md.Fields[size_t(i)].ObjectID;
    md.Constraints.push_back(std::move(c));
  }
  // Fails with 20174 before anything is written when a record cannot fit a page.
  TEdbRecordGeometry::Compute(pm.PageDataSize(), md.StoredRecordSize);

  TEdbTableListEntry entry;
  entry.Name = name.substr(0, kEdbMaxTableNameLength);
  entry.TableID = db_.NextObjectID();
  TEdbInternalDBTransactedAccessFile metaFile(pm, ptTableMetaData);
  entry.MetadataPage = metaFile.Create(s);
  TEdbInternalDBTransactedAccessFile stateFile(pm, ptTableMostUpdated);
  entry.StatePage = stateFile.Create(s);
  TEdbInternalDBDirectAccessFile lockFile(pm, ptTableLocks);
  entry.LockPage = lockFile.Create(s, kEdbTableLockBytesPerSlot * db_.MaxConnections());

  auto writer = std::unique_ptr<TEdbTableWriter>(new TEdbTableWriter(*this, entry, std::move(md)));
  writer->metadataCompression_ = metadataCompression;
  writer->stateDirty_ = true;
  writer->Commit();
  db_.TableList().Add(s, entry);
  pm.Commit(s);
  tables_.push_back(std::move(writer));
  return *tables_.back();
}

TEdbTableWriter& TEdbFormatWriter::Table(std::string_view name) {
  for (auto& t : tables_)
    if (EdbSameNameAscii(t->Entry().Name, name)) return *t;
  EdbRaise(errc::kTableNotFound, "Table '%s' not exists.", std::string(name).c_str());
}

void TEdbFormatWriter::Commit() {
  for (auto& t : tables_) t->Commit();
  PageManager().Commit(Session());
}

void TEdbFormatWriter::Close() {
  if (!db_.IsOpen()) return;
  Commit();
  tables_.clear();
  db_.Close();
}

}  // namespace edb
