// Fuzz entry: arbitrary bytes as a database file; every table is opened and walked, and every
// field of every record (BLOBs included) is read. Engine errors are expected; crashes, hangs and
// sanitizer reports are not.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "EdbMain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto image = std::make_shared<std::vector<uint8_t>>(data, data + size);
  try {
    edb::TEdbSession session;
    edb::TEdbDatabase db(&session);
    db.SetDatabaseName("Fuzz");
    db.SetDatabaseFileName("fuzz.abs");
    db.SetMemoryImage(image);
    db.SetSilentMode(true);
    db.Open();
    std::vector<std::string> names;
    try {
      names = db.GetTableNames();
    } catch (const std::exception&) {
      return 0;
    }
    if (names.size() > 16) names.resize(16);
    for (const std::string& name : names) {
      edb::TEdbTable t(&session);
      t.SetDatabaseName("Fuzz");
      t.SetTableName(name);
      try {
        t.Open();
        (void)t.RecordCount();
        for (int rec = 0; !t.Eof() && rec < 2000; ++rec) {
          for (int i = 0; i < t.FieldCount(); ++i) {
            try {
              edb::TEdbVariant v = t.Fields(i).AsVariant();
              if (!v.IsNull()) (void)v.ToString();
            } catch (const std::exception&) {
              // A failing field leaves the others readable.
            }
          }
          t.Next();
        }
      } catch (const std::exception&) {
      }
      t.Close();
    }
  } catch (const std::exception&) {
  }
  return 0;
}
