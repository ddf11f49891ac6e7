// Interactive mode on Linux: the window module, loaded only when it is asked
// for, so that batch runs never load the window toolkit.
#include <cstdlib>
#include <string>

#include "app/interactive_mode.h"
#include "platform/path.h"
#include "ui/interactive_mode.h"

namespace korvik {
namespace {

constexpr char kNoDisplay[] =
    "korvik: interactive mode needs a graphical display";

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

// Where no display is available or the module cannot be loaded, tells so
// and ends as if the offer were declined. A display variable is only a
// first sign: the module checks that the display answers.
class WindowModule final : public InteractiveMode {
 public:
  WindowModule(Process& process, LibraryLoader& libraries, int argc,
               char** argv)
      : process_(process), libraries_(libraries), argc_(argc), argv_(argv) {}

  void Offer() override {
    if (!NamesDisplay()) {
      process_.WriteError(kNoDisplay);
      return;
    }
    const auto entry = libraries_.LoadFunction(
        PathSyntax::Posix().Join(process_.ProgramDirectory(),
                                 kWindowModuleFileName),
        kWindowEntryPoint);
    if (!entry.ok()) {
      process_.WriteError("korvik: cannot load the window: " +
                          entry.error().description());
      return;
    }
    const auto offer = reinterpret_cast<WindowEntryPoint>(*entry);
    if (offer(argc_, argv_) == WindowOutcome::kNoDisplay) {
      process_.WriteError(kNoDisplay);
    }
  }

 private:
  Process& process_;
  LibraryLoader& libraries_;
  int argc_;
  char** argv_;
};

}  // namespace

std::unique_ptr<InteractiveMode> MakeInteractiveMode(Process& process,
                                                     LibraryLoader& libraries,
                                                     int argc, char** argv) {
  return std::make_unique<WindowModule>(process, libraries, argc, argv);
}

}  // namespace korvik
