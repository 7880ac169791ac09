// Target databases the interface tests run against: the built-in SQLite backend always,
// the SQLite ODBC driver when it is installed, PostgreSQL through ODBC when MRV_PG_CONN is set
// and through the native provider when MRV_PG_NATIVE_CONN is set (both written by
// scripts/pg-start).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Ado.h"

namespace adotest {

enum class Target { Sqlite, SqliteOdbc, PostgreSql, MariaDb, PostgreSqlNative };

inline const char* TargetName(Target t) {
  switch (t) {
    case Target::Sqlite: return "Sqlite";
    case Target::SqliteOdbc: return "SqliteOdbc";
    case Target::PostgreSql: return "PostgreSql";
    case Target::MariaDb: return "MariaDb";
    case Target::PostgreSqlNative: return "PostgreSqlNative";
  }
  return "?";
}

// A fresh, empty folder below the temporary folder, removed at destruction.
class TempDir {
  // Test processes run side by side; seeds and addresses alone may coincide between them.
  static long ProcessId() {
#if defined(_WIN32)
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(::getpid());
#endif
  }

 public:
  TempDir() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("mrv-ado-" + std::to_string(ProcessId()) + "-" +
             std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
             std::to_string(reinterpret_cast<std::uintptr_t>(this) % 100000) + "-" +
             std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    for (const auto& f : cwdFiles_) std::filesystem::remove(f, ec);
  }
  const std::filesystem::path& Path() const { return path_; }

  // A unique file name relative to the current folder, removed with this object. For ODBC
  // drivers that may live on the other side of a compatibility layer and would not read a
  // native absolute path.
  std::string CwdFile(const std::string& suffix) const {
    std::string name = path_.filename().string() + suffix;
    cwdFiles_.push_back(name);
    return name;
  }

 private:
  std::filesystem::path path_;
  mutable std::vector<std::string> cwdFiles_;
};

// Connection string for `t`, or empty when the target is not available here.
inline std::string ConnectionStringFor(Target t, const TempDir& dir) {
  switch (t) {
    case Target::Sqlite:
      return "Provider=SQLite;Data Source=" + (dir.Path() / "target.db").string() + ";Create=yes";
    case Target::SqliteOdbc:
#if defined(_WIN32)
      return "Driver={SQLite3};Database=" + dir.CwdFile("-odbc.db");
#else
      return "Driver={SQLite3};Database=" + (dir.Path() / "target-odbc.db").string();
#endif
    case Target::PostgreSql: {
      const char* pg = std::getenv("MRV_PG_CONN");
      return pg ? pg : "";
    }
    case Target::PostgreSqlNative: {
      const char* pg = std::getenv("MRV_PG_NATIVE_CONN");
      return pg ? pg : "";
    }
    case Target::MariaDb: {
      const char* maria = std::getenv("MRV_MARIADB_CONN");
      return maria ? maria : "";
    }
  }
  return "";
}

// True when an open failure only means that the ODBC driver is not installed.
inline bool IsMissingDriver(const ado::EAdoError& e) {
  const std::string& m = e.Message();
  return m.find("IM002") != std::string::npos || m.find("IM003") != std::string::npos;
}

// Opens `conn` on target `t` (its string in `connStr`). Returns an empty text when it is open,
// else why the target is not available here, for the test to skip; other failures are raised.
inline std::string OpenTarget(Target t, const TempDir& dir, ado::Connection& conn,
                              std::string& connStr) {
  connStr = ConnectionStringFor(t, dir);
  if (connStr.empty())
    return t == Target::MariaDb ? "MRV_MARIADB_CONN is not set; MariaDB tests skipped"
           : t == Target::PostgreSqlNative
               ? "MRV_PG_NATIVE_CONN is not set; native PostgreSQL tests skipped"
               : "MRV_PG_CONN is not set; PostgreSQL tests skipped";
  try {
    conn.SetConnectionString(connStr);
    conn.Open();
  } catch (const ado::EAdoError& e) {
    if (t == Target::SqliteOdbc && IsMissingDriver(e))
      return std::string("SQLite ODBC driver not installed: ") + e.what();
    if (t == Target::PostgreSqlNative && e.ComponentUnavailable())
      return std::string("no native PostgreSQL provider in this build: ") + e.what();
    throw;
  }
  return {};
}

// The server process of `conn`'s PostgreSQL session.
inline std::int64_t BackendPid(ado::Connection& conn) {
  ado::Command pid;
  pid.SetActiveConnection(conn);
  pid.SetCommandText("SELECT pg_backend_pid()");
  return pid.Execute().Fields(0).Value().AsInt64();
}

// Ends that session from another connection on `connStr`, as a lost network would.
inline void TerminateBackend(const std::string& connStr, std::int64_t pid) {
  ado::Connection killer;
  killer.SetConnectionString(connStr);
  killer.Open();
  killer.Execute("SELECT pg_terminate_backend(" + std::to_string(pid) + ")");
}

}  // namespace adotest
