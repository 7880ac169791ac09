#pragma once
// Product settings discovery: finds the installed product's folder (through its service
// registration on Windows; through an explicit folder or MRV_INSTALL_FOLDER elsewhere), reads
// its configuration file and derives each database's local file and External Database
// connection string. Read only; every missing piece gives an empty result.

#include <optional>
#include <string>
#include <vector>

namespace mrv {

// The product's configuration file as this program reads it: sections of name=value entries,
// names compared without regard to case, first section and first entry of a name winning.
class TMrvIniFile {
 public:
  // Parses text (lines ending in CR LF, LF or CR).
  static TMrvIniFile Parse(const std::string& text);
  // Reads a file: a missing file reads as a file without sections; a file that exists but
  // cannot be read raises std::runtime_error.
  static TMrvIniFile Load(const std::string& path);

  // The value of `name` in the first section called `section`, or empty.
  std::string ReadString(const std::string& section, const std::string& name) const;

 private:
  struct Entry {
    std::string line;  // the trimmed line
    bool hasValue = false;
    std::string name;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
};

class TMrvConfigPeek {
 public:
  static const char* const ConfigFileName;  // "mrvent.ini"

  static std::string GetInstallFolder();
  static std::string GetConfigFileName();
  static std::string GetDatabaseFolder(int kind);
  static std::string GetDatabaseFileName(int kind);
  static std::string GetExternalConnectionString(int kind);

  // Replaces the discovery of the installation folder (the command line's --install-folder).
  // An empty optional restores the normal discovery. The folder is taken as the product's
  // folder; a trailing separator is added where it is missing.
  static void SetInstallFolderOverride(std::optional<std::string> folder);

  // The path separator the results use: a backslash on Windows, a slash elsewhere.
  static char PathDelimiter();

  // The folder part of a service's program path: the text up to and including its last
  // backslash or colon (empty if it has neither), with a backslash appended unless it already
  // ends with one.
  static std::string FolderOfImagePath(const std::string& imagePath);

 private:
  // Platform half: the folder as registered for the product (not yet cut to its folder part
  // on Windows, see GetInstallFolder), or empty.
  static std::string PlatformInstallFolder();
  // Platform half: reads a whole file; nullopt when it does not exist; raises when it exists
  // but cannot be read. The result is UTF-8.
  static std::optional<std::string> PlatformReadTextFile(const std::string& path);

  friend class TMrvIniFile;
};

}  // namespace mrv
