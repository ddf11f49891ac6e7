#include "platform/path.h"

namespace korvik {

bool PathSyntax::IsAbsolute(std::string_view path) const {
  if (style_ == Style::kPosix) return path.starts_with('/');
  return (path.size() >= 2 && path[1] == ':') || path.starts_with("\\\\");
}

std::string PathSyntax::WithoutTrailingSeparator(std::string path) const {
  if (path.empty() || path.back() != separator()) return path;
  if (style_ == Style::kPosix && path.size() == 1) return path;
  path.pop_back();
  return path;
}

std::size_t PathSyntax::RootLength(std::string_view path) const {
  if (style_ == Style::kPosix) return path.starts_with('/') ? 1 : 0;
  if (path.size() >= 2 && path[1] == ':') {
    return path.size() >= 3 && IsSeparator(path[2]) ? 3 : 2;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // \\server\share\ : the share is part of the root.
    std::size_t separators = 0;
    for (std::size_t i = 2; i < path.size(); ++i) {
      if (IsSeparator(path[i]) && ++separators == 2) return i + 1;
    }
    return path.size();
  }
  return IsSeparator(path.empty() ? '\0' : path[0]) ? 1 : 0;
}

std::string_view PathSyntax::BaseName(std::string_view path) const {
  const std::size_t root = RootLength(path);
  while (path.size() > root && IsSeparator(path.back())) path.remove_suffix(1);
  std::size_t start = path.size();
  while (start > root && !IsSeparator(path[start - 1])) --start;
  return path.substr(start);
}

std::string PathSyntax::DirectoryOf(std::string_view path) const {
  const std::size_t root = RootLength(path);
  while (path.size() > root && IsSeparator(path.back())) path.remove_suffix(1);
  std::size_t end = path.size();
  while (end > root && !IsSeparator(path[end - 1])) --end;
  if (end == 0) return ".";
  if (end == root) return std::string(path.substr(0, root));
  while (end > root + 1 && IsSeparator(path[end - 2])) --end;
  return std::string(path.substr(0, end - 1));
}

std::string PathSyntax::Join(std::string_view directory,
                             std::string_view name) const {
  std::string joined(directory);
  if (joined.empty() || !IsSeparator(joined.back())) joined += separator();
  joined += name;
  return joined;
}

}  // namespace korvik
