#pragma once
// The question convert asks on a terminal when a target already holds rows: it names the
// database and how many rows its target holds, and takes d, delete, k, keep, c or cancel in
// any case.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "DbConversionInfo_un.h"

namespace mrvtool {

// The answer a line gives (blanks around it ignored), or none for anything else.
std::optional<mrv::TTargetNotEmptyAnswer> ParseExistingRowsAnswer(std::string_view line);

// "The target Greylisting database already holds 1,500 rows. [d]elete them, [k]eep them or
// [c]ancel the conversion? " (without the count when `rows` is negative).
std::string ExistingRowsQuestion(mrv::TDatabaseKind kind, std::int64_t rows);

// The rows of all tables of a target database; -1 when they cannot be counted.
std::int64_t CountTargetDatabaseRows(const std::string& connectionString, mrv::TDatabaseKind kind);

}  // namespace mrvtool
