// The checks behind the fuzz targets, apart from libFuzzer so that the
// unit tests can replay inputs through them in any build. Each returns ""
// when the input passes every check, otherwise what went wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korvik::fuzz {

// Input: one byte whose low three bits give a number of cuts, two bytes
// (little-endian) for each cut's position, then the data. The data is fed
// to LineEndScanner and LineEndWriter in the blocks the cuts make, and
// through RewriteLines whole, and each is held against the line rules as
// reference::Rewrite spells them out.
std::string CheckLineRewrite(std::span<const std::uint8_t> input);

// Input: one byte that selects the file call to fail (0 for none) and,
// when it is not 0, one byte that selects the error; then the arguments,
// separated by zero bytes. Checks JoinArguments, TrimBlanks and
// DecodeCommand against their rules, then runs Main with the command text
// on an in-memory machine holding files of every kind: it must end with a
// complete run log (unless writing it failed, which Main then reports),
// leave every file whole and leave no work file behind.
std::string CheckCommand(std::span<const std::uint8_t> input);

}  // namespace korvik::fuzz
