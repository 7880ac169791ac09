#pragma once
// Runs the built mrvdbtool with standard input from the null device and its output captured
// in files of a folder; CR LF line ends become LF (Windows text streams add CRs).
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

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
#ifdef _WIN32
  const char* const null = "NUL";
#else
  const char* const null = "/dev/null";
#endif
  const std::filesystem::path out = dir / "tool-out.txt", err = dir / "tool-err.txt";
  std::string cmd = std::string("\"") + MRVDBTOOL_EXE + "\" " + args + " <" + null + " >\"" +
                    out.string() + "\" 2>\"" + err.string() + "\"";
#ifdef _WIN32
  cmd = "\"" + cmd + "\"";
#endif
  TToolResult r;
  const int rc = std::system(cmd.c_str());
#ifdef _WIN32
  r.Exit = rc;
#else
  r.Exit = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
  r.Out = ReadToolOutput(out);
  r.Err = ReadToolOutput(err);
  return r;
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
