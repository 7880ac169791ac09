#pragma once
// Progress position and remaining-time estimate of the current step of a run, as both front
// ends show them. A step starts with each status line; progress reports (done, total) of the
// step; times are 32-bit millisecond tick counts (wrap-around is harmless).

#include <cstdint>
#include <string>

namespace mrv {

class TRemainingTimeEstimate {
 public:
  struct TUpdate {
    int Position = 0;           // progress bar position, 0..100
    bool ShowEstimate = false;  // a new estimate is due and positive
    std::string Text;           // the formatted estimate when ShowEstimate
  };

  // A status line arrived: a new step begins now.
  void StartStep(std::uint32_t nowTick);
  // A progress report: the position, and at most every 500 ms after the step's first second a
  // new estimate.
  TUpdate Progress(std::int64_t done, std::int64_t total, std::uint32_t nowTick);

  // 100 x (done / total) to the nearest integer, ties to even, within 0..100; 100 when total <= 0.
  static int Position(std::int64_t done, std::int64_t total);
  // (total - done) x elapsed / done in milliseconds, rounded to nearest; -1 when the
  // arithmetic overflows or done is not positive.
  static std::int64_t RemainingMs(std::int64_t done, std::int64_t total, std::int64_t elapsedMs);
  // "< 1 sec", "%d sec", "2 min 5 sec", "1 hr 2 min", "> 1 day".
  static std::string Format(std::int64_t remainingMs);
  // A status line as one line: every CR LF pair becomes one blank.
  static std::string OneLine(const std::string& text);

 private:
  std::uint32_t stepStartTick_ = 0;
  std::uint32_t lastEstimateTick_ = 0;
};

}  // namespace mrv
