// Existence tests and text helpers shared by the checksum operations.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/result.h"

namespace korvik {

// Determines whether `path` names an ordinary file: a regular file, links
// followed, marked neither hidden nor system. Devices, FIFOs and sockets
// never match; "*" and "?" are plain characters.
Expected<bool> IsOrdinaryFile(FileSystem& files, const std::string& path);

// Fails where the way to `path` leads through a symbolic link of another
// user than this one or the administrator: such a link may lead anywhere.
Status RequireTrustedLinks(FileSystem& files, const std::string& path);
// The failure of a path through a symbolic link of another user.
Error UntrustedLinkError(const std::string& path);

// Determines whether `path` names an ordinary file or a directory that is
// not hidden.
Expected<bool> IsOrdinaryEntry(FileSystem& files, const std::string& path);

// Returns `text` without the blanks (spaces, nothing else) at both ends.
std::string TrimBlanks(std::string_view text);

// The message for a name that names no ordinary file.
inline constexpr char kInvalidFileName[] = "Invalid/Missing File Name!";

// The line end of every line the system writes.
inline constexpr std::string_view kCrLf = "\r\n";

}  // namespace korvik
