// Interactive mode as the system offers it: on Linux the window module,
// loaded only when it is asked for; on Windows the window of the program
// itself.
#pragma once

#include <memory>
#include <string>

#include "app/batch_run.h"

namespace korvik {

// Returns the interactive mode of the system the program runs on. `argc`
// and `argv` are main's, for a toolkit that reads its own options.
std::unique_ptr<InteractiveMode> MakeInteractiveMode(
    std::string program_directory, int argc, char** argv);

}  // namespace korvik
