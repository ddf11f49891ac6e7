// The program's titles: the message boxes' and the window's.
#pragma once

namespace korvik {

inline constexpr char kProgramTitle[] = "Korvik Checksum Utility";
// The window's own title, which its progress follows while it works.
inline constexpr char kWindowCaption[] = "Korvik Checksum Generation Utility";

}  // namespace korvik
