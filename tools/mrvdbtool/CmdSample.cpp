// Subcommand sample: writes the four mail-filter sample databases. It never replaces a file
// that is already there unless --force is given: pointed at the product's data folder by
// mistake it would otherwise overwrite the real databases. With a password (--password,
// --password-file or MRV_SOURCE_PASSWORD) the files are encrypted with it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>

#include "ToolCommands.h"
#include "ToolSample.h"
#include "ToolTaskOptions.h"

namespace mrvtool {
namespace {

const char* const kSampleFiles[] = {"aswl.abs", "greylist.abs", "dha.abs", "honeypot.abs"};

int RunSample(const std::string& dir, const TSampleOptions& opts, bool force) {
  if (!force) {
    for (const char* name : kSampleFiles) {
      const std::filesystem::path file = std::filesystem::u8path(dir) / name;
      std::error_code ec;
      if (std::filesystem::symlink_status(file, ec).type() !=
          std::filesystem::file_type::not_found) {
        std::fprintf(stderr,
                     "%s already exists; nothing was written.\nRun again with --force to replace "
                     "the files.\n",
                     reinterpret_cast<const char*>(file.u8string().c_str()));
        return 1;
      }
    }
  }
  for (const TSampleTable& t : WriteSampleDatabases(dir, opts)) {
    std::printf("%s\t%s\t%lld rows\n", t.File.c_str(), t.Table.c_str(),
                static_cast<long long>(t.Rows));
  }
  return 0;
}

const bool kSample = RegisterToolCommand("sample", [](CLI::App& app, int& exitCode) {
  auto* sub =
      app.add_subcommand("sample",
                         "Write the four mail-filter databases (aswl.abs, greylist.abs, dha.abs, "
                         "honeypot.abs) with deterministic sample data");
  auto dir = std::make_shared<std::string>();
  auto opts = std::make_shared<TSampleOptions>();
  auto force = std::make_shared<bool>(false);
  sub->add_option("DIR", *dir, "Folder to write the files into (created when missing)")->required();
  sub->add_option("--rows", opts->Rows, "Rows per table (default 1000)")
      ->check(CLI::Range(int64_t(0), int64_t(100000000)));
  sub->add_option("--seed", opts->Seed, "Seed of the generated data (default 1)");
  sub->add_flag("--force", *force, "Replace the files when they already exist");
  auto passwordFile = std::make_shared<std::string>();
  AddSourcePasswordOptions(sub, opts->Password, *passwordFile,
                           "Encrypt the files with this password");
  sub->callback([dir, opts, force, passwordFile, &exitCode] {
    ResolveSourcePassword(opts->Password, *passwordFile);
    exitCode = RunSample(*dir, *opts, *force);
  });
});

}  // namespace
}  // namespace mrvtool
