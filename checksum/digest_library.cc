#include "checksum/digest_library.h"

#include <cstring>

#include "checksum/entries.h"

namespace korvik {

LoadedDigestLibrary::LoadedDigestLibrary(LibraryLoader& loader,
                                         std::string library_path)
    : loader_(loader), library_path_(std::move(library_path)) {}

Status LoadedDigestLibrary::Load() {
  if (md_file_ != nullptr) return Status::Ok();
  auto function = loader_.LoadFunction(library_path_, "MDFile");
  if (!function.ok()) return function.status();
  md_file_ = reinterpret_cast<MDFileFunction>(*function);
  // A library made for the one-function interface lacks it.
  auto head = loader_.LoadFunction(library_path_, "MDFileHead");
  if (head.ok()) md_file_head_ = reinterpret_cast<MDFileHeadFunction>(*head);
  return Status::Ok();
}

template <typename Function>
Status LoadedDigestLibrary::Call(const std::string& file_name,
                                 std::string& digest, Function digest_into) {
  auto name = loader_.SingleByteName(file_name);
  if (!name.ok()) return name.status();
  // The library writes its digits over 32 blanks and a terminating zero.
  char buffer[kDigestLength + 1];
  std::memset(buffer, ' ', kDigestLength);
  buffer[kDigestLength] = '\0';
  const int code = digest_into(name->c_str(), buffer);
  digest.assign(buffer, kDigestLength);
  if (code != 0) return loader_.ErrorOfCode(code, "digest", file_name);
  return Status::Ok();
}

Status LoadedDigestLibrary::MDFile(const std::string& file_name,
                                   std::string& digest) {
  if (Status loaded = Load(); !loaded.ok()) return loaded;
  return Call(file_name, digest, md_file_);
}

bool LoadedDigestLibrary::OffersHeadDigest() {
  return Load().ok() && md_file_head_ != nullptr;
}

Status LoadedDigestLibrary::MDFileHead(const std::string& file_name,
                                       std::uint64_t length,
                                       std::string& digest) {
  if (!OffersHeadDigest()) {
    return Error(ErrorKind::kNotFound, "the digest library '" + library_path_ +
                                           "' offers no function MDFileHead");
  }
  return Call(file_name, digest, [&](const char* name, char* buffer) {
    return md_file_head_(name, static_cast<long long>(length), buffer);
  });
}

std::string DigestLibraryPath(Process& process, PathSyntax paths) {
  return paths.Join(process.ProgramDirectory(), kDigestLibraryFileName);
}

Expected<bool> DigestLibraryPresent(const Services& services) {
  return IsOrdinaryFile(services.files,
                        DigestLibraryPath(services.process, services.paths));
}

}  // namespace korvik
