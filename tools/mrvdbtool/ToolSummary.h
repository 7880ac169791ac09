#pragma once
// The summary of a conversion run: per table the source rows, the rows the target held before,
// the rows deleted and inserted (committed batches only), the rows it holds now, the time and
// the rate. Taken from the transfers' own counters, printed after every run (success, error or
// cancel) and written as JSON for scripts with --summary-json.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mrv {
class TDbTransfer;
}

namespace mrvtool {

struct TTableSummary {
  std::string Database;
  std::string Table;
  std::int64_t SourceRows = -1;  // -1: the run did not get as far as reading it
  std::int64_t RowsBefore = -1;  // -1: the target was never counted
  std::int64_t Deleted = 0;
  std::int64_t Inserted = 0;  // committed rows only
  double Seconds = 0;

  // RowsBefore - Deleted + Inserted, or -1 when RowsBefore is unknown.
  std::int64_t RowsAfter() const { return RowsBefore < 0 ? -1 : RowsBefore - Deleted + Inserted; }
  // Inserted rows per second, or -1 without a measurable time.
  double RowsPerSecond() const { return Seconds > 0 ? Inserted / Seconds : -1; }
};

enum class TRunOutcome { Success, Error, Cancelled };

struct TRunSummary {
  TRunOutcome Outcome = TRunOutcome::Success;
  int ExitCode = 0;
  std::vector<TTableSummary> Tables;

  // After an error or a cancel: one line saying what the targets now hold and what to run next.
  std::string TargetNowLine() const;
};

// Reads the counters of the transfers the run made (null entries are skipped).
TRunSummary CollectRunSummary(const std::array<mrv::TDbTransfer*, 4>& transfers,
                              TRunOutcome outcome, int exitCode);

// The table, preceded by an empty line; after an error or a cancel followed by TargetNowLine.
void PrintRunSummary(const TRunSummary& summary, std::FILE* out);

// The summary as one JSON object (unknown counts as null), ending in a line break.
std::string RunSummaryJson(const TRunSummary& summary);

// Writes RunSummaryJson to `path`; raises std::runtime_error naming the file when it fails.
void WriteRunSummaryJson(const TRunSummary& summary, const std::string& path);

}  // namespace mrvtool
