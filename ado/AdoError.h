// The one exception type of the target-database access layer. Every backend (SQLite, ODBC,
// ADO automation) reports its failures as EAdoError with the provider's message, a numeric
// error code and the error source, so callers print the same detail block whatever the backend.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ado {

// Error codes of the layer itself (automation-style HRESULTs, shown signed).
inline constexpr std::int32_t kErrTypeMismatch = static_cast<std::int32_t>(0x80020005u);
inline constexpr std::int32_t kErrInvalidArgument = static_cast<std::int32_t>(0x80070057u);
inline constexpr std::int32_t kErrNotConnected = static_cast<std::int32_t>(0x800A0E78u);
inline constexpr std::int32_t kErrClassNotRegistered = static_cast<std::int32_t>(0x80040154u);

// Source names used by the backends.
inline constexpr const char* kSourceAccessLayer = "Mrv.Ado";
inline constexpr const char* kSourceSqlite = "SQLite";
inline constexpr const char* kSourceOdbc = "ODBC";
inline constexpr const char* kSourcePostgreSql = "PostgreSQL";

class EAdoError : public std::runtime_error {
 public:
  // componentUnavailable marks a failure to create the provider's machinery at all (the
  // automation component is missing, the ODBC driver manager cannot be loaded), as opposed
  // to a provider that exists but rejects a string or fails to connect.
  EAdoError(const std::string& message, std::int32_t errorCode, std::string source,
            bool componentUnavailable = false);

  const std::string& Message() const noexcept { return message_; }
  std::int32_t ErrorCode() const noexcept { return code_; }
  std::string ErrorSource() const { return source_; }
  bool ComponentUnavailable() const noexcept { return componentUnavailable_; }

  // For rows that travelled together (see Command::SetQueueRows): the 0-based position of the
  // row that failed among them and how many were sent; -1 and 0 for every other failure.
  int FailedRowIndex() const noexcept { return failedRow_; }
  int RowsSent() const noexcept { return rowsSent_; }
  void SetFailedRow(int index, int rowsSent) noexcept {
    failedRow_ = index;
    rowsSent_ = rowsSent;
  }

 private:
  std::string message_;
  std::int32_t code_;
  std::string source_;
  bool componentUnavailable_;
  int failedRow_ = -1;
  int rowsSent_ = 0;
};

}  // namespace ado
