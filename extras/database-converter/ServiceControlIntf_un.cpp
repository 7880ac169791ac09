// The service control seam's production implementation: forwards to TServiceController.
#include "ServiceControlIntf_un.h"

#include "ServiceMgmt_un.h"

namespace mrv {

namespace {

class TSystemServiceControl final : public IServiceControl {
 public:
  bool ServiceExists(const std::string& name) override {
    return TServiceController::ServiceExists(name);
  }
  bool IsServiceRunning(const std::string& name) override {
    return TServiceController::IsServiceRunning(name);
  }
  std::int32_t StopServiceAsync(const std::string& name, std::uint32_t timeoutMs, bool useWaitHint,
                                TFinished onFinished) override {
    return TServiceController::StopServiceAsync(name, timeoutMs, useWaitHint,
                                                Forward(std::move(onFinished)));
  }
  std::int32_t StartServiceAsync(const std::string& name, std::uint32_t timeoutMs,
                                 const std::vector<std::string>* arguments, bool useWaitHint,
                                 TFinished onFinished) override {
    return TServiceController::StartServiceAsync(name, timeoutMs, arguments, useWaitHint,
                                                 Forward(std::move(onFinished)));
  }
  bool CancelOperation(std::int32_t operationId) override {
    return TServiceController::CancelOperation(operationId);
  }

 private:
  static TServiceFinishedEvent Forward(TFinished onFinished) {
    if (!onFinished) return {};
    return [cb = std::move(onFinished)](TServiceControllerThread&, std::int32_t,
                                        const std::string& errorText,
                                        std::uint8_t outcome) { cb(errorText, outcome); };
  }
};

}  // namespace

std::shared_ptr<IServiceControl> DefaultServiceControl() {
  return std::make_shared<TSystemServiceControl>();
}

}  // namespace mrv
