// Subcommand verify: compares the source files with their External Databases, table by table,
// by row count and an order-independent digest of the transferred columns.
//
// Exit status: 0 every table matches, 4 a table differs or could not be compared, 1 error.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "ToolCommands.h"
#include "ToolTaskOptions.h"
#include "ToolVerifyRun.h"

namespace mrvtool {
namespace {

const bool kVerify = RegisterToolCommand("verify", [](CLI::App& app, int& exitCode) {
  auto* sub = app.add_subcommand(
      "verify", "Compare the source files with their External Databases (row counts and digests)");
  auto o = std::make_shared<TTaskOptions>();
  AddTaskOptions(sub, *o);
  sub->callback([o, &exitCode] {
    mrv::TDbConversionInfo info;
    BuildTasks(*o, info);
    exitCode = VerifyDatabases(info, o->CodePage, stdout);
  });
});

}  // namespace
}  // namespace mrvtool
