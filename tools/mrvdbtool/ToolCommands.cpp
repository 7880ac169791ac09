#include "ToolCommands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <vector>

namespace mrvtool {

std::string ToolVersionText();

namespace {

struct Entry {
  std::string name;
  TToolCommandSetup setup;
};

std::vector<Entry>& Registry() {
  static std::vector<Entry> entries;
  return entries;
}

}  // namespace

bool RegisterToolCommand(const std::string& name, TToolCommandSetup setup) {
  Registry().push_back({name, std::move(setup)});
  return true;
}

int RunTool(int argc, char** argv) {
  CLI::App app{"mrvdbtool - inspect embedded database files and convert them into External "
               "Databases"};
  app.set_version_flag("--version", ToolVersionText);
  app.set_help_all_flag("--help-all", "Print this help with the options of every command");
  app.require_subcommand(1);
  int exitCode = 0;
  std::vector<Entry> entries = Registry();
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });
  for (const Entry& e : entries) e.setup(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::fflush(stdout);
  return exitCode;
}

}  // namespace mrvtool
