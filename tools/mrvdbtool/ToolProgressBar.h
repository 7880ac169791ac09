#pragma once
// The whole-run progress bar of convert: one line across every stage of the run (the copies,
// any clearing, the conversions of every database), drawn in place on a terminal, normally
// standard error so that the status lines on standard output stay a clean log. It shows stage
// k of n, the database and table, the run's overall percentage, rows per second and the time
// remaining for the whole run. The caller serialises the calls.

#include <cstdint>
#include <cstdio>
#include <string>

namespace mrvtool {

class TProgressBar {
 public:
  // `out`: where the bar is drawn (null: nowhere). `databases`: the databases of the run, each
  // with a copy and a conversion stage; a clearing stage is added when one begins.
  TProgressBar(std::FILE* out, int databases);

  // A status line of the run: when it begins a stage, the bar moves on to it. The bar is
  // cleared before the caller prints the line (see Clear) and redrawn with the next progress.
  void Status(const std::string& line, std::uint32_t nowMs);
  // Progress within the current stage; `table` names the table being copied, when known.
  void Progress(std::int64_t done, std::int64_t total, const std::string& table,
                std::uint32_t nowMs);
  // Removes the bar from the terminal line.
  void Clear();

  // The bar's text for the current state (without the carriage return).
  std::string Line(std::uint32_t nowMs) const;
  int Stage() const { return stage_; }
  int Stages() const { return stages_; }
  // Overall share of the run done, 0..1.
  double Overall() const;

 private:
  enum class TKind { None, Copy, Clear, Convert };
  std::FILE* out_;
  int stages_;
  int stage_ = 0;
  TKind kind_ = TKind::None;
  std::string database_, table_, lastStageLine_;
  double fraction_ = 0;
  std::int64_t stageDone_ = 0;
  std::uint32_t runStart_ = 0, stageStart_ = 0, lastDraw_ = 0;
  bool started_ = false, shown_ = false;
  int lastPercent_ = -1;
};

}  // namespace mrvtool
