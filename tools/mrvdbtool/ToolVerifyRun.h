#pragma once
// The two ways a verification runs: after a conversion (convert --verify), where the source
// side is digested from the run's own temporary copies, so that rows the mail filter wrote
// after the copy was taken do not count as differences; and on its own (mrvdbtool verify),
// where the live files are read read-only and the whole target tables are compared.

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "DbTransfer_un.h"
#include "ToolVerify.h"

namespace mrvtool {

class TConvertVerification {
 public:
  explicit TConvertVerification(std::uint32_t codePage) : codePage_(codePage) {}

  // Wraps the run's transfers: after ConnectTarget the rows a target keeps are noted (their
  // count and largest key), after Transfer the temporary copy is digested before the run
  // removes it. The wrapper's work never fails the run; a failure is reported by Finish.
  mrv::TDbTransferFactory Wrap(mrv::TDbTransferFactory inner);

  // After a successful run: compares every transferred table with its target (only the rows
  // after the kept ones where rows were kept), prints the table and returns 0, or
  // VerifyDifferenceExitCode when a table differs or could not be compared.
  int Finish(const mrv::TDbConversionInfo& info, std::FILE* out);

 private:
  friend class TVerifyingTransfer;
  struct TKind {
    bool Transferred = false;
    std::vector<TTargetRows> Kept;  // per table: rows left in the target before the insert
    std::vector<TRowSetDigest> Source;
    std::string Problem;
  };
  std::uint32_t codePage_;
  std::array<TKind, mrv::DatabaseKindCount> kinds_;
};

// Compares the selected databases' live source files with their whole target tables, prints
// the table and returns 0, VerifyDifferenceExitCode on a difference, or 1 when the settings
// are incomplete.
int VerifyDatabases(const mrv::TDbConversionInfo& info, std::uint32_t codePage, std::FILE* out);

}  // namespace mrvtool
