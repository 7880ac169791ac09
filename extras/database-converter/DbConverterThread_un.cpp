// The worker thread of a conversion run.
#include "DbConverterThread_un.h"

#include "BaseCom.h"
#include "BaseText.h"

#include <stdexcept>

namespace mrv {

TDbConverterThread::~TDbConverterThread() {
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id())
      thread_.detach();
    else
      thread_.join();
  }
}

void TDbConverterThread::Setup(TDbConversionInfo& info, TDbTransferFactory factory,
                               std::shared_ptr<IServiceControl> services) {
  info_ = &info;
  converter_ = std::make_unique<TDbConverter>(info, std::move(factory), std::move(services));
}

void TDbConverterThread::Start() {
  if (!converter_) throw std::logic_error("The conversion thread was not set up.");
  if (thread_.joinable()) throw std::logic_error("The conversion thread was already started.");
  thread_ = std::thread([this] {
    Execute();
    try {
      if (OnFinished) OnFinished(*this);
    } catch (...) {
    }
    {
      std::lock_guard<std::mutex> guard(stateLock_);
      finished_ = true;
    }
    finishedCv_.notify_all();
  });
}

void TDbConverterThread::Cancel() {
  if (converter_) converter_->Cancel();
}

void TDbConverterThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
    std::unique_lock<std::mutex> wait(stateLock_);
    finishedCv_.wait(wait, [this] { return finished_; });
  }
}

bool TDbConverterThread::Finished() const {
  std::lock_guard<std::mutex> guard(stateLock_);
  return finished_;
}

void TDbConverterThread::Execute() {
  const char* format =
      "An unexpected error occured during the conversion.\r\nException %s.\r\n\"%s\"";
  const base::TComInitializer com;
  try {
    converter_->Run();
  } catch (const std::exception& e) {
    info_->SetError(base::Format(format, ExceptionClassName(e).c_str(), e.what()));
  } catch (...) {
    info_->SetError(base::Format(format, "unknown", ""));
  }
}

}  // namespace mrv
