#include "checksum/entries.h"

namespace korvik {
namespace {

Expected<bool> HasKind(FileSystem& files, const std::string& path,
                       bool directories_match) {
  if (path.empty()) return false;
  auto info = files.Stat(path);
  if (!info.ok()) return info.error();
  if (info->hidden || info->system) return false;
  return info->kind == EntryKind::kRegular ||
         (directories_match && info->kind == EntryKind::kDirectory);
}

}  // namespace

Expected<bool> IsOrdinaryFile(FileSystem& files, const std::string& path) {
  return HasKind(files, path, /*directories_match=*/false);
}

Expected<bool> IsOrdinaryEntry(FileSystem& files, const std::string& path) {
  return HasKind(files, path, /*directories_match=*/true);
}

Status RequireTrustedLinks(FileSystem& files, const std::string& path) {
  auto trusted = files.StatTrusted(path);
  if (!trusted.ok()) return trusted.status();
  if (*trusted) return Status::Ok();
  return UntrustedLinkError(path);
}

Error UntrustedLinkError(const std::string& path) {
  return Error(ErrorKind::kAccessDenied,
               "'" + path +
                   "' is reached through a symbolic link of another user, "
                   "which is not followed");
}

std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return "";
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace korvik
