// Interactive mode on Windows: the question in a message box of the
// system's own, and on Yes the window, until it closes. Part of the program
// itself: a display is always there.
#include "ui/interactive_mode.h"

#include <windows.h>

#include "checksum/system_services.h"
#include "platform/win32/wide.h"
#include "ui/program_title.h"
#include "ui/win32/frm_md5.h"
#include "ui/window_presenter.h"

namespace {

constexpr char kQuestion[] =
    "No Command Line Arguments were Passed. do you want to start Interactive "
    "Mode?";

}  // namespace

extern "C" korvik::WindowOutcome korvik_offer_interactive_mode(int argc,
                                                               char** argv) {
  using namespace korvik;
  if (::MessageBoxW(nullptr, win32::Widen(kQuestion).c_str(),
                    win32::Widen(kProgramTitle).c_str(),
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) != IDYES) {
    return WindowOutcome::kOffered;
  }
  // The window's own services: each command starts afresh, with no memory
  // of what an earlier one found.
  SystemServices system(argc, argv);
  win32::frmMD5 window;
  WindowPresenter presenter(system.services(), window);
  window.ForwardTo(presenter);
  window.ShowModal();
  return WindowOutcome::kOffered;
}
