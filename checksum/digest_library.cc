#include "checksum/digest_library.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstring>

#include "checksum/entries.h"
#include "platform/path.h"

namespace korvik {

LoadedDigestLibrary::LoadedDigestLibrary(std::string library_path)
    : library_path_(std::move(library_path)) {}

LoadedDigestLibrary::~LoadedDigestLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

Status LoadedDigestLibrary::Load() {
  if (md_file_ != nullptr) return Status::Ok();
  if (handle_ == nullptr) {
    handle_ = ::dlopen(library_path_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
      return Error(ELIBACC, std::string("cannot load the digest library: ") +
                                ::dlerror());
    }
  }
  md_file_ = reinterpret_cast<MDFileFunction>(::dlsym(handle_, "MDFile"));
  if (md_file_ == nullptr) {
    return Error(ELIBBAD, "the digest library '" + library_path_ +
                              "' offers no function MDFile");
  }
  return Status::Ok();
}

Status LoadedDigestLibrary::MDFile(const std::string& file_name,
                                   std::string& digest) {
  if (Status loaded = Load(); !loaded.ok()) return loaded;
  // The library writes its digits over 32 blanks and a terminating zero.
  char buffer[kDigestLength + 1];
  std::memset(buffer, ' ', kDigestLength);
  buffer[kDigestLength] = '\0';
  const int code = md_file_(file_name.c_str(), buffer);
  digest.assign(buffer, kDigestLength);
  if (code != 0) return Error::FromErrno(code, "digest", file_name);
  return Status::Ok();
}

std::string DigestLibraryPath(Process& process) {
  return path::Join(process.ProgramDirectory(), kDigestLibraryFileName);
}

Expected<bool> DigestLibraryPresent(const Services& services) {
  return IsOrdinaryFile(services.files, DigestLibraryPath(services.process));
}

}  // namespace korvik
