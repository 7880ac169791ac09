#pragma once
// The channel between a run's worker and the wizard window for progress reports. A run reports
// one progress per copied chunk, per transferred record and per deleted batch; posting a window
// message for each would overrun the window's message queue on a large table. The worker
// keeps only the latest (Done, Total) here and asks for a message only when none is pending;
// the window reads the latest value when the message arrives.
//
// Status lines start a new step and travel as posted messages of their own, each carrying the
// step number BeginStep gave it. A progress value belongs to the step that was current when it
// was stored, and the window applies it only once it has shown that step's status line, so a
// value can never be applied to the step before or after the one it belongs to.

#include <cstdint>
#include <mutex>
#include <optional>

namespace mrv {

struct TProgressValue {
  std::int64_t Done = 0;
  std::int64_t Total = 0;
};

class TProgressSlot {
 public:
  // Worker (or any thread sending a status line): a new step; returns its number, to be
  // carried by the status message and handed to StatusShown.
  std::uint64_t BeginStep();
  // Worker: stores the latest value; true when the caller must post a progress message now
  // (none is pending). If posting fails, call PostFailed.
  bool Store(std::int64_t done, std::int64_t total);
  void PostFailed();

  // Window: a progress message arrived. The latest value if it belongs to the step on show
  // and has not been applied yet.
  std::optional<TProgressValue> TakeForProgressMessage();
  // Window: the status line of `step` is now shown (the display was reset). A value of that
  // step that arrived before the status line was shown, if any.
  std::optional<TProgressValue> StatusShown(std::uint64_t step);

 private:
  std::mutex lock_;
  std::uint64_t workerStep_ = 0;  // step of the latest status line sent
  std::uint64_t shownStep_ = 0;   // step whose status line the window shows
  std::uint64_t valueStep_ = 0;   // step the stored value belongs to
  TProgressValue value_;
  bool fresh_ = false;    // value stored and not yet applied
  bool pending_ = false;  // a progress message is on its way
};

}  // namespace mrv
