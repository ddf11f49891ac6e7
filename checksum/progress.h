// What a long operation tells the one who started it about how far it is,
// and how it learns that it is to stop. The batch run passes none.
#pragma once

#include <cstdint>

namespace korvik {

class Progress {
 public:
  virtual ~Progress() = default;

  // Starts a stretch of the work over `total` bytes, counted from zero.
  virtual void Start(std::uint64_t total) = 0;
  // Adds `bytes` done to the stretch under way.
  virtual void Advance(std::uint64_t bytes) = 0;
  // Determines whether the operation is to stop. An operation told so
  // leaves every file as it was and returns a failure.
  virtual bool StopRequested() = 0;
};

// The Progress of a run that nobody watches: it hears everything and never
// asks to stop.
class SilentProgress final : public Progress {
 public:
  void Start(std::uint64_t) override {}
  void Advance(std::uint64_t) override {}
  bool StopRequested() override { return false; }
};

}  // namespace korvik
