#pragma once
// convert --dry-run: every check of a conversion run without stopping the service, copying a
// file or writing to a target. The settings are validated; each target is connected to (a
// SQLite file that does not exist yet is not created) and its tables counted; the live source
// files are opened read-only and their tables and fields checked; the service is only
// queried; the free space for the temporary copies is measured. Prints the plan per database
// and table: source rows, rows already in the target and what --existing does with them.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "DbConversionInfo_un.h"
#include "ServiceControlIntf_un.h"

namespace mrvtool {

struct TDryRunSettings {
  std::string ServiceName;       // empty: the run controls no service
  std::string Existing = "ask";  // ask, delete, keep or cancel
  bool CanAsk = false;           // the run could ask its question on a terminal
  bool CreateSchema = false;     // missing target tables would be created
  std::uint32_t CodePage = 0;
  std::shared_ptr<mrv::IServiceControl> Services;  // default: the system's service manager
  std::function<std::int64_t(const std::string& folder)> FreeSpace;  // default: the system's
};

// Returns 0 when a real run with these settings would start, 1 otherwise (the problems are
// listed in the output).
int DryRunConversion(mrv::TDbConversionInfo& info, const TDryRunSettings& settings, std::FILE* out);

}  // namespace mrvtool
