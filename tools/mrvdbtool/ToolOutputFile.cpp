#include "ToolOutputFile.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace mrvtool {

TOutputFile::TOutputFile(const std::string& path) : path_(path), file_(OpenFileForWriting(path)) {
  if (!file_)
    throw std::runtime_error("Cannot create the file \"" + path + "\": " + std::strerror(errno));
}

TOutputFile::~TOutputFile() {
  if (file_) std::fclose(file_);
}

void TOutputFile::Close() {
  if (!file_) return;
  const bool failed = std::fflush(file_) != 0 || std::ferror(file_) != 0;
  const int error = errno;
  const bool closeFailed = std::fclose(file_) != 0;
  file_ = nullptr;
  if (failed || closeFailed)
    throw std::runtime_error("Cannot write the file \"" + path_ +
                             "\": " + std::strerror(failed ? error : errno));
}

}  // namespace mrvtool
