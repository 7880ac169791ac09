#pragma once
// One conversion from start to end: validate the settings, prepare the targets, stop the mail
// filter's service while temporary copies of the databases are made, restart it, check and
// transfer every selected database, remove the copies and report the outcome. Failures are
// recorded in the settings record, never raised; clean-up stages always run.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "DbConversionInfo_un.h"
#include "DbTransferIntf_un.h"
#include "ServiceControlIntf_un.h"

namespace mrv {

class TFileDuplication;

inline constexpr const char* MrvServiceName = "MRVSVC";
inline constexpr std::uint32_t MrvServiceTimeoutMs = 300000;
inline constexpr const char* TempFilePrefix = "mrv";

class TDbConverter {
 public:
  // Bytes available in a folder, -1 when unknown.
  using TFreeSpaceQuery = std::function<std::int64_t(const std::string& folder)>;

  // Creates one transfer per selected task through `factory` (DefaultDbTransferFactory() when
  // empty); `services` defaults to DefaultServiceControl().
  explicit TDbConverter(TDbConversionInfo& info, TDbTransferFactory factory = {},
                        std::shared_ptr<IServiceControl> services = {});
  ~TDbConverter();
  TDbConverter(const TDbConverter&) = delete;
  TDbConverter& operator=(const TDbConverter&) = delete;

  // The whole conversion, on the worker thread. Called once. An exception escapes only after
  // the clean-up steps and the outcome line.
  void Run();
  // From any other thread during Run: sets the cancel flag, aborts a running copy and cancels
  // a running service operation (returning once its thread has ended).
  void Cancel();

  // Replaces the free-space query (default TFileDuplication::GetFreeBytes). Before Run.
  void SetFreeSpaceQuery(TFreeSpaceQuery query) { freeSpace_ = std::move(query); }
  // The service to stop and restart (default "MRVSVC"); empty skips service control. Before Run.
  void SetServiceName(const std::string& name) { serviceName_ = name; }

  bool Succeeded() const { return succeeded_; }
  bool ServiceProblem() const { return serviceProblem_; }
  bool ServiceStopped() const { return serviceStopped_; }

 private:
  void StopService();
  void RestartService();
  // Waits for the running service operation's callback; answers its error text (empty: none).
  std::string WaitForService(std::int32_t operationId);
  void CheckDiskSpace();
  void CreateCopies();
  void RemoveCopies();
  void ServiceFinished(bool isStop, const std::string& errorText, std::uint8_t outcome);

  TDbConversionInfo& info_;
  std::shared_ptr<IServiceControl> services_;
  TFreeSpaceQuery freeSpace_;
  std::string serviceName_ = MrvServiceName;

  bool serviceProblem_ = false;
  bool serviceStopped_ = false;
  bool succeeded_ = false;

  std::mutex lock_;  // guards duplication_ and serviceOperationId_ against Cancel
  std::mutex doneLock_;
  std::condition_variable doneCv_;
  bool serviceDone_ = false;  // auto-reset event
  std::string serviceError_;
  TFileDuplication* duplication_ = nullptr;
  std::int32_t serviceOperationId_ = 0;
  std::array<std::string, DatabaseKindCount> tempPaths_;
  std::array<std::unique_ptr<IDbTransfer>, DatabaseKindCount> transfers_;
};

}  // namespace mrv
