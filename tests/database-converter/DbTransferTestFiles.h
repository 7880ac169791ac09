#pragma once
// Source databases for the record-transfer tests, written with the project's format writer,
// and a few independent helpers (calendar text of a stored date-time, direct SQLite reads)
// that do not go through the code under test.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "DbTransfer_un.h"
#include "EdbFormatWriter.h"

namespace transfertest {

// A column value of a source row: nullopt is NULL.
using Text = std::optional<std::string>;  // ANSI bytes (Windows-1252)
struct Stamp {
  int32_t Day;  // day number, 0001-01-01 = 1
  int32_t Ms;   // milliseconds since midnight
};

struct SourceField {
  std::string Name;
  bool IsDate = false;
  int Size = 255;
};

struct SourceRow {
  std::vector<Text> Texts;    // text fields in field order (dates skipped)
  std::vector<Stamp> Stamps;  // date fields in field order
};

struct SourceTable {
  std::string Name;
  std::vector<SourceField> Fields;
  std::vector<SourceRow> Rows;
};

// The Greylisting table as the mail filter lays it out (the fields the transfer reads), with
// `rows`.
inline SourceTable GreySourceTable(std::vector<SourceRow> rows = {}) {
  return {"GREY",
          {{"GREY_SIGNATURE", false, 32},
           {"GREY_IP", false, 45},
           {"GREY_SENDER"},
           {"GREY_RECIPIENT"},
           {"GREY_CREATED", true},
           {"GREY_LASTHIT", true}},
          std::move(rows)};
}

// Writes one database with the given tables (encrypted when `password` is not empty). Every
// table gets an autoinc ID first.
inline void WriteSource(const std::filesystem::path& file, const std::vector<SourceTable>& tables,
                        const std::string& password = {}) {
  using namespace edb;
  std::filesystem::remove(file);
  TEdbFormatWriter w;
  w.CreateDatabase(file.string(), TEdbPassword{password});
  for (const SourceTable& t : tables) {
    std::vector<TEdbFieldDef> defs{EdbMakeFieldDef("ID", aftAutoinc)};
    for (const SourceField& f : t.Fields)
      defs.push_back(f.IsDate ? EdbMakeFieldDef(f.Name, aftDateTime)
                              : EdbMakeFieldDef(f.Name, aftString, f.Size));
    TEdbTableWriter& tw = w.CreateTable(t.Name, defs);
    for (const SourceRow& row : t.Rows) {
      TEdbRecordBuilder r = tw.NewRecord();
      size_t ti = 0, di = 0;
      for (size_t i = 0; i < t.Fields.size(); ++i) {
        const int field = static_cast<int>(i) + 1;
        if (t.Fields[i].IsDate) {
          const Stamp& s = row.Stamps.at(di++);
          r.SetDateTime(field, s.Day, s.Ms);
        } else {
          const Text& v = row.Texts.at(ti++);
          if (v && v->empty())
            r.SetEmptyAnsiString(field);  // empty, not NULL
          else if (v)
            r.SetAnsiString(field, *v);
        }
      }
      tw.Insert(r);
    }
  }
  w.Close();
}

// Calendar text "YYYY-MM-DD HH:MM:SS.mmm" of a stored date-time, by the days-to-civil
// algorithm (independent of the engine's and the access layer's date code).
inline std::string StampText(const Stamp& s) {
  // Day 1 is 0001-01-01; 719163 is 1970-01-01.
  int64_t z = static_cast<int64_t>(s.Day) - 719163 + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", static_cast<int>(y),
                static_cast<int>(m), static_cast<int>(d), s.Ms / 3600000, s.Ms / 60000 % 60,
                s.Ms / 1000 % 60, s.Ms % 1000);
  return buf;
}

