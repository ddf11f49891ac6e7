// Long checksum work without a frozen window.
#pragma once

#include <functional>

namespace korvik {

// Runs `work` on a worker thread and returns once it is done. Meanwhile the
// application keeps painting and handling timers, but drops all user input,
// the close box included, so that one command runs at a time; after half a
// second the busy cursor shows.
void RunResponsively(const std::function<void()>& work);

}  // namespace korvik
