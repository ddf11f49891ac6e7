// Interactive mode on Windows: the question in a message box of the
// system's own, and on Yes the window, until it closes.
#include "app/interactive_mode.h"

#include <windows.h>

#include "checksum/system_services.h"
#include "platform/win32/wide.h"
#include "ui/program_title.h"
#include "ui/win32/frm_md5.h"
#include "ui/window_presenter.h"

namespace korvik {
namespace {

constexpr char kQuestion[] =
    "No Command Line Arguments were Passed. do you want to start Interactive "
    "Mode?";

class Win32InteractiveMode : public InteractiveMode {
 public:
  Win32InteractiveMode(int argc, char** argv) : argc_(argc), argv_(argv) {}

  void Offer() override {
    if (::MessageBoxW(nullptr, win32::Widen(kQuestion).c_str(),
                      win32::Widen(kProgramTitle).c_str(),
                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES) {
      return;
    }
    // The window's own services: each command starts afresh, with no
    // memory of what an earlier one found.
    SystemServices system(argc_, argv_);
    win32::frmMD5 window;
    WindowPresenter presenter(system.services(), window);
    window.ForwardTo(presenter);
    window.ShowModal();
  }

 private:
  int argc_;
  char** argv_;
};

}  // namespace

std::unique_ptr<InteractiveMode> MakeInteractiveMode(std::string, int argc,
                                                     char** argv) {
  return std::make_unique<Win32InteractiveMode>(argc, argv);
}

}  // namespace korvik
