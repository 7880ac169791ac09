// Product settings discovery, POSIX half: there is no service registry, so the installation
// folder comes from the environment variable MRV_INSTALL_FOLDER (the command line passes its
// --install-folder through SetInstallFolderOverride). Files are read as they stand.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

#include "MrvConfigPeek_un.h"

namespace mrv {

char TMrvConfigPeek::PathDelimiter() { return '/'; }

std::string TMrvConfigPeek::PlatformInstallFolder() {
  const char* env = std::getenv("MRV_INSTALL_FOLDER");
  if (!env || !*env) return {};
  std::string folder = env;
  if (folder.back() != '/') folder += '/';
  return folder;
}

std::optional<std::string> TMrvConfigPeek::PlatformReadTextFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
    throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in || S_ISDIR(st.st_mode))
    throw std::runtime_error("Cannot open file \"" + path + "\". " +
                             (S_ISDIR(st.st_mode) ? "Is a directory" : std::strerror(errno)));
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace mrv
