// Interactive mode on Windows: the question, in a message box of the
// system's own.
#include "app/interactive_mode.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace korvik {
namespace {

constexpr char kProgramTitle[] = "Korvik Checksum Utility";
constexpr char kQuestion[] =
    "No Command Line Arguments were Passed. do you want to start Interactive "
    "Mode?";

class Win32InteractiveMode : public InteractiveMode {
 public:
  // Asks the question; the window follows a Yes once it exists, until then
  // Yes ends the program like No.
  void Offer() override {
    ::MessageBoxW(nullptr, win32::Widen(kQuestion).c_str(),
                  win32::Widen(kProgramTitle).c_str(),
                  MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1);
  }
};

}  // namespace

std::unique_ptr<InteractiveMode> MakeInteractiveMode(std::string, int, char**) {
  return std::make_unique<Win32InteractiveMode>();
}

}  // namespace korvik
