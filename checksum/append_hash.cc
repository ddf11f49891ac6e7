#include "checksum/entries.h"
#include "checksum/operations.h"

namespace korvik {
namespace {

constexpr char kAppended[] = "Hash Appended successfully to : ";
constexpr char kFailure[] =
    "Error Occured while Adding Checksum to the File : ";

// Writes the hash at the file's end and flushes it; a failed write is
// undone so the file keeps its earlier length.
Status WriteTrailer(FileSystem& files, const std::string& file_name,
                    const std::string& hash) {
  auto opened = files.Open(file_name, OpenMode::kCreate);
  if (!opened.ok()) return opened.status();
  ScopedFile file(files, *opened);
  auto info = files.StatHandle(file.get());
  if (!info.ok()) return info.status();
  Status written = files.WriteAt(file.get(), hash, info->size);
  if (written.ok()) written = files.Sync(file.get());
  if (!written.ok()) {
    (void)files.Truncate(file.get(), info->size);
    return written;
  }
  return file.Close();
}

}  // namespace

bool AppendHash(const Services& services, const std::string& file_name,
                const std::string& hash, std::string& message) {
  if (hash.empty() || file_name.empty()) return false;
  Status written = WriteTrailer(services.files, file_name, hash);
  if (!written.ok()) {
    message = std::string(kFailure) + file_name + std::string(kCrLf) +
              written.error().description();
    return false;
  }
  message = std::string(kAppended) + file_name;
  return true;
}

}  // namespace korvik
