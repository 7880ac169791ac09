#include "ToolTaskOptions.h"

#include <CLI/CLI.hpp>

#include <stdexcept>

#include "EdbCodePage.h"
#include "MrvConfigPeek_un.h"

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
  sub->add_option("--target", o.Target, "Connection string for every database without its own");
  sub->add_option("--install-folder", o.InstallFolder,
                  "Product folder whose mrvent.ini names the files and connection strings");
  sub->add_option("--codepage", o.CodePage,
                  "Code page of the files' ANSI text (default: the system's; 1252 on Linux)");
}

void BuildTasks(const TTaskOptions& o, mrv::TDbConversionInfo& info) {
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
    task.TargetConnectionString = !o.Targets[k].empty() ? o.Targets[k]
                                  : !o.Target.empty()   ? o.Target
                                                        : mrv::TMrvConfigPeek::GetExternalConnectionString(k);
  }
}

}  // namespace mrvtool
