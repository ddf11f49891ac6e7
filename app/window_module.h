// Interactive mode, loaded from its own module only when it is asked for, so
// that batch runs never load the window toolkit.
#pragma once

#include <string>

#include "app/batch_run.h"

namespace korvik {

inline constexpr char kWindowModuleFileName[] = "korvik-window.so";
// The function the window module exports: it asks whether to start
// interactive mode and shows the window until it closes.
inline constexpr char kWindowEntryPoint[] = "korvik_offer_interactive_mode";
using WindowEntryPoint = int (*)(int argc, char** argv);

class WindowModule : public InteractiveMode {
 public:
  WindowModule(std::string program_directory, int argc, char** argv)
      : program_directory_(std::move(program_directory)),
        argc_(argc),
        argv_(argv) {}

  // Tells on standard error where no display is available or the module
  // cannot be loaded, and ends as if the offer were declined.
  void Offer() override;

 private:
  std::string program_directory_;
  int argc_;
  char** argv_;
};

}  // namespace korvik
