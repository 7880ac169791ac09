// The text side of the native PostgreSQL backend, free of the client library so that every
// build can test it: connection parameters from the connection string, "?" placeholders as
// "$n", the plain INSERT that a batch can load with COPY, and the COPY text format.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "AdoBackend.h"

namespace ado::detail {

// Keyword/value pairs for the client library. A "postgresql://" URI is passed on whole as
// "dbname" (the library reads it); a "Provider=PostgreSQL;..." string has its keys mapped:
// Host/Server, Port, Database/Initial Catalog, User/Uid/User ID/Username, Password/Pwd; other
// keys reach the library in lower case with blanks as "_" (sslmode, options, connect_timeout,
// application_name, ...), except ConnSettings, SQL run once connected. The client encoding is
// always UTF-8.
struct PgConnectParams {
  std::vector<std::string> Keys, Values;
  std::string Settings;  // ConnSettings
  bool ExpandDbname = false;
  // The keys and values as the client library's null-terminated arrays (valid while this
  // object lives unchanged).
  void Arrays(std::vector<const char*>& keys, std::vector<const char*>& values) const;
};
PgConnectParams PostgresConnectParams(const std::string& connectionString);

// `sql` with every "?" outside quotes, quoted identifiers and comments numbered "$1", "$2", ...
std::string NumberPlaceholders(const std::string& sql);

// "INSERT INTO table(col, ...) VALUES(?, ...)" with one placeholder per column and nothing
// else (blanks, line breaks and a final ";" allowed): the statement a COPY of the same columns
// replaces. Returns false for every other text.
struct PgCopyTarget {
  std::string Table;    // as written
  std::string Columns;  // "(col, ...)" as written
  std::size_t Count = 0;
};
bool PlainInsertTarget(const std::string& sql, PgCopyTarget& target);

// Appends one row in COPY's text format: tab-separated, "\N" for null, backslash, tab,
// carriage return and line feed escaped, date-times as "YYYY-MM-DD HH:MM:SS.mmm", numbers in
// full precision; ends with a line feed. Text holding a NUL character (which the server cannot
// store) raises EAdoError; on any error `line` is left as it was.
void AppendCopyRow(std::string& line, const std::vector<ParameterSpec>& params,
                   const std::vector<const Variant*>& values);

// A value as a text parameter for the server ("" for null; `isNull` tells).
std::string PgParameterText(DataTypeEnum type, const Variant& value, bool& isNull);

// The 1-based line a COPY error names in its context ("COPY t, line 5, column c: ..."), or 0.
int CopyContextLine(std::string_view context);

// "YYYY-MM-DD HH:MM:SS.mmm" written to `out` (at least 24 bytes) without allocating.
void WritePgTimestamp(double serial, char* out);

}  // namespace ado::detail
