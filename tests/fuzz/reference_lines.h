// A model of the line rules written for clarity, not speed, to check the
// program's line handling against: CR LF ends a line, a CR on its own ends
// a line, an LF on its own is an ordinary character, and the end of the
// data ends the last line. Every line is written back followed by CR LF;
// data without any byte has no lines.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvik::reference {

// Returns the lines of `data`, without their line ends.
std::vector<std::string> ReadLines(std::string_view data);

// Returns every line followed by CR LF.
std::string WriteLines(const std::vector<std::string>& lines);

// Returns `data` read as lines and written back.
std::string Rewrite(std::string_view data);

// Returns `text` without the blanks (spaces only) at either end.
std::string_view TrimSpaces(std::string_view text);

}  // namespace korvik::reference
