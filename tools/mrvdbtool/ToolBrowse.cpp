#include "ToolBrowse.h"

#include <atomic>

#include "EdbMain.h"

namespace mrvtool {

namespace {

// A database object under an alias of its own, opened silently.
class TOpenedDatabase {
 public:
  TOpenedDatabase(const std::string& file, const TBrowseOptions& opts) {
    static std::atomic<int> counter{0};
    db_.SetDatabaseName("mrvdbtool_" + std::to_string(++counter));
    db_.SetDatabaseFileName(file);
    db_.SetPassword(opts.Password);
    db_.SetCodePage(opts.CodePage);
    db_.SetSilentMode(true);
    db_.SetReadOnly(true);
    db_.Open();
  }
  edb::TEdbDatabase& Db() { return db_; }

 private:
  edb::TEdbDatabase db_;
};

}  // namespace

void ListTables(const std::string& file, const TBrowseOptions& opts, std::FILE* out) {
  TOpenedDatabase db(file, opts);
  for (const std::string& name : db.Db().GetTableNames()) std::fprintf(out, "%s\n", EscapeControlChars(name, false).c_str());
}

void WriteSchema(const std::string& file, const std::string& table, const TBrowseOptions& opts,
                 std::FILE* out) {
  TOpenedDatabase db(file, opts);
  std::vector<std::string> names;
  if (table.empty()) names = db.Db().GetTableNames(); else names.push_back(table);
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
                   f.SqlTypeName(), int(f.Size),
                   f.Required ? "required" : "optional");
    }
    t.Close();
  }
}

int64_t DumpTable(const std::string& file, const std::string& table, TDumpFormat format,
                  const TBrowseOptions& opts, std::FILE* out) {
  TOpenedDatabase db(file, opts);
  edb::TEdbTable t;
  t.SetDatabaseName(db.Db().DatabaseName());
  t.SetTableName(table);
  t.Open();
  std::vector<std::string> names;
  for (const edb::TEdbFieldDefInfo& f : t.FieldDefs()) names.push_back(f.Name);
  std::vector<edb::TEdbField*> fields;
  for (int i = 0; i < t.FieldCount(); ++i) fields.push_back(&t.Fields(i));

  TDumpWriter w(out, format, names, opts.TerminalSafe);
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

}  // namespace mrvtool
