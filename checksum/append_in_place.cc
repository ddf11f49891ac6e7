#include "checksum/append_in_place.h"

namespace korvik {

Status AppendInPlace(FileSystem& files, FileHandle file, std::string_view bytes,
                     std::uint64_t length) {
  auto now = files.StatHandle(file);
  if (!now.ok()) return now.status();
  if (now->size != length) {
    return Error(ErrorKind::kOther,
                 "the file changed length while it was being sealed");
  }
  Status written = files.WriteAtEnd(file, bytes);
  if (written.ok()) written = files.Sync(file);
  if (!written.ok()) {
    auto after = files.StatHandle(file);
    if (after.ok() && after->size <= length + bytes.size()) {
      (void)files.Truncate(file, length);
    }
  }
  return written;
}

}  // namespace korvik
