#include "checksum/append_in_place.h"
#include "checksum/entries.h"
#include "checksum/operations.h"
#include "checksum/seal_lock.h"

namespace korvik {
namespace {

constexpr char kAppended[] = "Hash Appended successfully to : ";
constexpr char kFailure[] =
    "Error Occured while Adding Checksum to the File : ";

// Writes the hash at the file's end and flushes it; a failed write is
// undone so the file keeps its earlier length. The file a seal holds gets
// it through the seal's own handle, and only in the state it was digested
// in.
Status WriteTrailer(const Services& services, const std::string& file_name,
                    const std::string& hash) {
  FileSystem& files = services.files;
  if (services.seal != nullptr && services.seal->holding()) {
    auto held = services.seal->HeldState(file_name);
    if (!held.ok()) return held.status();
    if (*held) {
      const auto& digested = services.seal->digested();
      if (digested && !SameState(*digested, **held)) {
        return Error(ErrorKind::kOther,
                     "'" + file_name + "' changed after its hash was computed");
      }
      return AppendInPlace(files, services.seal->handle(), hash, (*held)->size);
    }
    // The name the seal checked leads to another file by now: swapped.
    if (services.seal->Named(file_name)) {
      return Error(ErrorKind::kOther,
                   "'" + file_name + "' leads to another file by now");
    }
  }
  // Another file, by a name of its own: never through another user's link.
  if (Status trusted = RequireTrustedLinks(files, file_name); !trusted.ok()) {
    return trusted;
  }
  auto opened = files.Open(file_name, OpenMode::kCreate);
  if (!opened.ok()) return opened.status();
  ScopedFile file(files, *opened);
  auto info = files.StatHandle(file.get());
  if (!info.ok()) return info.status();
  if (Status written = AppendInPlace(files, file.get(), hash, info->size);
      !written.ok()) {
    return written;
  }
  return file.Close();
}

}  // namespace

bool AppendHash(const Services& services, const std::string& file_name,
                const std::string& hash, std::string& message) {
  if (hash.empty() || file_name.empty()) return false;
  Status written = WriteTrailer(services, file_name, hash);
  if (!written.ok()) {
    message = std::string(kFailure) + file_name + std::string(kCrLf) +
              written.error().description();
    return false;
  }
  message = std::string(kAppended) + file_name;
  return true;
}

}  // namespace korvik
