// The window module's entry point, which the batch program calls when it is
// started without arguments.
#include <QApplication>

#include "checksum/system_services.h"
#include "ui/interactive_mode.h"
#include "ui/qt/display.h"
#include "ui/qt/interactive_mode.h"

extern "C" __attribute__((visibility("default"))) korvik::WindowOutcome
korvik_offer_interactive_mode(int argc, char** argv) {
  using namespace korvik;
  if (!CanOpenDisplay()) return WindowOutcome::kNoDisplay;
  QApplication application(argc, argv);
  SystemServices system(argc, argv);
  if (AskToStartInteractiveMode()) ShowWindow(system.services());
  return WindowOutcome::kOffered;
}
