#include "WizardProgress_un.h"

namespace mrv {

std::uint64_t TProgressSlot::BeginStep() {
  std::lock_guard<std::mutex> guard(lock_);
  return ++workerStep_;
}

bool TProgressSlot::Store(std::int64_t done, std::int64_t total) {
  std::lock_guard<std::mutex> guard(lock_);
  value_ = {done, total};
  valueStep_ = workerStep_;
  fresh_ = true;
  if (pending_) return false;
  pending_ = true;
  return true;
}

void TProgressSlot::PostFailed() {
  std::lock_guard<std::mutex> guard(lock_);
  pending_ = false;
}

std::optional<TProgressValue> TProgressSlot::TakeForProgressMessage() {
  std::lock_guard<std::mutex> guard(lock_);
  pending_ = false;
  if (!fresh_ || valueStep_ != shownStep_) return std::nullopt;
  fresh_ = false;
  return value_;
}

std::optional<TProgressValue> TProgressSlot::StatusShown(std::uint64_t step) {
  std::lock_guard<std::mutex> guard(lock_);
  shownStep_ = step;
  if (!fresh_ || valueStep_ != step) return std::nullopt;
  fresh_ = false;
  return value_;
}

}  // namespace mrv