// Windows-1252 bytes -> UTF-8 for the letters the tests use (ASCII and Latin-1 range).
inline std::string Latin1ToUtf8(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Direct access to a SQLite file, for setting up targets and reading them back.
class SqliteFile {
 public:
  explicit SqliteFile(const std::filesystem::path& file) {
    if (sqlite3_open(file.string().c_str(), &db_) != SQLITE_OK)
      throw std::runtime_error("cannot open " + file.string());
  }
  ~SqliteFile() { sqlite3_close(db_); }
  SqliteFile(const SqliteFile&) = delete;
  SqliteFile& operator=(const SqliteFile&) = delete;

  void Exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err ? err : "?";
      sqlite3_free(err);
      throw std::runtime_error(msg + " in " + sql);
    }
  }
  // Every row of a query as texts (NULL as nullopt).
  std::vector<std::vector<Text>> Query(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string(sqlite3_errmsg(db_)) + " in " + sql);
    std::vector<std::vector<Text>> rows;
    while (sqlite3_step(st) == SQLITE_ROW) {
      std::vector<Text> row;
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        if (sqlite3_column_type(st, c) == SQLITE_NULL)
          row.push_back(std::nullopt);
        else
          row.push_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, c))));
      }
      rows.push_back(std::move(row));
    }
    sqlite3_finalize(st);
    return rows;
  }
  int64_t Count(const std::string& table) {
    return std::stoll(*Query("SELECT COUNT(*) FROM " + table)[0][0]);
  }

 private:
  sqlite3* db_ = nullptr;
};

// The target schema as an administrator would prepare it for SQLite.
inline const char* SqliteTargetSchema() {
  return "CREATE TABLE ASWL(ASWL_ID INTEGER PRIMARY KEY AUTOINCREMENT, ASWL_SENDER_EMAIL "
         "VARCHAR(255), ASWL_SENDER_DOMAIN VARCHAR(255), ASWL_RECIPIENT_EMAIL VARCHAR(255), "
         "ASWL_LASTHIT DATETIME);"
         "CREATE TABLE GREY(GREY_ID INTEGER PRIMARY KEY AUTOINCREMENT, GREY_SIGNATURE VARCHAR(32), "
         "GREY_SIGNATURE_24 VARCHAR(32), GREY_IP VARCHAR(45), GREY_SENDER VARCHAR(255), "
         "GREY_RECIPIENT VARCHAR(255), GREY_CREATED DATETIME, GREY_LASTHIT DATETIME);"
         "CREATE TABLE DhaHistory(Id INTEGER PRIMARY KEY AUTOINCREMENT, IpAddress VARCHAR(45), "
         "AttemptTime DATETIME);"
         "CREATE TABLE DhaBlacklist(Id INTEGER PRIMARY KEY AUTOINCREMENT, IpAddress VARCHAR(15), "
         "LastUpdateTime DATETIME);"
         "CREATE TABLE HoneypotBlacklist(Id INTEGER PRIMARY KEY AUTOINCREMENT, IpAddress "
         "VARCHAR(45), LastUpdateTime DATETIME);";
}

// A fresh folder with a SQLite target holding the prepared schema, and a run's settings record
// that collects the status lines and progress reports.
class TransferFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
           (std::string("mrvxfer_") + info->test_suite_name() + "_" + info->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    target_ = dir_ / "target.db";
    SqliteFile(target_).Exec(SqliteTargetSchema());
    info_.OnStatus = [this](const std::string& s) { status_.push_back(s); };
    info_.OnProgress = [this](int64_t d, int64_t t) {
      progress_.emplace_back(d, t);
      if (onProgress_) onProgress_(d, t);
    };
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string TargetString() const { return "Provider=SQLite;Data Source=" + target_.string(); }
  void Select(mrv::TDatabaseKind kind) {
    info_.Task(kind).Selected = true;
    info_.Task(kind).TargetConnectionString = TargetString();
  }
  // The three operations in the order of a run.
  void RunAll(mrv::TDbTransfer& t, const std::filesystem::path& source) {
    t.ConnectTarget();
    t.CheckSource(source.string());
    t.Transfer(source.string());
  }
  bool HasStatus(const std::string& s) const {
    return std::find(status_.begin(), status_.end(), s) != status_.end();
  }
  long CountStatus(const std::string& s) const {
    return std::count(status_.begin(), status_.end(), s);
  }

  std::filesystem::path dir_, target_;
  mrv::TDbConversionInfo info_;
  std::vector<std::string> status_;
  std::vector<std::pair<int64_t, int64_t>> progress_;
  std::function<void(int64_t, int64_t)> onProgress_;
};

}  // namespace transfertest
