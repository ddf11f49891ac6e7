#include "checksum/entries.h"
#include "checksum/operations.h"

namespace korvik {
namespace {

// Returns the path of the drive's share where the path lies on a network
// drive, the path itself otherwise.
Expected<std::string> ResolveNetworkDrive(DriveInfo& drives,
                                          const std::string& path) {
  const std::string drive_name = drives.DriveName(path);
  if (drive_name.empty()) return path;
  auto drive = drives.FindDrive(drive_name);
  if (!drive.ok()) return drive.error();
  if (!drive->is_network) return path;
  return drive->share_name + path.substr(drive_name.size());
}

// Returns the path in upper case where that names the very same entry; on
// a file system that tells letter case apart it would name another entry or
// nothing, and the path keeps its letter case.
std::string CanonicalCase(const Services& services, const std::string& path) {
  const std::string upper = services.locale.ToUpper(path);
  if (upper == path) return path;
  auto original = services.files.Stat(path);
  auto upper_entry = services.files.Stat(upper);
  if (original.ok() && upper_entry.ok() &&
      original->kind != EntryKind::kMissing &&
      original->id == upper_entry->id && upper_entry->kind == original->kind) {
    return upper;
  }
  return path;
}

// Returns the canonical form of the path of the existing entry `path`
// names, once trimmed of its blanks there, or why it is unusable.
Expected<std::string> CanonicalPath(const Services& services,
                                    std::string& path) {
  auto exists = IsOrdinaryEntry(services.files, path);
  if (!exists.ok()) return exists.error();
  if (!*exists) {
    return Error(ErrorKind::kNotFound,
                 "'" + path + "' names no file or directory in plain view");
  }
  path = TrimBlanks(path);
  if (!services.paths.IsAbsolute(path)) {
    return Error(ErrorKind::kInvalidArgument,
                 "'" + path + "' is not an absolute path");
  }
  auto working = ResolveNetworkDrive(services.drives, path);
  if (!working.ok()) return working.error();
  return CanonicalCase(
      services, services.paths.WithoutTrailingSeparator(std::move(*working)));
}

}  // namespace

std::string NormalizePath(const Services& services, std::string& path) {
  auto canonical = CanonicalPath(services, path);
  return canonical.ok() ? std::move(*canonical) : std::string();
}

}  // namespace korvik
