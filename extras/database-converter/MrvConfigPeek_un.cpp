// Product settings discovery: the configuration-file reader and the platform-independent
// derivations; the installation folder and file access come from the platform halves.
#include "MrvConfigPeek_un.h"

#include <mutex>
#include <stdexcept>

namespace mrv {

namespace {

struct DatabaseNames {
  const char* section;
  const char* olderSection;
  const char* fileName;
};

const DatabaseNames& NamesOf(int kind) {
  static const DatabaseNames names[4] = {
      {"AutoSenderWhitelistDatabase", "AutoSenderWhitelist", "aswl.abs"},
      {"GreylistingDatabase", "Greylisting", "greylist.abs"},
      {"DhaDatabase", "Dha", "dha.abs"},
      {"HoneypotDatabase", "Honeypot", "honeypot.abs"},
  };
  if (kind < 0 || kind > 3) throw std::logic_error("Assertion failed (MrvConfigPeek_un)");
  return names[kind];
}

// Trims every character with a code of 32 or less from both ends.
std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  return s.substr(b, e - b);
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

std::mutex g_overrideLock;
std::optional<std::string> g_override;

std::string WithTrailingDelimiter(std::string s) {
  const char d = TMrvConfigPeek::PathDelimiter();
  if (s.empty() || s.back() != d) s += d;
  return s;
}

}  // namespace

const char* const TMrvConfigPeek::ConfigFileName = "mrvent.ini";

TMrvIniFile TMrvIniFile::Parse(const std::string& text) {
  TMrvIniFile ini;
  Section* current = nullptr;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    // CR LF counts as one break; a lone CR or LF as one.
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n')
      pos = end + 2;
    else
      pos = end + 1;

    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
      ini.sections_.push_back(Section{Trim(line.substr(1, line.size() - 2)), {}});
      current = &ini.sections_.back();
      continue;
    }
    if (!current) continue;
    Entry entry;
    entry.line = line;
    size_t eq = line.find('=');
    if (eq != std::string::npos) {
      entry.hasValue = true;
      entry.name = Trim(line.substr(0, eq));
      entry.value = Trim(line.substr(eq + 1));
    }
    current->entries.push_back(std::move(entry));
  }
  return ini;
}

TMrvIniFile TMrvIniFile::Load(const std::string& path) {
  std::optional<std::string> text = TMrvConfigPeek::PlatformReadTextFile(path);
  if (!text) return TMrvIniFile{};
  return Parse(*text);
}

std::string TMrvIniFile::ReadString(const std::string& section, const std::string& name) const {
  for (const Section& s : sections_) {
    if (!SameText(s.name, section)) continue;
    // Only the first section of that name is ever searched.
    for (const Entry& e : s.entries)
      if (e.hasValue && SameText(e.name, name)) return e.value;
    return {};
  }
  return {};
}

void TMrvConfigPeek::SetInstallFolderOverride(std::optional<std::string> folder) {
  std::lock_guard<std::mutex> lock(g_overrideLock);
  g_override = std::move(folder);
}

std::string TMrvConfigPeek::FolderOfImagePath(const std::string& imagePath) {
  size_t cut = imagePath.find_last_of("\\:");
  std::string folder = cut == std::string::npos ? std::string() : imagePath.substr(0, cut + 1);
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

std::string TMrvConfigPeek::GetInstallFolder() {
  {
    std::lock_guard<std::mutex> lock(g_overrideLock);
    if (g_override) return g_override->empty() ? std::string() : WithTrailingDelimiter(*g_override);
  }
  return PlatformInstallFolder();
}

std::string TMrvConfigPeek::GetConfigFileName() {
  std::string folder = GetInstallFolder();
  if (folder.empty()) return {};
  return WithTrailingDelimiter(folder) + ConfigFileName;
}

std::string TMrvConfigPeek::GetDatabaseFolder(int kind) {
  const DatabaseNames& names = NamesOf(kind);
  std::string configFile = GetConfigFileName();
  if (configFile.empty()) return {};
  TMrvIniFile ini = TMrvIniFile::Load(configFile);
  std::string result = ini.ReadString(names.section, "EmbeddedPath");
  if (result.empty()) result = ini.ReadString(names.olderSection, "Path");
  const std::string single(1, PathDelimiter());
  if (!result.empty() && result != single) result = WithTrailingDelimiter(result);
  return result;
}

std::string TMrvConfigPeek::GetDatabaseFileName(int kind) {
  const DatabaseNames& names = NamesOf(kind);
  std::string folder = GetDatabaseFolder(kind);
  if (folder.empty()) return {};
  return WithTrailingDelimiter(folder) + names.fileName;
}

std::string TMrvConfigPeek::GetExternalConnectionString(int kind) {
  const DatabaseNames& names = NamesOf(kind);
  std::string configFile = GetConfigFileName();
  if (configFile.empty()) return {};
  return TMrvIniFile::Load(configFile).ReadString(names.section, "ExternalConnectionString");
}

}  // namespace mrv
