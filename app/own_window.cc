// Interactive mode on Windows: the program's own window, which needs no
// module and always has a display.
#include "app/interactive_mode.h"
#include "ui/interactive_mode.h"

namespace korvik {
namespace {

class OwnWindow final : public InteractiveMode {
 public:
  OwnWindow(int argc, char** argv) : argc_(argc), argv_(argv) {}

  void Offer() override { korvik_offer_interactive_mode(argc_, argv_); }

 private:
  int argc_;
  char** argv_;
};

}  // namespace

std::unique_ptr<InteractiveMode> MakeInteractiveMode(Process&, LibraryLoader&,
                                                     int argc, char** argv) {
  return std::make_unique<OwnWindow>(argc, argv);
}

}  // namespace korvik
