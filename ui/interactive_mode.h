// Interactive mode as the window offers it: the question, and on Yes the
// window until it closes. On Linux the window is a module of its own that
// the program loads only when it is asked for, so that batch runs never load
// the window toolkit; on Windows it is part of the program.
#pragma once

namespace korvik {

enum class WindowOutcome : int {
  kOffered,    // the question was asked, and the window shown on Yes
  kNoDisplay,  // no display could be opened; nothing was shown
};

}  // namespace korvik

extern "C" {

// Unless no display can be opened, asks whether to start interactive mode
// and shows the window until it closes. `argc` and `argv` are main's, for a
// toolkit that reads its own options. On Linux, the window module's one
// export.
korvik::WindowOutcome korvik_offer_interactive_mode(int argc, char** argv);

}  // extern "C"

namespace korvik {

// The window module's file, in the program's directory; the name under
// which it exports its entry, and the entry's type.
inline constexpr char kWindowModuleFileName[] = "korvik-window.so";
inline constexpr char kWindowEntryPoint[] = "korvik_offer_interactive_mode";
using WindowEntryPoint = decltype(&::korvik_offer_interactive_mode);

}  // namespace korvik
