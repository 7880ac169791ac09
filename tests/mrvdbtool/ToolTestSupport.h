#pragma once
// What the tests that run the built mrvdbtool share: counting the rows of a SQLite target table.
#include <sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace tooltest {

// Rows of `table` in the SQLite file `db`; -1 when the table cannot be read.
inline int64_t Count(const std::filesystem::path& db, const std::string& table) {
  sqlite3* h = nullptr;
  sqlite3_open(db.string().c_str(), &h);
  sqlite3_stmt* st = nullptr;
  int64_t n = -1;
  if (sqlite3_prepare_v2(h, ("SELECT COUNT(*) FROM " + table).c_str(), -1, &st, nullptr) ==
          SQLITE_OK &&
      sqlite3_step(st) == SQLITE_ROW)
    n = sqlite3_column_int64(st, 0);
  sqlite3_finalize(st);
  sqlite3_close(h);
  return n;
}

}  // namespace tooltest
