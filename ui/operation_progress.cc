#include "ui/operation_progress.h"

#include <algorithm>

namespace korvik {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

constexpr milliseconds kQuietSpan(500);
// Under this much of a stretch done, or time spent on it, the rate says
// too little for an estimate.
constexpr milliseconds kEstimateAfter(500);
constexpr int kEstimateAfterPercent = 1;

std::string TimeLeftText(std::int64_t seconds) {
  if (seconds < 60)
    return std::to_string(std::max<std::int64_t>(seconds, 1)) + " s";
  const std::int64_t minutes = (seconds + 30) / 60;
  if (minutes < 60) return std::to_string(minutes) + " min";
  return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
         " min";
}

}  // namespace

void OperationProgress::Begin(std::string verb, Clock::time_point now) {
  verb_ = std::move(verb);
  begun_ = now;
  stretch_begun_ = now;
  stretch_seen_ = 0;
  total_ = 0;
  done_ = 0;
  stretches_ = 0;
  stretches_seen_ = 0;
  stop_requested_ = false;
  stopped_ = false;
}

void OperationProgress::Start(std::uint64_t total) {
  done_ = 0;
  total_ = total;
  ++stretches_;
}

void OperationProgress::Advance(std::uint64_t bytes) { done_ += bytes; }

bool OperationProgress::StopRequested() {
  if (!stop_requested_) return false;
  stopped_ = true;
  return true;
}

std::optional<OperationProgress::Shown> OperationProgress::ShownAt(
    Clock::time_point now) {
  const std::uint64_t total = total_;
  const std::uint64_t done = std::min<std::uint64_t>(done_, total);
  if (now - begun_ < kQuietSpan || stretches_ == 0) return std::nullopt;
  if (stretches_ != stretches_seen_) {
    // A new stretch: its rate is measured from here on.
    stretches_seen_ = stretches_;
    stretch_begun_ = now;
    stretch_seen_ = done;
  }
  const int percent = total == 0 ? 0 : static_cast<int>(done * 100 / total);
  std::string caption = verb_ + " " + std::to_string(percent) + " %";
  const auto spent = duration_cast<milliseconds>(now - stretch_begun_);
  const std::uint64_t since = done - std::min(done, stretch_seen_);
  if (spent >= kEstimateAfter && since > 0 &&
      percent >= kEstimateAfterPercent && done < total) {
    const double left_ms = static_cast<double>(total - done) *
                           static_cast<double>(spent.count()) /
                           static_cast<double>(since);
    caption += " (about " +
               TimeLeftText(static_cast<std::int64_t>(left_ms / 1000 + 0.5)) +
               " left)";
  }
  return Shown{std::move(caption), percent};
}

}  // namespace korvik
