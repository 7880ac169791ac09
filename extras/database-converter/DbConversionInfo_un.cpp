// The settings record of a run: error recording, reporting and validation.
#include "DbConversionInfo_un.h"

#include "Ado.h"
#include "BaseText.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <typeinfo>
#include <vector>

#if defined(__GNUG__)
#include <cxxabi.h>
#include <cstdlib>
#endif

namespace mrv {

const std::array<const char*, DatabaseKindCount> DatabaseDisplayNames = {
    "Automatic Sender Whitelist", "Greylisting", "DHA Protection", "Honeypot"};

const char* DatabaseDisplayName(TDatabaseKind kind) {
  if (static_cast<int>(kind) >= DatabaseKindCount) throw std::out_of_range("Not implemented.");
  return DatabaseDisplayNames[kind];
}

namespace {

std::string StripQualification(std::string name) {
  for (const char* prefix : {"class ", "struct "}) {
    const std::string p(prefix);
    if (name.compare(0, p.size(), p) == 0) name.erase(0, p.size());
  }
  // Drop namespaces, but only outside template arguments.
  const size_t angle = name.find('<');
  const size_t colon = name.rfind("::", angle == std::string::npos ? std::string::npos : angle);
  if (colon != std::string::npos) name.erase(0, colon + 2);
  return name;
}

}  // namespace

std::string ExceptionClassName(const std::exception& e) {
  const char* raw = typeid(e).name();
#if defined(__GNUG__)
  int status = 0;
  char* demangled = abi::__cxa_demangle(raw, nullptr, nullptr, &status);
  if (status == 0 && demangled) {
    std::string name(demangled);
    std::free(demangled);
    return StripQualification(name);
  }
#endif
  return StripQualification(raw);
}

std::string ExceptionDetailBlock(const std::exception& e) {
  const std::string className = ExceptionClassName(e);
  if (const auto* adoError = dynamic_cast<const ado::EAdoError*>(&e)) {
    return base::Format("Error %s.\r\nError code: %d.\r\nSource: %s.\r\n\"%s\"", className.c_str(),
                        static_cast<int>(adoError->ErrorCode()), adoError->ErrorSource().c_str(),
                        adoError->Message().c_str());
  }
  if (const auto* automation = dynamic_cast<const IAutomationError*>(&e)) {
    return base::Format("Error %s.\r\nError code: %d.\r\nSource: %s.\r\n\"%s\"", className.c_str(),
                        static_cast<int>(automation->ErrorCode()),
                        automation->ErrorSource().c_str(), e.what());
  }
  return base::Format("Error %s.\r\n\"%s\"", className.c_str(), e.what());
}

TConversionTask& TDbConversionInfo::Task(TDatabaseKind kind) {
  if (static_cast<int>(kind) >= DatabaseKindCount) throw std::out_of_range("Not implemented.");
  return Tasks[kind];
}

const TConversionTask& TDbConversionInfo::Task(TDatabaseKind kind) const {
  if (static_cast<int>(kind) >= DatabaseKindCount) throw std::out_of_range("Not implemented.");
  return Tasks[kind];
}

bool TDbConversionInfo::IsOk() const {
  std::lock_guard<std::mutex> guard(lock_);
  return errorMessage_.empty() && !Cancelled.load();
}

std::string TDbConversionInfo::GetError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return errorMessage_;
}

void TDbConversionInfo::SetError(const std::string& text) noexcept {
  try {
    std::lock_guard<std::mutex> guard(lock_);
    errorMessage_ = text;
  } catch (const std::exception& e) {
    try {
      ShowErrorStoreFailure(base::Format(
          "Could not set error message.\r\nException: %s.\r\n\"%s\"\r\n\r\nError to be set:\r\n%s",
          ExceptionClassName(e).c_str(), e.what(), text.c_str()));
    } catch (...) {
    }
  }
}

void TDbConversionInfo::SetFormattedError(const std::exception* e, const char* fmt, ...) noexcept {
  std::string message;
  try {
    va_list args;
    va_start(args, fmt);
    message = base::FormatV(fmt, args);
    va_end(args);
    if (e) message += "\r\n\r\n" + ExceptionDetailBlock(*e);
  } catch (const std::exception& failure) {
    // Keep whatever could be built; SetError reports its own failures.
    if (message.empty()) message = fmt;
    (void)failure;
  }
  SetError(message);
}

void TDbConversionInfo::ReportStatus(const std::string& text) const {
  if (OnStatus) OnStatus(text);
}

void TDbConversionInfo::ReportStatusFmt(const char* fmt, ...) const {
  va_list args;
  va_start(args, fmt);
  std::string text;
  try {
    text = base::FormatV(fmt, args);
  } catch (...) {
    va_end(args);
    throw;
  }
  va_end(args);
  ReportStatus(text);
}

void TDbConversionInfo::ReportProgress(std::int64_t done, std::int64_t total) const {
  if (OnProgress) OnProgress(done, total);
}

TTargetNotEmptyAnswer TDbConversionInfo::AskTargetNotEmpty(TDatabaseKind kind) const {
  TTargetNotEmptyAnswer answer = taDelete;
  if (OnTargetNotEmpty) OnTargetNotEmpty(kind, answer);
  return answer;
}

void TDbConversionInfo::Validate() {
  if (IsOk()) {
    bool any = false;
    for (const auto& task : Tasks) any = any || task.Selected;
    if (!any) SetError("No database specified to be converted.");
  }
  for (int k = 0; k < DatabaseKindCount; ++k) {
    const auto& task = Tasks[k];
    if (!task.Selected) continue;
    if (IsOk() && task.SourcePath.empty())
      SetFormattedError(nullptr, "Empty %s source filename.", DatabaseDisplayNames[k]);
    if (IsOk() && task.TargetConnectionString.empty())
      SetFormattedError(nullptr, "Empty %s target connection string.", DatabaseDisplayNames[k]);
  }
  for (int k = 0; k < DatabaseKindCount && IsOk(); ++k) {
    const auto& task = Tasks[k];
    if (!task.Selected) continue;
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::u8string u8(task.SourcePath.begin(), task.SourcePath.end());
    const fs::file_status status = fs::status(fs::path(u8), ec);
    if (ec || !fs::exists(status)) {
      SetFormattedError(nullptr,
                        "Source file '%s' does not exist.\r\n\r\nPlease provide a valid file path.",
                        task.SourcePath.c_str());
    } else if (fs::is_directory(status)) {
      SetFormattedError(nullptr, "Source file '%s' is a directory.", task.SourcePath.c_str());
    }
  }
}

}  // namespace mrv
