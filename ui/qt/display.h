// Whether the window has a display to open. Qt ends the whole process when
// none of its platforms can open one, so the module asks before it creates
// the application.
#pragma once

namespace korvik {

// Determines whether a display answers: an X server at DISPLAY, or a Wayland
// compositor listening at WAYLAND_DISPLAY (a path, or a name in
// XDG_RUNTIME_DIR). A platform named in QT_QPA_PLATFORM is trusted as it
// is, since it may need no display at all.
bool CanOpenDisplay();

}  // namespace korvik
