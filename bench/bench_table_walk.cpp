// Walk of a 1,000,000-row GREY table reading every field (AsVariant), beside two baselines from
// the same run: a plain sequential read of the same file, and SQLite scanning the same rows
// (same values) from its own file.
//
//   bench_table_walk [--rows N] [--dir DIR] [--repeat K]
//
// The two database files are written once into DIR (default: the temporary folder) and reused
// while their row count matches. Each measurement is repeated K times (default 3) and the best
// time is kept, so all three read from a warm operating-system cache.

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "EdbFormatWriter.h"
#include "EdbMain.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Row {
  std::string sig, sig24, ip, sender, recipient;
  int32_t createdDay, createdMs, lastDay, lastMs;
  bool hasSig24, hasLast;
};

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::string Hex(uint64_t a, uint64_t b) {
  static const char k[] = "0123456789abcdef";
  std::string s(32, '0');
  for (int i = 0; i < 16; ++i) s[size_t(i)] = k[(a >> (4 * i)) & 15];
  for (int i = 0; i < 16; ++i) s[size_t(16 + i)] = k[(b >> (4 * i)) & 15];
  return s;
}

// Deterministic row i (the same for both files).
Row MakeRow(int64_t i) {
  static const char* const kLocal[] = {"john.smith", "mary",    "sales",   "support", "j.doe",
                                       "anna.k",     "billing", "noreply", "office",  "peter_w"};
  static const char* const kDomain[] = {"example.com",      "example.org",  "mail.example.net",
                                        "corp.example.com", "shop.example", "eu.example.com"};
  const uint64_t h = Mix(uint64_t(i) * 7 + 1), g = Mix(h), f = Mix(g);
  Row r;
  r.sig = Hex(h, g);
  r.hasSig24 = (h % 10) < 6;
  if (r.hasSig24) r.sig24 = Hex(g, f);
  r.ip = std::to_string(1 + h % 223) + "." + std::to_string((h >> 8) & 255) + "." +
         std::to_string((h >> 16) & 255) + "." + std::to_string(1 + (h >> 24) % 254);
  r.sender = std::string(kLocal[g % 10]) + std::to_string(g % 1000) + "@" + kDomain[(g >> 12) % 6];
  r.recipient = std::string(kLocal[f % 10]) + "@" + kDomain[(f >> 12) % 6];
  r.createdDay = edb::EdbDateToDayNumber(2026, 12, 1) - 1 - int32_t(f % 365);
  r.createdMs = int32_t((f >> 16) % 86400) * 1000;
  r.hasLast = (f >> 40) % 50 != 0;
  r.lastDay = r.createdDay + 1;
  r.lastMs = int32_t((f >> 20) % 86400000);
  return r;
}

std::string Iso(int32_t day, int32_t ms) {
  return edb::EdbFormatDateTime(edb::EdbStoredToParts(day, ms), edb::TEdbDateKind::DateTime);
}

