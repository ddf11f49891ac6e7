// Interactive mode, loaded from its own module only when it is asked for, so
// that batch runs never load the window toolkit.
#pragma once

#include <string>

#include "app/batch_run.h"

namespace korvik {

inline constexpr char kWindowModuleFileName[] = "korvik-window.so";

enum class WindowOutcome : int {
  kOffered,    // the question was asked, and the window shown on Yes
  kNoDisplay,  // no display could be opened; nothing was shown
};

// The function the window module exports: unless no display can be opened,
// it asks whether to start interactive mode and shows the window until it
// closes.
inline constexpr char kWindowEntryPoint[] = "korvik_offer_interactive_mode";
using WindowEntryPoint = WindowOutcome (*)(int argc, char** argv);

class WindowModule : public InteractiveMode {
 public:
  WindowModule(std::string program_directory, int argc, char** argv)
      : program_directory_(std::move(program_directory)),
        argc_(argc),
        argv_(argv) {}

  // Tells on standard error where no display is available or the module
  // cannot be loaded, and ends as if the offer were declined. A display
  // variable is only a first sign: the module checks that the display
  // answers.
  void Offer() override;

 private:
  std::string program_directory_;
  int argc_;
  char** argv_;
};

}  // namespace korvik
