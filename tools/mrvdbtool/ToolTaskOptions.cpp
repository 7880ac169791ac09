#include "ToolTaskOptions.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "EdbMain.h"
#include "MrvConfigPeek_un.h"
#include "ToolArgs.h"

namespace mrvtool {

namespace {
const char* const kOptionNames[mrv::DatabaseKindCount] = {"aswl", "greylist", "dha", "honeypot"};
}

void AddTaskOptions(CLI::App* sub, TTaskOptions& o) {
  for (int k = 0; k < mrv::DatabaseKindCount; ++k) {
    const std::string what = mrv::DatabaseDisplayName(mrv::TDatabaseKind(k));
    sub->add_option(std::string("--") + kOptionNames[k], o.Files[k],
                    "Source file of the " + what + " database");
    sub->add_option(std::string("--") + kOptionNames[k] + "-target", o.Targets[k],
                    "Connection string of the " + what + " External Database");
  }
  sub->add_option("--target", o.Target,
                  "Connection string for every database without its own (default: the "
                  "environment variable MRV_TARGET)");
  sub->add_option("--target-file", o.TargetFile,
                  "File whose first line is the connection string for --target");
  AddSourcePasswordOptions(sub, o.Password, o.PasswordFile);
  sub->add_option("--install-folder", o.InstallFolder,
                  "Product folder whose mrvent.ini names the files and connection strings");
  sub->add_option("--codepage", o.CodePage,
                  "Code page of the files' ANSI text (default: the system's; 1252 on Linux)");
}

namespace {

// The first line of a file, without its line break; raises when the file cannot be read or the
// line is empty ("holds no <what>").
std::string ReadFirstLine(const std::string& file, const char* what) {
  std::ifstream in(std::filesystem::path(std::u8string(file.begin(), file.end())),
                   std::ios::binary);
  if (!in) throw std::runtime_error("Cannot read the file \"" + file + "\".");
  std::string line;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) throw std::runtime_error("The file \"" + file + "\" holds no " + what + ".");
  return line;
}

// `value` unless empty, else the first line of `file` when one is named, else the environment
// variable `env`.
void ResolveSecret(std::string& value, const std::string& file, const char* env, const char* what) {
  if (!value.empty()) return;
  if (!file.empty()) {
    value = ReadFirstLine(file, what);
    return;
  }
  if (const std::optional<std::string> text = Utf8Environment(env)) value = *text;
}

}  // namespace

void ResolveTargetOption(std::string& target, const std::string& targetFile) {
  const bool fromFile = target.empty() && !targetFile.empty();
  ResolveSecret(target, targetFile, "MRV_TARGET", "connection string");
  if (!fromFile) return;
  while (!target.empty() && target.back() == ' ') target.pop_back();
  if (target.empty())
    throw std::runtime_error("The file \"" + targetFile + "\" holds no connection string.");
}

void AddSourcePasswordOptions(CLI::App* sub, std::string& password, std::string& passwordFile,
                              const std::string& help) {
  sub->add_option("--password", password,
                  help + " (default: the environment variable MRV_SOURCE_PASSWORD)");
  sub->add_option("--password-file", passwordFile,
                  "File whose first line is the password for --password");
}

void ResolveSourcePassword(std::string& password, const std::string& passwordFile) {
  ResolveSecret(password, passwordFile, "MRV_SOURCE_PASSWORD", "password");
}

void BuildTasks(const TTaskOptions& given, mrv::TDbConversionInfo& info) {
  TTaskOptions o = given;
  ResolveTargetOption(o.Target, o.TargetFile);
  ResolveSourcePassword(o.Password, o.PasswordFile);
  if (!o.InstallFolder.empty()) mrv::TMrvConfigPeek::SetInstallFolderOverride(o.InstallFolder);
  if (!edb::EdbCodePageSupported(o.CodePage == 0 ? edb::EdbDefaultCodePage() : o.CodePage))
    throw std::runtime_error("Code page " + std::to_string(o.CodePage) +
                             " is not available on this system.");
  bool anyFile = false;
  for (const std::string& f : o.Files) anyFile |= !f.empty();
  for (int k = 0; k < mrv::DatabaseKindCount; ++k) {
    mrv::TConversionTask& task = info.Task(mrv::TDatabaseKind(k));
    task.SourcePath = anyFile ? o.Files[k] : mrv::TMrvConfigPeek::GetDatabaseFileName(k);
    task.Selected = !task.SourcePath.empty();
    if (!task.Selected) continue;
    task.SourcePassword = o.Password;
    task.TargetConnectionString = !o.Targets[k].empty() ? o.Targets[k]
                                  : !o.Target.empty()
                                      ? o.Target
                                      : mrv::TMrvConfigPeek::GetExternalConnectionString(k);
  }
}

}  // namespace mrvtool