void WriteEdb(const std::string& path, int64_t rows) {
  using edb::EdbMakeFieldDef;
  fs::remove(path);
  edb::TEdbFormatWriter w;
  w.CreateDatabase(path);
  auto& t = w.CreateTable("GREY", {EdbMakeFieldDef("GREY_ID", edb::aftAutoinc),
                                   EdbMakeFieldDef("GREY_SIGNATURE", edb::aftString, 32),
                                   EdbMakeFieldDef("GREY_SIGNATURE_24", edb::aftString, 32),
                                   EdbMakeFieldDef("GREY_IP", edb::aftString, 45),
                                   EdbMakeFieldDef("GREY_SENDER", edb::aftString, 255),
                                   EdbMakeFieldDef("GREY_RECIPIENT", edb::aftString, 255),
                                   EdbMakeFieldDef("GREY_CREATED", edb::aftDateTime),
                                   EdbMakeFieldDef("GREY_LASTHIT", edb::aftDateTime)});
  for (int64_t i = 0; i < rows; ++i) {
    const Row r = MakeRow(i);
    auto b = t.NewRecord();
    b.SetAnsiString(1, r.sig);
    if (r.hasSig24) b.SetAnsiString(2, r.sig24);
    b.SetAnsiString(3, r.ip);
    b.SetAnsiString(4, r.sender);
    b.SetAnsiString(5, r.recipient);
    b.SetDateTime(6, r.createdDay, r.createdMs);
    if (r.hasLast) b.SetDateTime(7, r.lastDay, r.lastMs);
    t.Insert(b);
  }
  w.Close();
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    std::fprintf(stderr, "SQLite %s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

void WriteSqlite(const std::string& path, int64_t rows) {
  fs::remove(path);
  sqlite3* db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db,
                     "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                     "CREATE TABLE GREY(GREY_ID INTEGER PRIMARY KEY, GREY_SIGNATURE VARCHAR(32),"
                     " GREY_SIGNATURE_24 VARCHAR(32), GREY_IP VARCHAR(45), GREY_SENDER"
                     " VARCHAR(255), GREY_RECIPIENT VARCHAR(255), GREY_CREATED TEXT,"
                     " GREY_LASTHIT TEXT); BEGIN;",
                     nullptr, nullptr, nullptr),
        db, "create");
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO GREY VALUES(?,?,?,?,?,?,?,?)", -1, &st, nullptr), db,
        "prepare");
  for (int64_t i = 0; i < rows; ++i) {
    const Row r = MakeRow(i);
    const std::string created = Iso(r.createdDay, r.createdMs), last = Iso(r.lastDay, r.lastMs);
    sqlite3_bind_int64(st, 1, i + 1);
    sqlite3_bind_text(st, 2, r.sig.c_str(), -1, SQLITE_TRANSIENT);
    if (r.hasSig24)
      sqlite3_bind_text(st, 3, r.sig24.c_str(), -1, SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, 3);
    sqlite3_bind_text(st, 4, r.ip.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 5, r.sender.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 6, r.recipient.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 7, created.c_str(), -1, SQLITE_TRANSIENT);
    if (r.hasLast)
      sqlite3_bind_text(st, 8, last.c_str(), -1, SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(st, 8);
    Check(sqlite3_step(st), db, "insert");
    sqlite3_reset(st);
  }
  sqlite3_finalize(st);
  Check(sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
}

int64_t CountEdbRows(const std::string& path) {
  try {
    edb::TEdbDatabase db;
    db.SetDatabaseName("bench_count");
    db.SetDatabaseFileName(path);
    db.SetSilentMode(true);
    db.Open();
    edb::TEdbTable t;
    t.SetDatabaseName("bench_count");
    t.SetTableName("GREY");
    t.Open();
    return t.RecordCount();
  } catch (const std::exception&) {
    return -1;
  }
}

int64_t CountSqliteRows(const std::string& path) {
  if (!fs::exists(path)) return -1;
  sqlite3* db = nullptr;
  int64_t n = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM GREY", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW) {
      n = sqlite3_column_int64(st, 0);
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return n;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Reads the file front to back in 1 MiB pieces; returns the bytes read.
uint64_t SequentialRead(const std::string& path, uint64_t& checksum) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return 0;
  std::vector<char> buf(1 << 20);
  uint64_t total = 0;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) {
    total += n;
    checksum += uint8_t(buf[n - 1]);
  }
  std::fclose(f);
  return total;
}

// Walks the table reading every field; returns the records visited.
int64_t EdbWalk(const std::string& path, uint64_t& checksum) {
  edb::TEdbDatabase db;
  db.SetDatabaseName("bench_walk");
  db.SetDatabaseFileName(path);
  db.SetSilentMode(true);
  db.Open();
  edb::TEdbTable t;
  t.SetDatabaseName("bench_walk");
  t.SetTableName("GREY");
  t.Open();
  std::vector<edb::TEdbField*> fields;
  for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(&t.Fields(i));
  int64_t n = 0;
  while (!t.Eof()) {
    for (edb::TEdbField* f : fields) {
      const edb::TEdbVariant v = f->AsVariant();
      switch (v.Type()) {
        case edb::TEdbVarType::Text: checksum += v.AsText().size(); break;
        case edb::TEdbVarType::Integer: checksum += uint64_t(v.AsInteger()); break;
        case edb::TEdbVarType::DateTime: checksum += uint64_t(v.StoredMs()); break;
        default: break;
      }
    }
    ++n;
    t.Next();
  }
  return n;
}

int64_t SqliteScan(const std::string& path, uint64_t& checksum) {
  sqlite3* db = nullptr;
  Check(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), db, "open");
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db, "SELECT * FROM GREY", -1, &st, nullptr), db, "prepare");
  const int cols = sqlite3_column_count(st);
  int64_t n = 0;
  while (sqlite3_step(st) == SQLITE_ROW) {
    for (int c = 0; c < cols; ++c) {
      switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER: checksum += uint64_t(sqlite3_column_int64(st, c)); break;
        case SQLITE_TEXT:
          checksum += uint64_t(sqlite3_column_bytes(st, c));
          (void)sqlite3_column_text(st, c);
          break;
        default: break;
      }
    }
    ++n;
  }
  sqlite3_finalize(st);
  sqlite3_close(db);
  return n;
}

