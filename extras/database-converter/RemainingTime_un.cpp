// Progress position and remaining-time estimate.
#include "RemainingTime_un.h"

#include "BaseText.h"

#include <cfenv>
#include <cmath>
#include <limits>

#include "DbConversionInfo_un.h"

namespace mrv {

namespace {

// Nearest integer, ties to even, whatever the current rounding mode.
double RoundHalfEven(double value) {
  const int saved = std::fegetround();
  std::fesetround(FE_TONEAREST);
  const double rounded = std::nearbyint(value);
  std::fesetround(saved);
  return rounded;
}

}  // namespace

void TRemainingTimeEstimate::StartStep(std::uint32_t nowTick) {
  stepStartTick_ = nowTick;
  lastEstimateTick_ = 0;
}

int TRemainingTimeEstimate::Position(std::int64_t done, std::int64_t total) {
  if (total <= 0) return 100;
  const double position =
      RoundHalfEven(100.0 * (static_cast<double>(done) / static_cast<double>(total)));
  if (!(position > 0)) return 0;  // also NaN
  if (position > 100) return 100;
  return static_cast<int>(position);
}

std::int64_t TRemainingTimeEstimate::RemainingMs(std::int64_t done, std::int64_t total,
                                                 std::int64_t elapsedMs) {
  if (done <= 0 || elapsedMs < 0) return -1;
  constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  if (total < min + done) return -1;  // total - done would overflow
  const std::int64_t left = total - done;
  if (elapsedMs != 0 && (left > max / elapsedMs || left < min / elapsedMs)) return -1;
  const std::int64_t product = left * elapsedMs;
  const double quotient = RoundHalfEven(static_cast<double>(product) / static_cast<double>(done));
  if (!(quotient >= -9.2e18 && quotient <= 9.2e18)) return -1;
  return static_cast<std::int64_t>(quotient);
}

std::string TRemainingTimeEstimate::Format(std::int64_t ms) {
  if (ms <= 1000) return "< 1 sec";
  if (ms < 60000) return base::Format("%d sec", static_cast<int>(ms / 1000));
  if (ms < 3600000)
    return base::Format("%d min %d sec", static_cast<int>(ms / 60000),
                        static_cast<int>(ms % 60000 / 1000));
  if (ms < 86400000)
    return base::Format("%d hr %d min", static_cast<int>(ms / 3600000),
                        static_cast<int>(ms % 3600000 / 60000));
  return "> 1 day";
}

std::string TRemainingTimeEstimate::OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      line += ' ';
      ++i;
    } else {
      line += text[i];
    }
  }
  return line;
}

TRemainingTimeEstimate::TUpdate TRemainingTimeEstimate::Progress(std::int64_t done,
                                                                 std::int64_t total,
                                                                 std::uint32_t nowTick) {
  TUpdate update;
  update.Position = Position(done, total);
  if (total <= 0) return update;
  const std::uint32_t sinceEstimate = nowTick - lastEstimateTick_;
  const std::uint32_t sinceStart = nowTick - stepStartTick_;
  if (sinceEstimate <= 500 || sinceStart <= 1000 || done <= 0) return update;
  const std::int64_t remaining = RemainingMs(done, total, sinceStart);
  if (remaining == -1) return update;
  lastEstimateTick_ = nowTick;
  if (remaining > 0) {
    update.ShowEstimate = true;
    update.Text = Format(remaining);
  }
  return update;
}

}  // namespace mrv
