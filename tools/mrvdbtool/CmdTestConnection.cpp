// Subcommand test-connection: opens and closes one connection to an External Database and
// reports the outcome with the wizard's texts. Exit status 0 when the test succeeded, 1 else.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "AdoConnectionTestThread_un.h"
#include "ToolCommands.h"
#include "ToolFormat.h"

namespace mrvtool {
namespace {

int RunTestConnection(const std::string& connectionString) {
  if (connectionString.empty()) {
    std::fprintf(stderr, "Please enter the connection string.\n");
    return 1;
  }
  mrv::TAdoConnectionTestThread test(connectionString);
  test.Start();
  test.WaitFor();
  // The access layer has masked the passwords in the error message already.
  const std::string text = mrv::ConnectionTestResultText(test.Outcome(), test.ErrorMessage());
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  const bool failed = mrv::ConnectionTestIsError(test.Outcome());
  // The server's message may hold anything: never raw to the terminal.
  std::fprintf(failed ? stderr : stdout, "%s\n", EscapeControlChars(out, true).c_str());
  return failed ? 1 : 0;
}

const bool kTestConnection =
    RegisterToolCommand("test-connection", [](CLI::App& app, int& exitCode) {
      auto* sub = app.add_subcommand("test-connection",
                                     "Open and close one connection to an External Database");
      auto conn = std::make_shared<std::string>();
      sub->add_option("CONN", *conn, "Connection string")->required();
      sub->callback([conn, &exitCode] { exitCode = RunTestConnection(*conn); });
    });

}  // namespace
}  // namespace mrvtool
