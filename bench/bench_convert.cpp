// Conversion benchmark: a GREY database of N rows (default 1,000,000) written by the format
// writer is converted into a fresh SQLite file by the record transfer; the baseline, measured in
// the same run, is a minimal loop inserting the same rows with one prepared statement in
// 1000-row transactions into a fresh SQLite file with the same schema.
//
//   bench_convert [ROWS] [WORKDIR]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DbTransfer_un.h"
#include "EdbFormatWriter.h"

namespace fs = std::filesystem;

namespace {

const char* const kSchema =
    "CREATE TABLE GREY(GREY_ID INTEGER PRIMARY KEY AUTOINCREMENT, GREY_SIGNATURE VARCHAR(32), "
    "GREY_SIGNATURE_24 VARCHAR(32), GREY_IP VARCHAR(45), GREY_SENDER VARCHAR(255), "
    "GREY_RECIPIENT VARCHAR(255), GREY_CREATED DATETIME, GREY_LASTHIT DATETIME);";

struct Row {
  std::string sig, sig24, ip, sender, recipient;
  int32_t createdDay, createdMs, hitDay, hitMs;
};

Row MakeRow(int64_t i) {
  char sig[40], sig24[40];
  std::snprintf(sig, sizeof sig, "%016llx%016llx", (unsigned long long)(i * 0x9E3779B97F4A7C15ull),
                (unsigned long long)(i * 0xC2B2AE3D27D4EB4Full));
  std::snprintf(sig24, sizeof sig24, "%016llx%016llx",
                (unsigned long long)(i * 0x165667B19E3779F9ull),
                (unsigned long long)(i * 0x27D4EB2F165667C5ull));
  Row r;
  r.sig = sig;
  r.sig24 = sig24;
  r.ip = std::to_string(10 + i % 200) + "." + std::to_string(i / 65536 % 256) + "." +
         std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
  r.sender = "sender" + std::to_string(i % 50000) + "@example" + std::to_string(i % 97) + ".com";
  r.recipient = "user" + std::to_string(i % 3000) + "@mrv-customer.example";
  r.createdDay = 739000 + int32_t(i % 365);
  r.createdMs = int32_t((i * 7919) % 86400000);
  r.hitDay = r.createdDay + int32_t(i % 30);
  r.hitMs = int32_t((i * 104729) % 86400000);
  return r;
}

// "YYYY-MM-DD HH:MM:SS.mmm" of a stored date-time (what the transfer binds for SQLite).
std::string StampText(int32_t day, int32_t ms) {
  int64_t z = int64_t(day) - 719163 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", int(y), int(m), int(d),
                ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return buf;
}

void WriteSource(const fs::path& file, int64_t rows) {
  using namespace edb;
  fs::remove(file);
  TEdbFormatWriter w;
  w.CreateDatabase(file.string());
  TEdbTableWriter& t = w.CreateTable(
      "GREY",
      {EdbMakeFieldDef("GREY_ID", aftAutoinc), EdbMakeFieldDef("GREY_SIGNATURE", aftString, 32),
       EdbMakeFieldDef("GREY_SIGNATURE_24", aftString, 32),
       EdbMakeFieldDef("GREY_IP", aftString, 45), EdbMakeFieldDef("GREY_SENDER", aftString, 255),
       EdbMakeFieldDef("GREY_RECIPIENT", aftString, 255),
       EdbMakeFieldDef("GREY_CREATED", aftDateTime), EdbMakeFieldDef("GREY_LASTHIT", aftDateTime)});
  for (int64_t i = 0; i < rows; ++i) {
    Row r = MakeRow(i);
    TEdbRecordBuilder b = t.NewRecord();
    b.SetAnsiString(1, r.sig);
    b.SetAnsiString(2, r.sig24);
    b.SetAnsiString(3, r.ip);
    b.SetAnsiString(4, r.sender);
    b.SetAnsiString(5, r.recipient);
    b.SetDateTime(6, r.createdDay, r.createdMs);
    b.SetDateTime(7, r.hitDay, r.hitMs);
    t.Insert(b);
  }
  w.Close();
}

void Check(int rc, sqlite3* db, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(1);
  }
}

