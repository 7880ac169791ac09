#include "ToolSummary.h"

#include "DbTransfer_un.h"
#include "ToolFormat.h"
#include "ToolOutputFile.h"

namespace mrvtool {
namespace {

std::int64_t At(const std::vector<std::int64_t>& v, size_t i, std::int64_t missing) {
  return i < v.size() ? v[i] : missing;
}

std::string Count(std::int64_t n) { return n < 0 ? "-" : std::to_string(n); }

std::string Fixed(double v, const char* format) {
  if (v < 0) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

void AppendCount(std::string& out, const char* key, std::int64_t n) {
  out += ",\"";
  out += key;
  out += "\":";
  out += n < 0 ? std::string("null") : std::to_string(n);
}

void AppendNumber(std::string& out, const char* key, double v, const char* format) {
  out += ",\"";
  out += key;
  out += "\":";
  out += v < 0 ? std::string("null") : Fixed(v, format);
}

const char* OutcomeName(TRunOutcome o) {
  switch (o) {
    case TRunOutcome::Success: return "success";
    case TRunOutcome::Error: return "error";
    case TRunOutcome::Cancelled: return "cancelled";
  }
  return "error";
}

}  // namespace

TRunSummary CollectRunSummary(const std::array<mrv::TDbTransfer*, 4>& transfers,
                              TRunOutcome outcome, int exitCode) {
  TRunSummary s;
  s.Outcome = outcome;
  s.ExitCode = exitCode;
  for (int k = 0; k < mrv::DatabaseKindCount; ++k) {
    const mrv::TDbTransfer* t = transfers[k];
    if (!t) continue;
    const auto& defs = mrv::TransferTableDefs(mrv::TDatabaseKind(k));
    for (size_t i = 0; i < defs.size(); ++i) {
      TTableSummary row;
      row.Database = mrv::DatabaseDisplayName(mrv::TDatabaseKind(k));
      row.Table = defs[i].Name;
      row.SourceRows = At(t->SourceCounts(), i, -1);
      row.RowsBefore = At(t->TargetCountsBefore(), i, -1);
      row.Deleted = At(t->DeletedPerTable(), i, 0);
      row.Inserted = At(t->CommittedPerTable(), i, 0);
      row.Seconds = i < t->SecondsPerTable().size() ? t->SecondsPerTable()[i] : 0.0;
      s.Tables.push_back(row);
    }
  }
  return s;
}

std::string TRunSummary::TargetNowLine() const {
  std::int64_t deleted = 0, inserted = 0, after = 0;
  bool afterKnown = true;
  for (const TTableSummary& t : Tables) {
    deleted += t.Deleted;
    inserted += t.Inserted;
    if (t.RowsAfter() < 0)
      afterKnown = false;
    else
      after += t.RowsAfter();
  }
  const char* again = Outcome == TRunOutcome::Cancelled
                          ? "run the same command again when ready"
                          : "correct the problem and run the same command again";
  if (deleted == 0 && inserted == 0)
    return std::string("The targets are unchanged: nothing was deleted or inserted; ") + again +
           ".";
  std::string line = "The targets now hold ";
  line += afterKnown ? std::to_string(after) + " rows" : std::string("the rows shown above");
  line += " (" + std::to_string(deleted) + " deleted, " + std::to_string(inserted) +
          " inserted by this run in whole batches of " + std::to_string(mrv::TransferBatchSize) +
          "); " + again + " with --existing delete to replace them.";
  return line;
}

void PrintRunSummary(const TRunSummary& s, std::FILE* out) {
  std::fprintf(out, "\n%-27s %-18s %11s %10s %10s %10s %10s %8s %9s\n", "Database", "Table",
               "Source rows", "Before", "Deleted", "Inserted", "After", "Seconds", "Rows/s");
  for (const TTableSummary& t : s.Tables)
    std::fprintf(out, "%-27s %-18s %11s %10s %10s %10s %10s %8s %9s\n", t.Database.c_str(),
                 t.Table.c_str(), Count(t.SourceRows).c_str(), Count(t.RowsBefore).c_str(),
                 Count(t.Deleted).c_str(), Count(t.Inserted).c_str(), Count(t.RowsAfter()).c_str(),
                 Fixed(t.Seconds, "%.2f").c_str(), Fixed(t.RowsPerSecond(), "%.0f").c_str());
  if (s.Outcome != TRunOutcome::Success) std::fprintf(out, "%s\n", s.TargetNowLine().c_str());
}

std::string RunSummaryJson(const TRunSummary& s) {
  std::string out = "{\"outcome\":";
  AppendJsonString(out, OutcomeName(s.Outcome));
  out += ",\"exitCode\":" + std::to_string(s.ExitCode) + ",\"tables\":[";
  for (size_t i = 0; i < s.Tables.size(); ++i) {
    const TTableSummary& t = s.Tables[i];
    out += i ? ",{\"database\":" : "{\"database\":";
    AppendJsonString(out, t.Database);
    out += ",\"table\":";
    AppendJsonString(out, t.Table);
    AppendCount(out, "sourceRows", t.SourceRows);
    AppendCount(out, "rowsBefore", t.RowsBefore);
    AppendCount(out, "deleted", t.Deleted);
    AppendCount(out, "inserted", t.Inserted);
    AppendCount(out, "rowsAfter", t.RowsAfter());
    AppendNumber(out, "seconds", t.Seconds, "%.3f");
    AppendNumber(out, "rowsPerSecond", t.RowsPerSecond(), "%.1f");
    out += "}";
  }
  out += "]";
  if (s.Outcome != TRunOutcome::Success) {
    out += ",\"targetNow\":";
    AppendJsonString(out, s.TargetNowLine());
  }
  out += "}\n";
  return out;
}

void WriteRunSummaryJson(const TRunSummary& s, const std::string& path) {
  TOutputFile file(path);
  const std::string text = RunSummaryJson(s);
  std::fwrite(text.data(), 1, text.size(), file.Get());
  file.Close();
}

}  // namespace mrvtool
