#pragma once
// Runs a clean-up action when the scope ends, unless dismissed first:
//   auto closeFile = base::OnScopeExit([&] { file.Close(); });
//   ...
//   closeFile.Dismiss();  // kept: the work succeeded
// The action must not throw; it runs during unwinding too.

#include <utility>

namespace base {

template <typename F>
class TScopeGuard {
 public:
  explicit TScopeGuard(F action) : action_(std::move(action)) {}
  TScopeGuard(TScopeGuard&& other) noexcept
      : action_(std::move(other.action_)), armed_(other.armed_) {
    other.armed_ = false;
  }
  TScopeGuard(const TScopeGuard&) = delete;
  TScopeGuard& operator=(const TScopeGuard&) = delete;
  ~TScopeGuard() {
    if (armed_) action_();
  }
  void Dismiss() noexcept { armed_ = false; }

 private:
  F action_;
  bool armed_ = true;
};

template <typename F>
[[nodiscard]] TScopeGuard<F> OnScopeExit(F action) {
  return TScopeGuard<F>(std::move(action));
}

}  // namespace base
