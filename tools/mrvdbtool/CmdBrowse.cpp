// Subcommands tables, schema and dump.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "CmdConvertConsole.h"
#include "EdbCodePage.h"
#include "ToolCommands.h"
#include "ToolBrowse.h"

namespace mrvtool {
namespace {

void AddCodePageOption(CLI::App* sub, uint32_t& codePage) {
  sub->add_option("--codepage", codePage,
                  "Code page of ANSI text in the file (default: 1252, on Windows the system's)")
      ->check([](const std::string& s) -> std::string {
        try {
          const unsigned long cp = std::stoul(s);
          if (edb::EdbCodePageSupported(uint32_t(cp))) return {};
        } catch (...) {
        }
        return "unsupported code page " + s;
      });
}

const bool kTables = RegisterToolCommand("tables", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand("tables", "List the table names of a database file");
  auto file = std::make_shared<std::string>();
  auto opts = std::make_shared<TBrowseOptions>();
  sub->add_option("FILE", *file, "Database file")->required();
  sub->add_option("--password", opts->Password, "Password of an encrypted file");
  sub->callback([file, opts] { ListTables(*file, *opts, stdout); });
});

const bool kSchema = RegisterToolCommand("schema", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand(
      "schema", "Show the fields (SQL type, size, required) and record count of the tables");
  auto file = std::make_shared<std::string>();
  auto table = std::make_shared<std::string>();
  auto opts = std::make_shared<TBrowseOptions>();
  sub->add_option("FILE", *file, "Database file")->required();
  sub->add_option("TABLE", *table, "Table (default: every table)");
  sub->add_option("--password", opts->Password, "Password of an encrypted file");
  sub->callback([file, table, opts] { WriteSchema(*file, *table, *opts, stdout); });
});

const bool kDump = RegisterToolCommand("dump", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand("dump", "Write every record of a table in physical order");
  auto file = std::make_shared<std::string>();
  auto table = std::make_shared<std::string>();
  auto format = std::make_shared<std::string>("jsonl");
  auto opts = std::make_shared<TBrowseOptions>();
  sub->add_option("FILE", *file, "Database file")->required();
  sub->add_option("TABLE", *table, "Table name")->required();
  sub->add_option("--format", *format, "Output format: jsonl (default) or csv")
      ->check(CLI::IsMember({"jsonl", "csv"}));
  sub->add_option("--password", opts->Password, "Password of an encrypted file");
  AddCodePageOption(sub, opts->CodePage);
  sub->callback([file, table, format, opts] {
    TDumpFormat f = TDumpFormat::JsonLines;
    ParseDumpFormat(*format, f);
    opts->TerminalSafe = StdoutIsTerminal();
    DumpTable(*file, *table, f, *opts, stdout);
  });
});

}  // namespace
}  // namespace mrvtool
