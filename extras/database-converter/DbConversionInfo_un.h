#pragma once
// The settings record of one conversion run: which databases to convert, from where and to
// where; the callbacks through which the run reports status lines and progress and asks its
// questions; the run's cancel flag and its single error text.

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace mrv {

// The four databases, in the fixed order every per-database array and loop uses.
enum TDatabaseKind : std::uint8_t { dkAswl = 0, dkGrey = 1, dkDha = 2, dkHoneypot = 3 };
inline constexpr int DatabaseKindCount = 4;

// Display names used in run messages, indexed by TDatabaseKind.
extern const std::array<const char*, DatabaseKindCount> DatabaseDisplayNames;
// The display name of a kind; raises std::out_of_range ("Not implemented.") for other values.
const char* DatabaseDisplayName(TDatabaseKind kind);

// Answer to "the target already holds data".
enum TTargetNotEmptyAnswer : std::uint8_t { taDelete = 0, taKeep = 1, taCancel = 2 };

// Settings of one database. Strings are UTF-8.
struct TConversionTask {
  bool Selected = false;
  std::string SourcePath;              // exactly as the user typed it (not trimmed)
  std::string TargetConnectionString;  // connection string of the External Database
  // Password of an encrypted source file (UTF-8). Unset (the wizard), the file is opened
  // without one and a file that does not open gets the general message. Set (also to an empty
  // text), the file is opened with it, and a file that refuses it gets a message naming the
  // file and saying whether the password was missing or wrong.
  std::optional<std::string> SourcePassword;
};

// An exception that carries an automation-style error code and source besides its message
// (the target-database layer's errors). SetFormattedError prints the longer detail block for
// these. Any exception type may implement it alongside std::exception.
class IAutomationError {
 public:
  virtual ~IAutomationError() = default;
  virtual std::int32_t ErrorCode() const noexcept = 0;
  virtual std::string ErrorSource() const = 0;
};

// Readable class name of an exception object ("EEdbException", "runtime_error"): the dynamic
// type's name without namespace qualification.
std::string ExceptionClassName(const std::exception& e);

// The detail block appended to an error text for an exception:
//   automation errors: "Error %s.\r\nError code: %d.\r\nSource: %s.\r\n\"%s\""
//   any other:         "Error %s.\r\n\"%s\""
std::string ExceptionDetailBlock(const std::exception& e);

class TDbConversionInfo {
 public:
  // Callbacks; an empty std::function is an absent callback and is skipped.
  using TProgressEvent = std::function<void(std::int64_t done, std::int64_t total)>;
  using TStatusEvent = std::function<void(const std::string& text)>;
  using TTargetNotEmptyEvent =
      std::function<void(TDatabaseKind kind, TTargetNotEmptyAnswer& answer)>;
  using TBeforeServiceStopEvent = std::function<void(bool& cancel)>;
  using TServiceProblemEvent = std::function<void(bool serviceWasStopped)>;

  TDbConversionInfo() = default;
  TDbConversionInfo(const TDbConversionInfo&) = delete;
  TDbConversionInfo& operator=(const TDbConversionInfo&) = delete;

  std::array<TConversionTask, DatabaseKindCount> Tasks;
  TProgressEvent OnProgress;
  TStatusEvent OnStatus;
  TTargetNotEmptyEvent OnTargetNotEmpty;
  TBeforeServiceStopEvent OnBeforeServiceStop;
  TServiceProblemEvent OnServiceProblem;
  // Set when the run is cancelled; only ever goes from false to true.
  std::atomic<bool> Cancelled{false};

  TConversionTask& Task(TDatabaseKind kind);
  const TConversionTask& Task(TDatabaseKind kind) const;

  // True when no error is recorded and the run is not cancelled. Any thread.
  bool IsOk() const;
  // A copy of the error text. Any thread.
  std::string GetError() const;
  // Replaces the error text. Never throws: if storing fails, the failure is shown to the user
  // (a message box on Windows, standard error elsewhere).
  void SetError(const std::string& text) noexcept;
  // Formats the message; when `e` is given appends "\r\n\r\n" and its detail block; stores it.
  void SetFormattedError(const std::exception* e, const char* fmt, ...) noexcept
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;

  // Forward to the callbacks when present.
  void ReportStatus(const std::string& text) const;
  void ReportStatusFmt(const char* fmt, ...) const
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  void ReportProgress(std::int64_t done, std::int64_t total) const;
  // Asks OnTargetNotEmpty; the answer starts as taDelete and stays so when absent.
  TTargetNotEmptyAnswer AskTargetNotEmpty(TDatabaseKind kind) const;

  // Checks the settings before anything is touched; reports only through SetError.
  void Validate();

 private:
  mutable std::mutex lock_;
  std::string errorMessage_;
};

// Shows the fallback notice when an error text could not be stored (platform half).
void ShowErrorStoreFailure(const std::string& text) noexcept;

}  // namespace mrv
