// Interactive mode: the question that offers it, and the window.
#pragma once

#include "checksum/services.h"

namespace korvik {

// Asks whether to start interactive mode; returns true on Yes.
bool AskToStartInteractiveMode();

// Shows the window modally and returns once it is closed.
void ShowWindow(const Services& services);

}  // namespace korvik