sqlite3* FreshTarget(const fs::path& file) {
  fs::remove(file);
  sqlite3* db = nullptr;
  Check(sqlite3_open(file.string().c_str(), &db), db, "open");
  Check(sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr), db, "schema");
  return db;
}

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The baseline: the same rows, already in memory, inserted with one prepared statement.
double Baseline(const fs::path& file, const std::vector<Row>& rows) {
  sqlite3* db = FreshTarget(file);
  const auto t0 = std::chrono::steady_clock::now();
  sqlite3_stmt* st = nullptr;
  Check(sqlite3_prepare_v2(db,
                           "INSERT INTO GREY(GREY_SIGNATURE, GREY_SIGNATURE_24, GREY_IP, "
                           "GREY_SENDER, GREY_RECIPIENT, GREY_CREATED, GREY_LASTHIT) VALUES(?, ?, "
                           "?, ?, ?, ?, ?);",
                           -1, &st, nullptr),
        db, "prepare");
  size_t n = 0;
  for (const Row& r : rows) {
    if (n % 1000 == 0) Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    const std::string created = StampText(r.createdDay, r.createdMs);
    const std::string hit = StampText(r.hitDay, r.hitMs);
    sqlite3_bind_text(st, 1, r.sig.data(), int(r.sig.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, r.sig24.data(), int(r.sig24.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 3, r.ip.data(), int(r.ip.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 4, r.sender.data(), int(r.sender.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 5, r.recipient.data(), int(r.recipient.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 6, created.data(), int(created.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 7, hit.data(), int(hit.size()), SQLITE_TRANSIENT);
    Check(sqlite3_step(st), db, "insert");
    sqlite3_reset(st);
    if (++n % 1000 == 0) Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  }
  if (n % 1000 != 0) Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_finalize(st);
  const auto t1 = std::chrono::steady_clock::now();
  sqlite3_close(db);
  return Seconds(t0, t1);
}

// The conversion: connect and count, check the source, transfer.
double Conversion(const fs::path& file, const fs::path& source, int64_t rows) {
  sqlite3_close(FreshTarget(file));
  mrv::TDbConversionInfo info;
  info.Task(mrv::dkGrey).Selected = true;
  info.Task(mrv::dkGrey).TargetConnectionString = "Provider=SQLite;Data Source=" + file.string();
  const auto t0 = std::chrono::steady_clock::now();
  mrv::TDbTransfer t(info, mrv::dkGrey, 1252);
  t.ConnectTarget();
  t.CheckSource(source.string());
  t.Transfer(source.string());
  const auto t1 = std::chrono::steady_clock::now();
  if (!info.IsOk() || t.InsertedCount() != rows) {
    std::fprintf(stderr, "conversion failed: %s (inserted %d)\n", info.GetError().c_str(),
                 t.InsertedCount());
    std::exit(1);
  }
  return Seconds(t0, t1);
}

}  // namespace

int main(int argc, char** argv) {
  const int64_t rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  const fs::path dir =
      argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "mrv_bench_convert";
  fs::create_directories(dir);
  const fs::path source = dir / "greylist.abs";

  std::printf("Writing a GREY database of %lld rows...\n", static_cast<long long>(rows));
  WriteSource(source, rows);
  std::vector<Row> mem;
  mem.reserve(size_t(rows));
  for (int64_t i = 0; i < rows; ++i) mem.push_back(MakeRow(i));

  // Alternate the two measurements and keep the best of each, so that a busy machine
  // disadvantages neither.
  double best[2] = {1e300, 1e300};
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 2;
  for (int round = 0; round < rounds; ++round) {
    best[0] = std::min(best[0], Baseline(dir / "baseline.db", mem));
    best[1] = std::min(best[1], Conversion(dir / "converted.db", source, rows));
  }
  const double ratio = best[1] / best[0];
  std::printf("baseline   (prepared SQLite inserts): %8.3f s  %10.0f rows/s\n", best[0],
              rows / best[0]);
  std::printf("conversion (record transfer)        : %8.3f s  %10.0f rows/s\n", best[1],
              rows / best[1]);
  std::printf("ratio conversion/baseline           : %8.3f  (target <= 1.30)\n", ratio);
  fs::remove(dir / "baseline.db");
  fs::remove(dir / "converted.db");
  return ratio <= 1.3 ? 0 : 2;
}
