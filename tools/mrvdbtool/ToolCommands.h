#pragma once
// Subcommands of mrvdbtool register themselves here (one static RegisterToolCommand per Cmd*.cpp
// of the executable); RunTool builds the command line from them, parses it and runs the chosen
// subcommand.
//
// Exit status: 0 success, 1 error (the message on stderr), 2 usage error; a subcommand may set
// other values through its exit code. Output that could not be written to standard output is
// an error: "Cannot write the output: <reason>." on stderr, and exit status 1 unless the
// subcommand already answered another non-zero status.

#include <functional>
#include <string>

namespace CLI {
class App;
}

namespace mrvtool {

// `setup` adds the subcommand to `parent` and sets its callback; the callback stores its exit
// status in `exitCode` (left 0 on success) or raises; exceptions become exit status 1 with
// what() on stderr.
using TToolCommandSetup = std::function<void(CLI::App& parent, int& exitCode)>;

// Returns true so that it can initialise a static.
bool RegisterToolCommand(const std::string& name, TToolCommandSetup setup);

// Remembers why a write to standard output failed (the first errno), for the message at the
// end; for commands that flush as they go, after which the stream no longer knows the reason.
void NoteOutputError(int code);

// Runs the tool with UTF-8 arguments.
int RunTool(int argc, char** argv);

}  // namespace mrvtool
