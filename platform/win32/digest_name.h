// The name under which the digest library can open a file.
//
// The digest library takes a file name in the process's ANSI code page, as
// Windows' own "A" functions do. A name with characters outside that code
// page (Cyrillic under code page 1252, CJK under most) has no such form;
// its 8.3 short name, where the volume keeps one, does.
#pragma once

#include <string>

#include "platform/result.h"

namespace korvik {

// Returns the bytes to hand to MDFile for the file `utf8_path`: its ANSI
// form when the ANSI code page holds every character of it, otherwise the
// ANSI form of its short name (the file must then exist). Fails when neither
// names the file.
Expected<std::string> DigestLibraryName(const std::string& utf8_path);

}  // namespace korvik
