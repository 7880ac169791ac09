// Opens arbitrary bytes as a database held in memory, opens every table of its table list and
// walks all its records forwards (and a few backwards, by record number). Only engine
// exceptions may come out; crashes, hangs and huge allocations are findings.

#include <cstdint>
#include <memory>
#include <vector>

#include "EdbCursor.h"
#include "EdbDiskDatabase.h"
#include "EdbException.h"

using namespace edb;

namespace {

constexpr int kMaxRecordsPerTable = 200000;

void WalkTable(TEdbDiskDatabaseData& db, const std::string& name) {
  auto table = TEdbTableData::Load(db, name, 0);
  table->Metadata.CheckDuplicateNames();
  volatile uint8_t sink = 0;
  {
    TEdbRecordCursor c(db, *table, 0);
    int n = 0;
    for (bool ok = c.First(); ok && n < kMaxRecordsPerTable; ok = c.Next(), ++n) {
      const uint8_t* rec = c.Record();
      if (table->Metadata.StoredRecordSize)
        sink = sink ^ rec[0] ^ rec[table->Metadata.StoredRecordSize - 1];
    }
  }
  TEdbDiskRecordManager rm(db.PageManager(), *table, 0);
  std::vector<uint8_t> buffer(table->Metadata.BufferRecordSize);
  TEdbRecordId id;
  TEdbNavResult r = rm.Navigate(TEdbNavDirection::Prior, false, true, id, buffer.data());
  for (int i = 0; i < 16 && r == nrFound; ++i) {
    rm.RecordIdToRecNo(id);
    r = rm.Navigate(TEdbNavDirection::Prior, false, false, id, buffer.data());
  }
  if (table->RecordCount() > 0) rm.RecNoToRecordId(1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto bytes = std::make_shared<std::vector<uint8_t>>(data, data + size);
  try {
    TEdbDiskDatabaseData db;
    TEdbOpenOptions options;
    options.CacheCapacity = 64;
    db.Open("fuzz.abs", TEdbPassword{}, options, std::make_unique<TEdbMemoryFileStore>(bytes));
    db.Connect();
    for (const std::string& name : db.GetTableNames()) {
      try {
        WalkTable(db, name);
      } catch (const EEdbException&) {
      }
    }
  } catch (const EEdbException&) {
  }
  return 0;
}
