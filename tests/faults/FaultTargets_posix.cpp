// Targets of the fault matrix: SQLite files read through the SQLite library, PostgreSQL
// databases created and read through psql.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <map>

#include <unistd.h>

#include "FaultRig.h"

namespace faults {

namespace {

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::map<std::string, std::string> ConnectionPairs(const std::string& text) {
  std::map<std::string, std::string> pairs;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find(';', at);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(at, end - at);
    const size_t eq = part.find('=');
    if (eq != std::string::npos) pairs[part.substr(0, eq)] = part.substr(eq + 1);
    at = end + 1;
  }
  return pairs;
}

}  // namespace

std::string SqliteTarget(const fs::path& file) {
  return "Provider=SQLite;Data Source=" + file.string();
}

void SqliteExec(const fs::path& file, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  char* error = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error ? error : "") << "\n" << sql;
  sqlite3_free(error);
  sqlite3_close(db);
}

std::int64_t SqliteCount(const fs::path& file, const std::string& table) {
  sqlite3* db = nullptr;
  std::int64_t n = -1;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, ("SELECT COUNT(*) FROM " + table).c_str(), -1, &st, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
      n = sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return n;
}

std::vector<std::string> SqliteIps(const fs::path& file, std::int64_t skip) {
  std::vector<std::string> ips;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_busy_timeout(db, 10000);
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT IpAddress FROM HoneypotBlacklist ORDER BY Id LIMIT -1 OFFSET " +
                            std::to_string(skip);
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
      while (sqlite3_step(st) == SQLITE_ROW)
        ips.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return ips;
}

// The table as an administrator prepares it; write-ahead logging lets the test count rows
// while the tool writes without ever holding up its commits.
void SqliteCreateHoneypot(const fs::path& file, int presetRows) {
  SqliteExec(file, "PRAGMA journal_mode=WAL;");
  std::string sql =
      "CREATE TABLE HoneypotBlacklist(Id INTEGER PRIMARY KEY AUTOINCREMENT, IpAddress VARCHAR(45), "
      "LastUpdateTime DATETIME);";
  for (int i = 0; i < presetRows; ++i)
    sql += "INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime) VALUES('192.0.2." +
           std::to_string(i % 250) + "', '2020-01-01 00:00:" + std::to_string(10 + i % 50) + "');";
  SqliteExec(file, "BEGIN;" + sql + "COMMIT;");
}

// ---- PostgreSQL ----------------------------------------------------------------------------

TPgDatabase::TPgDatabase(const std::string& name) : name_(name + "_" + std::to_string(::getpid())) {
  const char* conn = std::getenv("MRV_PG_CONN");
  if (!conn || !*conn) return;
  auto pairs = ConnectionPairs(conn);
  server_ = pairs["Server"];
  port_ = pairs["Port"];
  user_ = pairs["Uid"];
  password_ = pairs["Pwd"];
  maintenance_ = pairs["Database"];
  bool ok = false;
  Psql(maintenance_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", &ok);
  Psql(maintenance_, "CREATE DATABASE " + name_, &ok);
  ready_ = ok;
}

TPgDatabase::~TPgDatabase() {
  if (ready_) Psql(maintenance_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)", nullptr);
}

std::string TPgDatabase::Target() const {
  return "Driver={PostgreSQL Unicode};Server=" + server_ + ";Port=" + port_ + ";Database=" + name_ +
         ";Uid=" + user_ + ";Pwd=" + password_;
}

std::string TPgDatabase::Psql(const std::string& db, const std::string& sql, bool* ok) const {
  const std::string cmd = "PGPASSWORD=" + ShellQuoted(password_) +
                          " PGCONNECT_TIMEOUT=10 psql -X -q -At -v ON_ERROR_STOP=1 -h " +
                          ShellQuoted(server_) + " -p " + ShellQuoted(port_) + " -U " +
                          ShellQuoted(user_) + " -d " + ShellQuoted(db) + " -c " +
                          ShellQuoted(sql) + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  char buf[512];
  while (p && std::fgets(buf, sizeof buf, p)) out += buf;
  const int rc = p ? ::pclose(p) : -1;
  if (ok) *ok = rc == 0;
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string TPgDatabase::Sql(const std::string& sql, bool* ok) const {
  return Psql(name_, sql, ok);
}

std::int64_t TPgDatabase::Count(const std::string& table) const {
  bool ok = false;
  const std::string out = Sql("SELECT COUNT(*) FROM " + table, &ok);
  return ok ? std::strtoll(out.c_str(), nullptr, 10) : -1;
}

std::vector<std::string> TPgDatabase::Ips(std::int64_t skip) const {
  const std::string out =
      Sql("SELECT IpAddress FROM HoneypotBlacklist ORDER BY Id OFFSET " + std::to_string(skip));
  std::vector<std::string> ips;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    ips.push_back(out.substr(at, end - at));
    at = end + 1;
  }
  return ips;
}

void TPgDatabase::CreateHoneypot(int presetRows) const {
  bool ok = false;
  const std::string out = Sql(
      "CREATE TABLE HoneypotBlacklist(Id SERIAL PRIMARY KEY, IpAddress VARCHAR(45), LastUpdateTime "
      "TIMESTAMP);"
      "INSERT INTO HoneypotBlacklist(IpAddress, LastUpdateTime) SELECT '192.0.2.' || (g % 250), "
      "TIMESTAMP '2020-01-01' + g * INTERVAL '1 second' FROM generate_series(1, " +
          std::to_string(presetRows) + ") g",
      &ok);
  ASSERT_TRUE(ok) << out;
}

}  // namespace faults
