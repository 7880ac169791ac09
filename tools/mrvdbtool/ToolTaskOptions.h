#pragma once
// The source and target options that name the databases of a run (--aswl FILE,
// --aswl-target CONN, ..., --target CONN, --target-file FILE, --password PW, --password-file
// FILE, --install-folder DIR, --codepage N) and how they
// become the run's tasks: given files select exactly those databases; without any, the
// installed product's mrvent.ini names every file and connection string.

#include <array>
#include <cstdint>
#include <string>

#include "DbConversionInfo_un.h"

namespace CLI {
class App;
}

namespace mrvtool {

struct TTaskOptions {
  std::array<std::string, mrv::DatabaseKindCount> Files;
  std::array<std::string, mrv::DatabaseKindCount> Targets;
  std::string Target;
  std::string TargetFile;
  std::string Password;  // of the encrypted source files
  std::string PasswordFile;
  std::string InstallFolder;
  std::uint32_t CodePage = 0;
};

// Adds the options to a subcommand.
void AddTaskOptions(CLI::App* sub, TTaskOptions& options);

// The connection string for every database when --target was not given: the first line of
// the --target-file file, else the environment variable MRV_TARGET (so that a password need
// not appear in the process list). Raises when the file cannot be read or is empty.
void ResolveTargetOption(std::string& target, const std::string& targetFile);

// Adds --password and --password-file (the source files' password) to a subcommand; `help`
// describes --password (the default source of the password is added to it).
void AddSourcePasswordOptions(CLI::App* sub, std::string& password, std::string& passwordFile,
                              const std::string& help = "Password of encrypted source files");

// The source files' password when --password was not given: the first line of the
// --password-file file, else the environment variable MRV_SOURCE_PASSWORD, else none. Raises
// when the file cannot be read or its first line is empty.
void ResolveSourcePassword(std::string& password, const std::string& passwordFile);

// Fills the tasks of `info` from the options (reading mrvent.ini where the options leave it
// open). Every task gets the source password (empty when none was given), so that a file
// refusing it is reported by name. Raises when the code page is not available.
void BuildTasks(const TTaskOptions& options, mrv::TDbConversionInfo& info);

}  // namespace mrvtool
