#pragma once
// The inspection commands of mrvdbtool as functions over an output stream: table names, schema,
// and a streaming dump of every record in physical order.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ToolFormat.h"

namespace mrvtool {

struct TBrowseOptions {
  std::string Password;
  uint32_t CodePage = 0;      // 0: the default code page
  bool TerminalSafe = false;  // dump: CSV text escaped for a terminal (see TDumpWriter)
  std::string NullText;       // CSV: how a null is written (default: nothing)
};

// Names read from the file are printed through EscapeControlChars.
// One table name per line.
void ListTables(const std::string& file, const TBrowseOptions& opts, std::FILE* out);
// Per table (all tables when `table` is empty): a line "TABLE: N records", then one line per
// field: name, SQL type name, size and "required" / "optional", separated by tabs.
void WriteSchema(const std::string& file, const std::string& table, const TBrowseOptions& opts,
                 std::FILE* out);
// Every record of the table; returns the number of records written.
int64_t DumpTable(const std::string& file, const std::string& table, TDumpFormat format,
                  const TBrowseOptions& opts, std::FILE* out);

// The table names as one JSON array.
void ListTablesJson(const std::string& file, const TBrowseOptions& opts, std::FILE* out);
// The schema as a JSON array of {"name", "records", "fields": [{"name", "type", "size",
// "required"}]}, one object per table (every table when `table` is empty).
void WriteSchemaJson(const std::string& file, const std::string& table, const TBrowseOptions& opts,
                     std::FILE* out);

struct TDumpedTable {
  std::string Table;
  std::string Path;
  int64_t Records = 0;
};
// Dumps every table into a file of its own in `dir` (created when missing), named after the
// table (characters outside letters, digits, '_' and '-' replaced by '_') with the extension
// .jsonl or .csv.
std::vector<TDumpedTable> DumpAllTables(const std::string& file, const std::string& dir,
                                        TDumpFormat format, const TBrowseOptions& opts);
// The file name DumpAllTables uses for a table.
std::string DumpFileName(const std::string& table, TDumpFormat format);

}  // namespace mrvtool
