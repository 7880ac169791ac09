#pragma once
// The record transfer as the conversion procedure sees it: one object per selected database,
// called at three points of the run. Each operation does nothing when the settings record's
// IsOk() is false on entry and reports its own failures through the settings record.

#include <functional>
#include <memory>
#include <string>

#include "DbConversionInfo_un.h"

namespace mrv {

class IDbTransfer {
 public:
  virtual ~IDbTransfer() = default;
  // Before the service is stopped: connect to the target, count its rows, ask through
  // OnTargetNotEmpty what to do with existing data, clear it if told to, disconnect.
  virtual void ConnectTarget() = 0;
  // After the temporary copies exist: open the copy at `path` and verify its tables and fields.
  // `path` is empty when no copy was made (the run is then no longer IsOk()).
  virtual void CheckSource(const std::string& path) = 0;
  // Copy every record of the copy at `path` into the target.
  virtual void Transfer(const std::string& path) = 0;
};

// Creates the transfer of one database kind for a run.
using TDbTransferFactory =
    std::function<std::unique_ptr<IDbTransfer>(TDbConversionInfo& info, TDatabaseKind kind)>;

// The factory TDbConverter uses when none is given: creates the production record transfer.
// Defined in DbTransferDefault_un.cpp; an empty factory makes a run record an error.
TDbTransferFactory DefaultDbTransferFactory();

}  // namespace mrv
