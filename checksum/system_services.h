// The services of the running system, wired for the checksum operations:
// what the batch program and the window module each set up once.
#pragma once

#include "checksum/digest_library.h"
#include "checksum/services.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"

namespace korvik {

class SystemServices {
 public:
  SystemServices() = default;
  SystemServices(const SystemServices&) = delete;
  SystemServices& operator=(const SystemServices&) = delete;

  const Services& services() const { return services_; }
  Process& process() { return process_; }

 private:
  PosixFileSystem files_;
  PosixProcess process_;
  PosixDriveInfo drives_;
  PosixLocale locale_;
  LoadedDigestLibrary digest_{DigestLibraryPath(process_)};
  const Services services_{files_, process_, drives_, locale_, digest_};
};

}  // namespace korvik
