#include <filesystem>

#include "ToolOutputFile.h"

namespace mrvtool {

std::FILE* OpenFileForWriting(const std::string& path) {
  const std::filesystem::path p(std::u8string(path.begin(), path.end()));
  return _wfopen(p.c_str(), L"wb");
}

}  // namespace mrvtool
