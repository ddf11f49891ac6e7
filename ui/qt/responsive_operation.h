// Long checksum work without a frozen window.
#pragma once

#include <functional>

class QWidget;

namespace korvik {

// What stays live while the work runs; each part may be left out.
struct OperationControls {
  QWidget* stop_button = nullptr;  // still takes mouse clicks
  std::function<void()> stop;      // called on Esc
  std::function<void()> close;     // called for the close box
  std::function<void()> tick;      // called ten times a second
};

// Runs `work` on a worker thread and returns once it is done. Meanwhile the
// application keeps painting and handling timers, but drops all user input
// except what `controls` names, so that one command runs at a time; after
// half a second the busy cursor shows.
void RunResponsively(const std::function<void()>& work,
                     const OperationControls& controls = {});

}  // namespace korvik
