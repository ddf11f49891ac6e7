// The shape of file paths on this system: "/" separates names, and a usable
// path starts at the root.
#pragma once

#include <string>
#include <string_view>

namespace korvik::path {

inline constexpr char kSeparator = '/';

// Determines whether `path` starts at the root of the file system.
inline bool IsAbsolute(std::string_view path) {
  return !path.empty() && path.front() == kSeparator;
}

// Returns `path` without one trailing separator; the root stays the root.
inline std::string WithoutTrailingSeparator(std::string path) {
  if (path.size() > 1 && path.back() == kSeparator) path.pop_back();
  return path;
}

// Returns the last name in `path`, ignoring trailing separators.
inline std::string_view BaseName(std::string_view path) {
  while (path.size() > 1 && path.back() == kSeparator) path.remove_suffix(1);
  const auto slash = path.rfind(kSeparator);
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Returns the directory that holds `path`: "." for a bare name.
inline std::string DirectoryOf(std::string_view path) {
  while (path.size() > 1 && path.back() == kSeparator) path.remove_suffix(1);
  const auto slash = path.rfind(kSeparator);
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return std::string(1, kSeparator);
  return std::string(path.substr(0, slash));
}

// Returns `name` inside `directory`.
inline std::string Join(std::string_view directory, std::string_view name) {
  std::string joined(directory);
  if (joined.empty() || joined.back() != kSeparator) joined += kSeparator;
  joined += name;
  return joined;
}

}  // namespace korvik::path
