// Rows sent together through ODBC parameter arrays: the queue behind Command::SetQueueRows for
// drivers that execute a statement once for many parameter sets and report a status per set.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "AdoBackend.h"
#include "AdoOdbcApi.h"

namespace ado::detail {

// How a parameter of `type` is bound: C type, SQL type, decimal digits and column size (0 for
// text, whose size comes from the parameter or the value).
struct OdbcParamType {
  SQLSMALLINT CType, SqlType, Digits;
  SQLULEN ColumnSize;
};
OdbcParamType OdbcParamTypeOf(DataTypeEnum type) noexcept;

// A date-time value as ODBC's timestamp, to the millisecond.
SQL_TIMESTAMP_STRUCT OdbcTimestamp(const Variant& value);

// True when the driver of `dbc` executes parameter arrays (SQL_PARAM_ARRAY_ROW_COUNTS is
// SQL_PARC_BATCH, a count per set, or SQL_PARC_NO_BATCH, one count for all of them).
bool OdbcSupportsParameterArrays(SQLHDBC dbc) noexcept;

// Gives `statement` (prepared on `stmt` with `params`) a queue of up to 10,000 rows sent as
// column-wise parameter arrays when the driver of `dbc` supports them; otherwise returns it
// as it is. Row-by-row execution stays with `statement`. `ensureUsable` raises when the
// connection may no longer send anything; it is asked before every send.
std::unique_ptr<BackendStatement> WithParameterArrays(SQLHDBC dbc, SQLHSTMT stmt,
                                                      const std::vector<ParameterSpec>& params,
                                                      std::function<void()> ensureUsable,
                                                      std::unique_ptr<BackendStatement> statement);

}  // namespace ado::detail
