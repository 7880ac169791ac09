#pragma once
// Output files of the dump command: opened for binary writing by UTF-8 path, closed with the
// write errors reported.

#include <cstdio>
#include <string>

namespace mrvtool {

class TOutputFile {
 public:
  // Creates or truncates the file; raises std::runtime_error naming it when that fails.
  explicit TOutputFile(const std::string& path);
  ~TOutputFile();
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  std::FILE* Get() const { return file_; }
  // Flushes and closes; raises when anything written did not reach the file.
  void Close();

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

// Platform half: fopen with a UTF-8 path.
std::FILE* OpenFileForWriting(const std::string& path);

}  // namespace mrvtool