struct Result {
  double best = 1e100;
  int64_t rows = 0;
  uint64_t bytes = 0;
};

template <class F>
Result Measure(int repeat, F f) {
  Result r;
  for (int k = 0; k < repeat; ++k) {
    const auto a = Clock::now();
    f(r);
    r.best = std::min(r.best, Seconds(a, Clock::now()));
  }
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  int64_t rows = 1000000;
  int repeat = 3;
  std::string dir = fs::temp_directory_path().string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--rows"))
      rows = std::atoll(argv[i + 1]);
    else if (!std::strcmp(argv[i], "--dir"))
      dir = argv[i + 1];
    else if (!std::strcmp(argv[i], "--repeat"))
      repeat = std::max(1, std::atoi(argv[i + 1]));
  }
  fs::create_directories(dir);
  const std::string edbPath =
      (fs::path(dir) / ("bench_grey_" + std::to_string(rows) + ".abs")).string();
  const std::string sqlPath =
      (fs::path(dir) / ("bench_grey_" + std::to_string(rows) + ".sqlite")).string();
  if (CountEdbRows(edbPath) != rows) {
    std::printf("writing %s ...\n", edbPath.c_str());
    WriteEdb(edbPath, rows);
  }
  if (CountSqliteRows(sqlPath) != rows) {
    std::printf("writing %s ...\n", sqlPath.c_str());
    WriteSqlite(sqlPath, rows);
  }
  const double edbMB = double(fs::file_size(edbPath)) / 1e6;
  const double sqlMB = double(fs::file_size(sqlPath)) / 1e6;

  uint64_t sum = 0;
  const Result seq = Measure(repeat, [&](Result& r) { r.bytes = SequentialRead(edbPath, sum); });
  const Result walk = Measure(repeat, [&](Result& r) { r.rows = EdbWalk(edbPath, sum); });
  const Result lite = Measure(repeat, [&](Result& r) { r.rows = SqliteScan(sqlPath, sum); });
  if (walk.rows != rows || lite.rows != rows) {
    std::fprintf(stderr, "row counts differ: walk %lld, sqlite %lld, expected %lld\n",
                 (long long)walk.rows, (long long)lite.rows, (long long)rows);
    return 1;
  }

  const double seqMBs = double(seq.bytes) / 1e6 / seq.best;
  const double walkRows = double(walk.rows) / walk.best, walkMBs = edbMB / walk.best;
  const double liteRows = double(lite.rows) / lite.best, liteMBs = sqlMB / lite.best;
  std::printf("rows %lld; .abs file %.1f MB, SQLite file %.1f MB; best of %d (checksum %llu)\n",
              (long long)rows, edbMB, sqlMB, repeat, (unsigned long long)(sum & 0xFFFF));
  std::printf("sequential read of the .abs file : %8.3f s  %10.1f MB/s\n", seq.best, seqMBs);
  std::printf("table walk, every field AsVariant: %8.3f s  %10.0f rows/s  %8.1f MB/s\n", walk.best,
              walkRows, walkMBs);
  std::printf("SQLite scan, every column        : %8.3f s  %10.0f rows/s  %8.1f MB/s\n", lite.best,
              liteRows, liteMBs);
  std::printf("walk / SQLite (rows/s)           : %8.2f\n", walkRows / liteRows);
  std::printf("walk / sequential read (MB/s)    : %8.2f\n", walkMBs / seqMBs);
  return 0;
}
