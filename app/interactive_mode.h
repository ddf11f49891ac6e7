// Interactive mode as the system offers it: on Linux the window module,
// loaded only when it is asked for; on Windows the window of the program
// itself.
#pragma once

#include <memory>

#include "app/batch_run.h"
#include "platform/system.h"

namespace korvik {

// Returns the interactive mode of the system the program runs on. Where
// the window is a module, it is loaded through `libraries`, and `process`
// is told what keeps the window from showing. `argc` and `argv` are main's,
// for a toolkit that reads its own options.
std::unique_ptr<InteractiveMode> MakeInteractiveMode(Process& process,
                                                     LibraryLoader& libraries,
                                                     int argc, char** argv);

}  // namespace korvik
