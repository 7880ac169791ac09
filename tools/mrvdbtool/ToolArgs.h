#pragma once
// Windows: the wide command-line arguments as UTF-8 strings, and stdout/stderr switched to
// binary so that the output's bytes (UTF-8, CSV's CR LF) pass unchanged. Everywhere: an
// environment variable as UTF-8 text.

#include <optional>
#include <string>
#include <vector>

namespace mrvtool {

class TUtf8Args {
 public:
  TUtf8Args(int argc, wchar_t** argv);
  int Argc() const { return int(ptrs_.size()) - 1; }
  char** Argv() { return ptrs_.data(); }

 private:
  std::vector<std::string> args_;
  std::vector<char*> ptrs_;
};

// The value of the environment variable `name` as UTF-8 (on Windows read as wide text, so that
// it does not depend on the ANSI code page), or nothing when it is not set.
std::optional<std::string> Utf8Environment(const char* name);

}  // namespace mrvtool
