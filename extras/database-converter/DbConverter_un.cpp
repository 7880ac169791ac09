// The conversion procedure: stage order, clean-up guarantees and the service and copy stages.
#include "DbConverter_un.h"

#include "FileDuplication_un.h"

namespace mrv {

namespace {

constexpr const char* StopTimeoutText = "Timeout error while wating for the Mrv service to stop.";
constexpr const char* StartTimeoutText = "Timeout error while wating for the Mrv service to start.";

// The drive a folder lies on, as the not-enough-space message names it: the drive letter of
// "C:\...", the backslash of a network path, otherwise (POSIX) the folder itself.
std::string DriveLabel(const std::string& folder) {
  if (folder.size() >= 2 && folder[1] == ':') return folder.substr(0, 1);
  if (!folder.empty() && folder[0] == '\\') return "\\";
  return folder;
}

}  // namespace

TDbConverter::TDbConverter(TDbConversionInfo& info, TDbTransferFactory factory,
                           std::shared_ptr<IServiceControl> services)
    : info_(info),
      services_(services ? std::move(services) : DefaultServiceControl()),
      freeSpace_(&TFileDuplication::GetFreeBytes) {
  if (!factory) factory = DefaultDbTransferFactory();
  if (!factory) return;  // Run records the missing transfers as an error
  for (int k = 0; k < DatabaseKindCount; ++k)
    if (info_.Tasks[k].Selected) transfers_[k] = factory(info_, static_cast<TDatabaseKind>(k));
}

TDbConverter::~TDbConverter() = default;

void TDbConverter::Run() {
  auto finalStep = [this] {
    if (succeeded_)
      info_.ReportStatus("Conversion finished successfully.");
    else if (info_.Cancelled.load())
      info_.ReportStatus("Conversion cancelled.");
    else
      info_.ReportStatus("Conversion was aborted due to an error.");
    if (serviceProblem_ && info_.OnServiceProblem) info_.OnServiceProblem(serviceStopped_);
  };
  try {
    info_.ReportStatus("Database conversion started.");
    info_.Validate();
    for (int k = 0; k < DatabaseKindCount; ++k)
      if (info_.IsOk() && info_.Tasks[k].Selected && !transfers_[k])
        info_.SetError("Not implemented.");

    try {
      for (int k = 0; k < DatabaseKindCount; ++k)
        if (info_.Tasks[k].Selected && transfers_[k]) transfers_[k]->ConnectTarget();

      if (info_.IsOk()) {
        // The service comes back whatever happens once this run has stopped it.
        try {
          StopService();
          CheckDiskSpace();
          CreateCopies();
        } catch (...) {
          if (serviceStopped_) RestartService();
          throw;
        }
        if (serviceStopped_) RestartService();
      }

      for (int k = 0; k < DatabaseKindCount; ++k)
        if (info_.Tasks[k].Selected && transfers_[k]) transfers_[k]->CheckSource(tempPaths_[k]);

      if (info_.IsOk()) {
        for (int k = 0; k < DatabaseKindCount; ++k)
          if (info_.Tasks[k].Selected && transfers_[k]) transfers_[k]->Transfer(tempPaths_[k]);
        if (info_.IsOk()) succeeded_ = true;
      }
    } catch (...) {
      RemoveCopies();
      throw;
    }
    RemoveCopies();
  } catch (...) {
    finalStep();
    throw;
  }
  finalStep();
}

void TDbConverter::Cancel() {
  if (info_.IsOk()) info_.ReportStatus("Cancelling operation...");
  std::lock_guard<std::mutex> guard(lock_);
  info_.Cancelled.store(true);
  if (duplication_) duplication_->Cancel();
  if (serviceOperationId_ != 0) services_->CancelOperation(serviceOperationId_);
}

void TDbConverter::ServiceFinished(bool isStop, const std::string& errorText,
                                   std::uint8_t outcome) {
  // Runs on the service operation's thread; the worker reads these after the event.
  {
    std::lock_guard<std::mutex> guard(doneLock_);
    if (outcome == soReached) {
      if (isStop) serviceStopped_ = true;
    } else {
      serviceProblem_ = true;
      if (outcome == soError) serviceError_ = errorText;
      if (outcome == soTimedOut) serviceError_ = isStop ? StopTimeoutText : StartTimeoutText;
    }
    serviceDone_ = true;
    // Notified under the lock: once the worker sees the event it may end the run and destroy
    // this object, so nothing here may touch it after the lock is released.
    doneCv_.notify_all();
  }
}

std::string TDbConverter::WaitForService(std::int32_t operationId) {
  (void)operationId;
  std::string error;
  {
    std::unique_lock<std::mutex> wait(doneLock_);
    doneCv_.wait(wait, [this] { return serviceDone_; });
    serviceDone_ = false;  // auto-reset
    error = serviceError_;
  }
  std::lock_guard<std::mutex> guard(lock_);
  serviceOperationId_ = 0;
  return error;
}

void TDbConverter::StopService() {
  if (serviceName_.empty()) return;
  if (!services_->ServiceExists(serviceName_) || !services_->IsServiceRunning(serviceName_)) return;

  bool cancel = false;
  if (info_.OnBeforeServiceStop) info_.OnBeforeServiceStop(cancel);
  if (cancel) {
    Cancel();
    return;
  }
  info_.ReportStatus("Stopping the Mrv service...");
  std::int32_t id;
  {
    std::lock_guard<std::mutex> guard(lock_);
    // A cancel since the run-state test before this stage found no operation to cancel; under
    // the lock none can slip in between this test and the registration below.
    if (!info_.IsOk()) return;
    id = services_->StopServiceAsync(serviceName_, MrvServiceTimeoutMs, false,
                                     [this](const std::string& text, std::uint8_t outcome) {
                                       ServiceFinished(true, text, outcome);
                                     });
    serviceOperationId_ = id;
  }
  const std::string error = WaitForService(id);
  if (!error.empty())
    info_.SetFormattedError(nullptr, "Could not stop the Mrv service.\r\n\r\n\"%s\"",
                            error.c_str());
  else
    info_.ReportStatus("Stopped the Mrv service.");
}

void TDbConverter::RestartService() {
  info_.ReportStatus("Restarting the Mrv service...");
  std::int32_t id;
  {
    std::lock_guard<std::mutex> guard(lock_);
    id = services_->StartServiceAsync(serviceName_, MrvServiceTimeoutMs, nullptr, false,
                                      [this](const std::string& text, std::uint8_t outcome) {
                                        ServiceFinished(false, text, outcome);
                                      });
    serviceOperationId_ = id;
  }
  const std::string error = WaitForService(id);
  if (!error.empty())
    info_.SetFormattedError(nullptr, "Could not restart the Mrv service.\r\n\r\n\"%s\"",
                            error.c_str());
  else
    info_.ReportStatus("Mrv service started.");
}

void TDbConverter::CheckDiskSpace() {
  std::int64_t total = 0;
  for (int k = 0; k < DatabaseKindCount; ++k) {
    if (!info_.IsOk() || !info_.Tasks[k].Selected) continue;
    std::string errorText;
    const std::int64_t size = TFileDuplication::GetFileSize(info_.Tasks[k].SourcePath, errorText);
    if (!errorText.empty()) {
      // The text names the user's path; it is a message, not a format.
      info_.SetFormattedError(nullptr, "%s", errorText.c_str());
    } else {
      total += size;
    }
  }
  if (!info_.IsOk()) return;

  // The free space of the temporary folder itself, so network folders are measured too.
  const std::string folder = TFileDuplication::GetTempFolder();
  const std::int64_t free = freeSpace_ ? freeSpace_(folder) : -1;
  if (free < total)
    info_.SetFormattedError(
        nullptr, "There is not enough space on drive %s.\r\n%lld additional bytes needed.",
        DriveLabel(folder).c_str(), static_cast<long long>(total - free));
}

void TDbConverter::CreateCopies() {
  TFileDuplication duplication;
  duplication.OnProgress = [this](std::int64_t done, std::int64_t total) {
    info_.ReportProgress(done, total);
  };
  {
    std::lock_guard<std::mutex> guard(lock_);
    duplication_ = &duplication;
  }
  struct TForget {
    TDbConverter* self;
    ~TForget() {
      std::lock_guard<std::mutex> guard(self->lock_);
      self->duplication_ = nullptr;
    }
  } forget{this};

  for (int k = 0; k < DatabaseKindCount; ++k) {
    const TConversionTask& task = info_.Tasks[k];
    if (task.Selected && info_.IsOk()) {
      info_.ReportStatusFmt("Creating temporary copy of the %s database...",
                            DatabaseDisplayNames[k]);
      try {
        std::string tempPath;
        if (duplication.Duplicate(task.SourcePath, TempFilePrefix, tempPath))
          tempPaths_[k] = tempPath;
      } catch (const std::exception& e) {
        info_.SetFormattedError(&e, "Failed to duplicate file '%s.'", task.SourcePath.c_str());
      }
    }
    if (!info_.IsOk()) break;
  }
  if (info_.IsOk()) info_.ReportStatus("Finished creating temporary copies.");
}

void TDbConverter::RemoveCopies() {
  bool any = false;
  for (auto& path : tempPaths_) {
    if (path.empty()) continue;
    if (!any) info_.ReportStatus("Removing temporary files...");
    any = true;
    std::string errorText;
    if (!TFileDuplication::RemoveFile(path, errorText))
      info_.ReportStatusFmt(
          "Could not remove temporary database copy \r\n'%s'.\r\n\r\nError: \"%s\"", path.c_str(),
          errorText.c_str());
    path.clear();
  }
  if (any) info_.ReportStatus("Finished removing the temporary files.");
}

}  // namespace mrv
