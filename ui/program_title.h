// The program's title, which captions every message box of the window.
#pragma once

namespace korvik {

inline constexpr char kProgramTitle[] = "Korvik Checksum Utility";

}  // namespace korvik
