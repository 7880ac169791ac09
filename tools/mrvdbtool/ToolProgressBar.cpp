#include "ToolProgressBar.h"

#include <algorithm>

namespace mrvtool {
namespace {

// "<prefix><database> database..." -> database; empty when `line` is not such a line.
std::string StageDatabase(const std::string& line, const std::string& prefix) {
  const std::string suffix = " database...";
  if (line.rfind(prefix, 0) != 0 || line.size() < prefix.size() + suffix.size() ||
      line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0)
    return std::string();
  return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
}

std::string Duration(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

}  // namespace

TProgressBar::TProgressBar(std::FILE* out, int databases)
    : out_(out), stages_(std::max(1, 2 * databases)) {}

void TProgressBar::Status(const std::string& line, std::uint32_t nowMs) {
  if (!started_) {
    started_ = true;
    runStart_ = nowMs;
  }
  TKind kind = TKind::None;
  std::string database;
  if (!(database = StageDatabase(line, "Creating temporary copy of the ")).empty())
    kind = TKind::Copy;
  else if (!(database = StageDatabase(line, "Clearing the ")).empty())
    kind = TKind::Clear;
  else if (!(database = StageDatabase(line, "Converting the ")).empty())
    kind = TKind::Convert;
  if (kind == TKind::None || line == lastStageLine_) return;  // clearing repeats its line per table
  lastStageLine_ = line;
  if (kind == TKind::Clear) ++stages_;  // known only once a target is cleared
  stage_ = std::min(stage_ + 1, stages_);
  kind_ = kind;
  database_ = database;
  table_.clear();
  fraction_ = 0;
  stageDone_ = 0;
  stageStart_ = nowMs;
  lastPercent_ = -1;
}

double TProgressBar::Overall() const {
  if (stage_ == 0) return 0;
  return std::clamp((stage_ - 1 + fraction_) / stages_, 0.0, 1.0);
}

std::string TProgressBar::Line(std::uint32_t nowMs) const {
  const double overall = Overall();
  const int width = 24, filled = static_cast<int>(overall * width);
  std::string text = "[" + std::string(static_cast<size_t>(filled), '#') +
                     std::string(static_cast<size_t>(width - filled), '.') + "]";
  char buf[64];
  std::snprintf(buf, sizeof buf, " %3d%%  stage %d of %d", static_cast<int>(overall * 100), stage_,
                stages_);
  text += buf;
  const char* what = kind_ == TKind::Copy    ? "copying"
                     : kind_ == TKind::Clear ? "clearing"
                                             : "converting";
  if (kind_ != TKind::None) text += std::string("  ") + what + " " + database_;
  if (!table_.empty()) text += " / " + table_;
  const double stageSeconds = (nowMs - stageStart_) / 1000.0;
  if (kind_ != TKind::Copy && kind_ != TKind::None && stageSeconds > 0) {
    std::snprintf(buf, sizeof buf, "  %.0f rows/s", stageDone_ / stageSeconds);
    text += buf;
  }
  const double runSeconds = (nowMs - runStart_) / 1000.0;
  if (overall > 0.01 && runSeconds >= 1)
    text += "  remaining " + Duration(runSeconds / overall * (1 - overall));
  return text;
}

void TProgressBar::Progress(std::int64_t done, std::int64_t total, const std::string& table,
                            std::uint32_t nowMs) {
  if (!out_ || stage_ == 0) return;
  // A conversion counts its rows across the database's tables while `total` is the current
  // table's: the share is bounded by the stage.
  fraction_ = total > 0 ? std::clamp(static_cast<double>(done) / total, 0.0, 1.0) : 1.0;
  stageDone_ = done;
  const bool newTable = table != table_;
  table_ = table;
  const int percent = static_cast<int>(Overall() * 100);
  if (!newTable && percent == lastPercent_ && nowMs - lastDraw_ < 250) return;
  lastPercent_ = percent;
  lastDraw_ = nowMs;
  std::fprintf(out_, "\r%s\033[K", Line(nowMs).c_str());
  std::fflush(out_);
  shown_ = true;
}

void TProgressBar::Clear() {
  if (!out_ || !shown_) return;
  std::fprintf(out_, "\r\033[K");
  std::fflush(out_);
  shown_ = false;
}

}  // namespace mrvtool
