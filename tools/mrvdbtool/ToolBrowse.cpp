#include "ToolBrowse.h"

#include <filesystem>
#include <set>

#include "EdbMain.h"
#include "ToolOutputFile.h"
#include "ToolSource.h"

namespace mrvtool {

void ListTables(const std::string& file, const TBrowseOptions& opts, std::FILE* out) {
  TReadOnlySource db(file, opts.CodePage, opts.Password);
  for (const std::string& name : db.Db().GetTableNames())
    std::fprintf(out, "%s\n", EscapeControlChars(name, false).c_str());
}

// The one table asked for, or every table of the database.
static std::vector<std::string> TablesToShow(TReadOnlySource& db, const std::string& table) {
  if (table.empty()) return db.Db().GetTableNames();
  return {table};
}

void WriteSchema(const std::string& file, const std::string& table, const TBrowseOptions& opts,
                 std::FILE* out) {
  TReadOnlySource db(file, opts.CodePage, opts.Password);
  const std::vector<std::string> names = TablesToShow(db, table);
  bool first = true;
  for (const std::string& name : names) {
    edb::TEdbTable t;
    t.SetDatabaseName(db.Db().DatabaseName());
    t.SetTableName(name);
    t.Open();
    if (!first) std::fputc('\n', out);
    first = false;
    std::fprintf(out, "%s: %lld records\n", EscapeControlChars(name, false).c_str(),
                 static_cast<long long>(t.RecordCount()));
    for (const edb::TEdbFieldDefInfo& f : t.FieldDefs()) {
      std::fprintf(out, "  %s\t%s\t%d\t%s\n", EscapeControlChars(f.Name, false).c_str(),
                   f.SqlTypeName(), int(f.Size), f.Required ? "required" : "optional");
    }
    t.Close();
  }
}

int64_t DumpTable(const std::string& file, const std::string& table, TDumpFormat format,
                  const TBrowseOptions& opts, std::FILE* out) {
  TReadOnlySource db(file, opts.CodePage, opts.Password);
  edb::TEdbTable t;
  t.SetDatabaseName(db.Db().DatabaseName());
  t.SetTableName(table);
  t.Open();
  std::vector<std::string> names;
  for (const edb::TEdbFieldDefInfo& f : t.FieldDefs()) names.push_back(f.Name);
  std::vector<edb::TEdbField*> fields;
  for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(&t.Fields(i));

  TDumpWriter w(out, format, names, opts.TerminalSafe);
  w.SetNullText(opts.NullText);
  w.Begin();
  std::vector<edb::TEdbVariant> values(fields.size());
  int64_t count = 0;
  while (!t.Eof()) {
    for (size_t i = 0; i < fields.size(); ++i) values[i] = fields[i]->AsVariant();
    w.Record(values);
    ++count;
    t.Next();
  }
  w.Flush();
  return count;
}

void ListTablesJson(const std::string& file, const TBrowseOptions& opts, std::FILE* out) {
  TReadOnlySource db(file, opts.CodePage, opts.Password);
  std::string json = "[";
  for (const std::string& name : db.Db().GetTableNames()) {
    if (json.size() > 1) json += ',';
    AppendJsonString(json, name);
  }
  json += "]\n";
  std::fputs(json.c_str(), out);
}

void WriteSchemaJson(const std::string& file, const std::string& table, const TBrowseOptions& opts,
                     std::FILE* out) {
  TReadOnlySource db(file, opts.CodePage, opts.Password);
  const std::vector<std::string> names = TablesToShow(db, table);
  std::string json = "[";
  for (const std::string& name : names) {
    edb::TEdbTable t;
    t.SetDatabaseName(db.Db().DatabaseName());
    t.SetTableName(name);
    t.Open();
    if (json.size() > 1) json += ',';
    json += "{\"name\":";
    AppendJsonString(json, name);
    json += ",\"records\":" + std::to_string(t.RecordCount()) + ",\"fields\":[";
    bool first = true;
    for (const edb::TEdbFieldDefInfo& f : t.FieldDefs()) {
      json += first ? "{\"name\":" : ",{\"name\":";
      first = false;
      AppendJsonString(json, f.Name);
      json += ",\"type\":";
      AppendJsonString(json, f.SqlTypeName());
      json += ",\"size\":" + std::to_string(int(f.Size)) +
              ",\"required\":" + (f.Required ? "true}" : "false}");
    }
    json += "]}";
    t.Close();
  }
  json += "]\n";
  std::fputs(json.c_str(), out);
}

namespace {
std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}
}  // namespace

std::string DumpFileName(const std::string& table, TDumpFormat format) {
  std::string name;
  for (char c : table) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-';
    name += plain ? c : '_';
  }
  if (name.empty()) name = "_";
  return name + (format == TDumpFormat::Csv ? ".csv" : ".jsonl");
}

std::vector<TDumpedTable> DumpAllTables(const std::string& file, const std::string& dir,
                                        TDumpFormat format, const TBrowseOptions& opts) {
  namespace fs = std::filesystem;
  const fs::path folder(std::u8string(dir.begin(), dir.end()));
  fs::create_directories(folder);
  std::vector<std::string> names;
  {
    TReadOnlySource db(file, opts.CodePage, opts.Password);
    names = db.Db().GetTableNames();
  }
  std::vector<TDumpedTable> dumped;
  std::set<std::string>
      used;  // lower case: two tables never share a file, whatever the file system
  for (const std::string& table : names) {
    std::string fileName = DumpFileName(table, format);
    for (int n = 2; !used.insert(Lower(fileName)).second; ++n)
      fileName = DumpFileName(table + "_" + std::to_string(n), format);
    const std::u8string path = (folder / fileName).u8string();
    TDumpedTable d{table, std::string(path.begin(), path.end()), 0};
    TOutputFile output(d.Path);
    d.Records = DumpTable(file, table, format, opts, output.Get());
    output.Close();
    dumped.push_back(d);
  }
  return dumped;
}

}  // namespace mrvtool
