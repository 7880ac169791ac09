#include "ToolOutputFile.h"

namespace mrvtool {

std::FILE* OpenFileForWriting(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

}  // namespace mrvtool
