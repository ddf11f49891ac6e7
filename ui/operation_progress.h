// How far the operation under way is, as the window shows it: counted on
// the operation's thread, read on the window's.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "checksum/progress.h"

namespace korvik {

class OperationProgress final : public Progress {
 public:
  using Clock = std::chrono::steady_clock;

  // How the window shows the operation at one moment.
  struct Shown {
    std::string caption;  // "Verifying 42 % (about 6 s left)"
    int percent;
  };

  // Starts counting anew for an operation that `verb` names ("Verifying"),
  // begun at `now`.
  void Begin(std::string verb, Clock::time_point now);

  void Start(std::uint64_t total) override;
  void Advance(std::uint64_t bytes) override;
  // Latches: once an operation has been told to stop, stopped() holds.
  bool StopRequested() override;

  // Asks the operation to stop at its next look.
  void RequestStop() { stop_requested_ = true; }
  // Determines whether the operation was told to stop, and so stopped.
  bool stopped() const { return stopped_; }

  // Returns what to show at `now`: nothing during the first half second,
  // nor before the operation has counted any bytes.
  std::optional<Shown> ShownAt(Clock::time_point now);

 private:
  std::string verb_;
  Clock::time_point begun_;
  // Where the stretch under way started, and the count then: the time left
  // is estimated from the rate since.
  Clock::time_point stretch_begun_;
  std::uint64_t stretch_seen_ = 0;
  std::atomic<std::uint64_t> total_ = 0;
  std::atomic<std::uint64_t> done_ = 0;
  std::atomic<std::uint64_t> stretches_ = 0;
  std::uint64_t stretches_seen_ = 0;
  std::atomic<bool> stop_requested_ = false;
  std::atomic<bool> stopped_ = false;
};

}  // namespace korvik
