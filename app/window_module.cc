#include "app/window_module.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "app/interactive_mode.h"
#include "platform/path.h"

namespace korvik {
namespace {

// Determines whether the environment names any display. Without one the
// window module, and with it Qt, is not even loaded.
bool NamesDisplay() {
  for (const char* variable :
       {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] != '\0') return true;
  }
  return false;
}

void TellNoDisplay() {
  std::fputs("korvik: interactive mode needs a graphical display\n", stderr);
}

}  // namespace

void WindowModule::Offer() {
  if (!NamesDisplay()) {
    TellNoDisplay();
    return;
  }
  const std::string module =
      PathSyntax::Posix().Join(program_directory_, kWindowModuleFileName);
  void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  auto entry = handle == nullptr ? nullptr
                                 : reinterpret_cast<WindowEntryPoint>(
                                       ::dlsym(handle, kWindowEntryPoint));
  if (entry == nullptr) {
    std::fprintf(stderr, "korvik: cannot load the window: %s\n", ::dlerror());
    return;
  }
  if (entry(argc_, argv_) == WindowOutcome::kNoDisplay) TellNoDisplay();
}

std::unique_ptr<InteractiveMode> MakeInteractiveMode(
    std::string program_directory, int argc, char** argv) {
  return std::make_unique<WindowModule>(std::move(program_directory), argc,
                                        argv);
}

}  // namespace korvik
