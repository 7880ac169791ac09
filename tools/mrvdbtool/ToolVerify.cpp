#include "ToolVerify.h"

#include <cryptopp/sha.h>

#include "Ado.h"
#include "EdbMain.h"
#include "ToolSource.h"

namespace mrvtool {

namespace {

// Rows fetched per query when reading a target table.
constexpr int kPageRows = 5000;

std::uint64_t BigEndian64(const unsigned char* p) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
  return v;
}

// A source value as the transfer binds it, in canonical form.
void AddSourceValue(TCanonicalRow& row, const edb::TEdbVariant& v) {
  switch (v.Type()) {
    case edb::TEdbVarType::Null: row.Null(); break;
    case edb::TEdbVarType::DateTime: row.DateTime(v.AsDateTime()); break;
    case edb::TEdbVarType::Text: row.Text(v.AsText()); break;
    default: row.Text(v.ToString()); break;
  }
}

// A target value in canonical form; date columns through the date-time conversion, so that an
// engine that keeps date-times as text compares like one with a date-time type.
void AddTargetValue(TCanonicalRow& row, const ado::Variant& v, bool dateColumn) {
  if (v.IsNull()) {
    row.Null();
    return;
  }
  if (dateColumn) {
    try {
      row.DateTime(v.AsDateTime());
      return;
    } catch (const ado::EAdoError&) {
      // not a date-time: compared as the text it holds, which no source date-time matches
    }
  }
  if (const std::string* t = v.TextIfText())
    row.Text(*t);
  else
    row.Text(v.AsText());
}

bool IsSignature24(const mrv::TTransferParamDef& p) {
  return std::string_view(p.SourceField) == "GREY_SIGNATURE_24";
}

// The Greylisting signature the transfer inserts when the source has none: computed from the
// ANSI bytes of IP, sender and recipient. A null among them makes the transfer fail; it is
// written as a null here.
void AddComputedSignature(TCanonicalRow& row, edb::TEdbTable& t, std::uint32_t codePage) {
  const edb::TEdbVariant ip = t.FieldByName("GREY_IP").AsVariant();
  const edb::TEdbVariant sender = t.FieldByName("GREY_SENDER").AsVariant();
  const edb::TEdbVariant recipient = t.FieldByName("GREY_RECIPIENT").AsVariant();
  if (ip.IsNull() || sender.IsNull() || recipient.IsNull()) {
    row.Null();
    return;
  }
  row.Text(mrv::ComputeSignature24(edb::EdbUtf8ToAnsi(ip.ToString(), codePage),
                                   edb::EdbUtf8ToAnsi(sender.ToString(), codePage),
                                   edb::EdbUtf8ToAnsi(recipient.ToString(), codePage)));
}

TRowSetDigest DigestSourceTable(edb::TEdbTable& t, const mrv::TTransferTableDef& def,
                                std::uint32_t codePage) {
  std::vector<edb::TEdbField*> fields;
  for (const mrv::TTransferParamDef& p : def.Params)
    fields.push_back(t.FieldDefs().IndexOf(p.SourceField) >= 0 || !IsSignature24(p)
                         ? &t.FieldByName(p.SourceField)
                         : nullptr);
  TRowSetDigest digest;
  TCanonicalRow row;
  for (; !t.Eof(); t.Next()) {
    row.Clear();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (!IsSignature24(def.Params[i])) {
        AddSourceValue(row, fields[i]->AsVariant());
        continue;
      }
      edb::TEdbVariant stored;
      if (fields[i]) stored = fields[i]->AsVariant();
      if (!stored.IsNull() && !(stored.Type() == edb::TEdbVarType::Text && stored.AsText().empty()))
        AddSourceValue(row, stored);
      else
        AddComputedSignature(row, t, codePage);
    }
    digest.AddRow(row.Str());
  }
  return digest;
}

std::string ColumnList(const mrv::TTransferTableDef& def) {
  std::string cols = def.KeyColumn;
  for (const mrv::TTransferParamDef& p : def.Params) cols += std::string(", ") + p.Column;
  return cols;
}

// One page of a target table in key order: the rows whose key is greater than `after`.
std::string PageQuery(ado::Engine engine, const mrv::TTransferTableDef& def,
                      std::optional<std::int64_t> after, bool& paged) {
  const std::string where =
      after ? std::string(" WHERE ") + def.KeyColumn + " > " + std::to_string(*after)
            : std::string();
  const std::string order = std::string(" ORDER BY ") + def.KeyColumn;
  const std::string from = std::string(" FROM ") + def.Name;
  paged = true;
  switch (engine) {
    case ado::Engine::SqlServer:
    case ado::Engine::Access:
      return "SELECT TOP " + std::to_string(kPageRows) + " " + ColumnList(def) + from + where +
             order;
    case ado::Engine::Sqlite:
    case ado::Engine::PostgreSql:
    case ado::Engine::MySql:
      return "SELECT " + ColumnList(def) + from + where + order + " LIMIT " +
             std::to_string(kPageRows);
    case ado::Engine::Unknown: break;
  }
  paged = false;  // no known way to limit the rows: everything at once
  return "SELECT " + ColumnList(def) + from + where + order;
}

}  // namespace

