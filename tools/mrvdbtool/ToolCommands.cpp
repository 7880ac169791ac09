#include "ToolCommands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <vector>

#include "ToolFormat.h"

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

std::atomic<int> g_outputError{0};

// Flushes standard output; false with a message on standard error when anything written to it
// was lost (a full disk, a closed pipe, a terminal that went away).
bool OutputWritten() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0;
  const int code = errno;
  std::cout.flush();
  if (flushed && !std::ferror(stdout) && std::cout.good()) return true;
  const int reason = g_outputError.load() != 0 ? g_outputError.load() : flushed ? 0 : code;
  if (reason != 0)
    std::fprintf(stderr, "Cannot write the output: %s.\n", std::strerror(reason));
  else
    std::fprintf(stderr, "Cannot write the output.\n");
  return false;
}

}  // namespace

void NoteOutputError(int code) {
  int none = 0;
  if (code != 0) g_outputError.compare_exchange_strong(none, code);
}

bool RegisterToolCommand(const std::string& name, TToolCommandSetup setup) {
  Registry().push_back({name, std::move(setup)});
  return true;
}

int RunTool(int argc, char** argv) {
  CLI::App app{
      "mrvdbtool - inspect embedded database files and convert them into External "
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
    const int code = app.exit(e);
    return OutputWritten() ? code : 1;
  } catch (const CLI::CallForAllHelp& e) {
    const int code = app.exit(e);
    return OutputWritten() ? code : 1;
  } catch (const CLI::CallForVersion& e) {
    const int code = app.exit(e);
    return OutputWritten() ? code : 1;
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    // Messages may quote bytes of a file (a signature, a name): never raw to the terminal.
    std::fprintf(stderr, "%s\n", EscapeControlChars(e.what(), true).c_str());
    return 1;
  }
  if (!OutputWritten() && exitCode == 0) return 1;
  return exitCode;
}

}  // namespace mrvtool
