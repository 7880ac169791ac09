// Subcommands tables, schema and dump.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "CmdConvertConsole.h"
#include "EdbMain.h"
#include "ToolCommands.h"
#include "ToolBrowse.h"
#include "ToolOutputFile.h"
#include "ToolTaskOptions.h"

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

// --password and --password-file; the callback resolves them (ResolveSourcePassword) into
// opts.Password with the file named by the answer.
std::shared_ptr<std::string> AddPasswordOptions(CLI::App* sub, TBrowseOptions& opts) {
  auto passwordFile = std::make_shared<std::string>();
  AddSourcePasswordOptions(sub, opts.Password, *passwordFile, "Password of an encrypted file");
  return passwordFile;
}

const bool kTables = RegisterToolCommand("tables", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand("tables", "List the table names of a database file");
  auto file = std::make_shared<std::string>();
  auto opts = std::make_shared<TBrowseOptions>();
  auto json = std::make_shared<bool>(false);
  sub->add_option("FILE", *file, "Database file")->required();
  const auto passwordFile = AddPasswordOptions(sub, *opts);
  sub->add_flag("--json", *json, "Write the names as one JSON array");
  sub->callback([file, opts, json, passwordFile] {
    ResolveSourcePassword(opts->Password, *passwordFile);
    if (*json)
      ListTablesJson(*file, *opts, stdout);
    else
      ListTables(*file, *opts, stdout);
  });
});

const bool kSchema = RegisterToolCommand("schema", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand(
      "schema", "Show the fields (SQL type, size, required) and record count of the tables");
  auto file = std::make_shared<std::string>();
  auto table = std::make_shared<std::string>();
  auto opts = std::make_shared<TBrowseOptions>();
  sub->add_option("FILE", *file, "Database file")->required();
  auto json = std::make_shared<bool>(false);
  sub->add_option("TABLE", *table, "Table (default: every table)");
  const auto passwordFile = AddPasswordOptions(sub, *opts);
  sub->add_flag("--json", *json, "Write the schema as JSON");
  sub->callback([file, table, opts, json, passwordFile] {
    ResolveSourcePassword(opts->Password, *passwordFile);
    if (*json)
      WriteSchemaJson(*file, *table, *opts, stdout);
    else
      WriteSchema(*file, *table, *opts, stdout);
  });
});

const bool kDump = RegisterToolCommand("dump", [](CLI::App& app, int&) {
  auto* sub = app.add_subcommand("dump", "Write every record of a table in physical order");
  auto file = std::make_shared<std::string>();
  auto table = std::make_shared<std::string>();
  auto format = std::make_shared<std::string>("jsonl");
  auto opts = std::make_shared<TBrowseOptions>();
  sub->add_option("FILE", *file, "Database file")->required();
  auto output = std::make_shared<std::string>();
  auto all = std::make_shared<std::string>();
  auto* tableOption = sub->add_option("TABLE", *table, "Table name");
  sub->add_option("--format", *format, "Output format: jsonl (default) or csv")
      ->check(CLI::IsMember({"jsonl", "csv"}));
  auto* outputOption =
      sub->add_option("--output,-o", *output, "Write into FILE instead of standard output");
  sub->add_option("--all", *all,
                  "Dump every table into a file of its own (TABLE.jsonl or TABLE.csv) in DIR")
      ->excludes(tableOption)
      ->excludes(outputOption);
  sub->add_option("--null", opts->NullText,
                  "CSV: write a null as TEXT (a text value equal to TEXT is then quoted); by "
                  "default a null is written as nothing and an empty text as \"\"");
  const auto passwordFile = AddPasswordOptions(sub, *opts);
  AddCodePageOption(sub, opts->CodePage);
  sub->callback([file, table, format, opts, output, all, passwordFile] {
    ResolveSourcePassword(opts->Password, *passwordFile);
    TDumpFormat f = TDumpFormat::JsonLines;
    ParseDumpFormat(*format, f);
    if (!all->empty()) {
      for (const TDumpedTable& d : DumpAllTables(*file, *all, f, *opts))
        std::printf("%s\t%s\t%lld records\n", EscapeControlChars(d.Table, true).c_str(),
                    EscapeControlChars(d.Path, true).c_str(), static_cast<long long>(d.Records));
      return;
    }
    if (table->empty()) throw CLI::RequiredError("TABLE or --all");
    if (output->empty()) {
      opts->TerminalSafe = StdoutIsTerminal();
      DumpTable(*file, *table, f, *opts, stdout);
      return;
    }
    TOutputFile out(*output);
    DumpTable(*file, *table, f, *opts, out.Get());
    out.Close();
  });
});

}  // namespace
}  // namespace mrvtool
