// The shape of file paths. POSIX: "/" separates names and a usable path
// starts at the root. Windows: "\" and "/" both separate names, and a usable
// path starts with a drive ("C:") or names a network share ("\\srv\pub").
// Both are pure text rules, so either can be tested on any system.
#pragma once

#include <string>
#include <string_view>

namespace korvik {

class PathSyntax {
 public:
  // Returns the rules of the system the program is built for.
  static PathSyntax Native();
  static constexpr PathSyntax Posix() { return PathSyntax(Style::kPosix); }
  static constexpr PathSyntax Windows() { return PathSyntax(Style::kWindows); }

  // Returns the separator the system writes between names.
  char separator() const { return style_ == Style::kPosix ? '/' : '\\'; }
  // Determines whether `c` separates names.
  bool IsSeparator(char c) const {
    return c == '/' || (style_ == Style::kWindows && c == '\\');
  }
  // Determines whether `path` names its entry without a current directory
  // to resolve against: "/..." on POSIX; a drive path ("C:...", the second
  // character a colon) or a network path ("\\...") on Windows.
  bool IsAbsolute(std::string_view path) const;
  // Returns `path` without one trailing separator as the system writes it
  // ("/" or "\"); the POSIX root "/" stays as it is.
  std::string WithoutTrailingSeparator(std::string path) const;
  // Returns the last name in `path`, ignoring trailing separators.
  std::string_view BaseName(std::string_view path) const;
  // Returns the directory that holds `path`: "." for a bare name.
  std::string DirectoryOf(std::string_view path) const;
  // Returns `name` inside `directory`.
  std::string Join(std::string_view directory, std::string_view name) const;

 private:
  enum class Style { kPosix, kWindows };
  explicit constexpr PathSyntax(Style style) : style_(style) {}

  // Returns the length of the part of `path` that names its root ("/",
  // "C:", "C:\", "\\srv\pub\"), 0 where there is none.
  std::size_t RootLength(std::string_view path) const;

  Style style_;
};

}  // namespace korvik
