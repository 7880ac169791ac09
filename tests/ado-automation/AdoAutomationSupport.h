// Shared by the ADO automation tests: the test server registered for this user and loaded into
// this process (so its counts can be read), fresh folders, and connection strings for it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "Ado.h"
#include "server/TestServer.h"

namespace adotest_support {

namespace fs = std::filesystem;

// Loads and registers the server once per process; fails the test when that is impossible.
inline HMODULE Server() {
  static HMODULE module = [] {
    HMODULE m = LoadLibraryA(MRV_ADO_TEST_SERVER_DLL);
    if (!m) return m;
    auto reg = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(m, "DllRegisterServer")));
    if (!reg || FAILED(reg())) return static_cast<HMODULE>(nullptr);
    return m;
  }();
  return module;
}

inline adotest::Counters InProcessCounts() {
  adotest::Counters c;
  auto read = reinterpret_cast<void (*)(adotest::Counters*)>(
      reinterpret_cast<void*>(GetProcAddress(Server(), "AdoTestServerCounts")));
  if (read) read(&c);
  return c;
}

// Counts a tool run wrote ("name=value" lines); empty when the file is missing.
inline std::map<std::string, long> CountsFile(const fs::path& p) {
  std::map<std::string, long> values;
  std::ifstream in(p);
  std::string line;
  while (std::getline(in, line)) {
    auto eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = std::stol(line.substr(eq + 1));
  }
  return values;
}

inline fs::path FreshDir(const std::string& tag) {
  static int n = 0;
  fs::path dir =
      fs::temp_directory_path() /
      ("mrv-adoauto-" + tag + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007) +
       "-" + std::to_string(n++));
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

// A connection string for the test server; `extra` is appended as is ("Key=Value;...").
inline std::string ServerString(const fs::path& db, const std::string& extra = "") {
  std::string s = "Provider=MrvTest.Automation.1;Data Source=" + db.string();
  if (!extra.empty()) s += ";" + extra;
  return s;
}

// Makes `cmd` a text command on `c` running `sql`.
inline void UseText(ado::Command& cmd, ado::Connection& c, const std::string& sql) {
  cmd.SetActiveConnection(c);
  cmd.SetCommandType(ado::adCmdText);
  cmd.SetCommandText(sql);
}

}  // namespace adotest_support