void TRowSetDigest::AddRow(std::string_view canonicalRow) {
  unsigned char d[CryptoPP::SHA256::DIGESTSIZE];
  CryptoPP::SHA256().CalculateDigest(d, reinterpret_cast<const unsigned char*>(canonicalRow.data()),
                                     canonicalRow.size());
  const std::uint64_t lo = BigEndian64(d + 8);
  lo_ += lo;
  hi_ += BigEndian64(d) + (lo_ < lo ? 1 : 0);
  ++rows_;
}

std::string TRowSetDigest::Hex() const {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (std::uint64_t part : {hi_, lo_})
    for (int shift = 60; shift >= 0; shift -= 4) out += hex[(part >> shift) & 15];
  return out;
}

void TCanonicalRow::Text(std::string_view utf8) {
  text_ += 'T';
  text_ += std::to_string(utf8.size());
  text_ += ':';
  text_ += utf8;
  text_ += ';';
}

void TCanonicalRow::DateTime(double serial) {
  text_ += 'D';
  try {
    text_ += ado::FormatIsoDateTime(serial);
  } catch (const ado::EAdoError&) {
    text_ += "?" + std::to_string(serial);  // outside the calendar: compared as the number
  }
  text_ += ';';
}

std::vector<TRowSetDigest> DigestSourceFile(const std::string& path, mrv::TDatabaseKind kind,
                                            std::uint32_t codePage, const std::string& password) {
  TReadOnlySource source(path, codePage, password);
  std::vector<TRowSetDigest> digests;
  for (const mrv::TTransferTableDef& def : mrv::TransferTableDefs(kind)) {
    edb::TEdbTable t;
    t.SetDatabaseName(source.Alias());
    t.SetTableName(def.Name);
    t.Open();
    digests.push_back(DigestSourceTable(t, def, codePage));
    t.Close();
  }
  return digests;
}

TRowSetDigest DigestTargetTable(ado::Connection& connection, const mrv::TTransferTableDef& def,
                                std::optional<std::int64_t> afterKey) {
  TRowSetDigest digest;
  TCanonicalRow row;
  const ado::Engine engine = connection.GetDialect().GetEngine();
  ado::Command cmd;
  cmd.SetActiveConnection(connection);
  cmd.SetCommandType(ado::adCmdText);
  for (;;) {
    bool paged = false;
    cmd.SetCommandText(PageQuery(engine, def, afterKey, paged));
    ado::Recordset rs = cmd.Execute();
    int rows = 0;
    for (; !rs.Eof(); rs.MoveNext(), ++rows) {
      afterKey = rs.Fields(0).Value().AsInt64();
      row.Clear();
      for (size_t i = 0; i < def.Params.size(); ++i)
        AddTargetValue(row, rs.Fields(static_cast<int>(i) + 1).Value(),
                       def.Params[i].Type == ado::adDate);
      digest.AddRow(row.Str());
    }
    rs.Close();
    if (!paged || rows < kPageRows) return digest;
  }
}

TTargetRows CountTargetRows(ado::Connection& connection, const mrv::TTransferTableDef& def) {
  ado::Command cmd;
  cmd.SetActiveConnection(connection);
  cmd.SetCommandType(ado::adCmdText);
  cmd.SetCommandText(std::string("SELECT COUNT(*), MAX(") + def.KeyColumn + ") FROM " + def.Name);
  ado::Recordset rs = cmd.Execute();
  TTargetRows rows;
  if (!rs.Eof()) {
    rows.Count = rs.Fields(0).Value().AsInt64();
    if (!rs.Fields(1).Value().IsNull()) rows.MaxKey = rs.Fields(1).Value().AsInt64();
  }
  rs.Close();
  return rows;
}

int PrintVerification(const std::vector<TTableVerification>& tables, std::FILE* out) {
  std::fprintf(out, "\n%-27s %-18s %12s %12s  %-16s  %-16s  %s\n", "Database", "Table",
               "Source rows", "Target rows", "Source digest", "Target digest", "Result");
  int differing = 0;
  std::vector<std::string> notes;
  for (const TTableVerification& t : tables) {
    const char* result = t.Same() ? "same" : t.Problem.empty() ? "DIFFERENT" : "NOT COMPARED";
    if (!t.Same()) ++differing;
    std::fprintf(out, "%-27s %-18s %12lld %12lld  %-16.16s  %-16.16s  %s\n",
                 mrv::DatabaseDisplayName(t.Kind), t.Table.c_str(),
                 static_cast<long long>(t.Source.Rows()), static_cast<long long>(t.Target.Rows()),
                 t.Source.Hex().c_str(), t.Target.Hex().c_str(), result);
    if (t.KeptRows)
      notes.push_back(t.Table + ": " + std::to_string(*t.KeptRows) +
                      " rows were already in the target and kept; only the rows added after "
                      "them were compared.");
    if (!t.Problem.empty()) notes.push_back(t.Table + ": " + t.Problem);
  }
  for (const std::string& n : notes) std::fprintf(out, "%s\n", n.c_str());
  if (differing == 0)
    std::fprintf(out, "Verification passed: every target table holds the rows of its source.\n");
  else
    std::fprintf(out, "Verification failed: %d table%s differ%s from the source.\n", differing,
                 differing == 1 ? "" : "s", differing == 1 ? "s" : "");
  std::fflush(out);
  return differing;
}

}  // namespace mrvtool
