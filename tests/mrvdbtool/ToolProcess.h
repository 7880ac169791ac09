#pragma once
// Support for the tool's tests: running the built mrvdbtool (standard input from the null
// device, output captured in files of a folder, CR LF line ends made LF as Windows text
// streams add CRs), capturing what a function writes, and a fresh folder per test.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ProcessRun.h"

namespace mrvtool::test {

struct TToolResult {
  int Exit = -1;
  std::string Out, Err;
};

inline std::string ReadToolOutput(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str(), out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

inline TToolResult RunTool(const std::string& args, const std::filesystem::path& dir) {
  const std::filesystem::path out = dir / "tool-out.txt", err = dir / "tool-err.txt";
  TToolResult r;
  r.Exit = testsupport::RunProgram(MRVDBTOOL_EXE, args, {}, out, err);
  r.Out = ReadToolOutput(out);
  r.Err = ReadToolOutput(err);
  return r;
}

// An empty folder for the running test: `prefix` followed by the test's name, under the
// system's temporary folder.
inline std::filesystem::path FreshTestFolder(const std::string& prefix) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() /
      (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

// What `write` writes into a stream.
inline std::string CaptureOutput(const std::function<void(std::FILE*)>& write) {
  std::FILE* f = std::tmpfile();
  write(f);
  std::rewind(f);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
  std::fclose(f);
  return out;
}

}  // namespace mrvtool::test
