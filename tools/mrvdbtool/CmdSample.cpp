// Subcommand sample: writes the four mail-filter sample databases.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "ToolCommands.h"
#include "ToolSample.h"

namespace mrvtool {
namespace {

const bool kSample = RegisterToolCommand("sample", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand(
      "sample", "Write the four mail-filter databases (aswl.abs, greylist.abs, dha.abs, "
                "honeypot.abs) with deterministic sample data");
  auto dir = std::make_shared<std::string>();
  auto opts = std::make_shared<TSampleOptions>();
  sub->add_option("DIR", *dir, "Folder to write the files into (created when missing)")
      ->required();
  sub->add_option("--rows", opts->Rows, "Rows per table (default 1000)")
      ->check(CLI::Range(int64_t(0), int64_t(100000000)));
  sub->add_option("--seed", opts->Seed, "Seed of the generated data (default 1)");
  sub->callback([dir, opts] {
    for (const TSampleTable& t : WriteSampleDatabases(*dir, *opts)) {
      std::printf("%s\t%s\t%lld rows\n", t.File.c_str(), t.Table.c_str(),
                  static_cast<long long>(t.Rows));
    }
  });
});

}  // namespace
}  // namespace mrvtool
