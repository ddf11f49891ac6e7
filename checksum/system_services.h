// The services of the running system, wired for the checksum operations:
// what the batch program and the window module each set up once.
#pragma once

#include <memory>

#include "checksum/digest_library.h"
#include "checksum/services.h"
#include "platform/system.h"

namespace korvik {

class SystemServices {
 public:
  // Takes main's arguments (argc 0 where there are none to pass on).
  SystemServices(int argc, char** argv)
      : platform_(MakePlatform(argc, argv)),
        digest_(platform_->libraries(),
                DigestLibraryPath(platform_->process())),
        services_{platform_->files(), platform_->process(), platform_->drives(),
                  platform_->locale(), digest_} {}
  SystemServices(const SystemServices&) = delete;
  SystemServices& operator=(const SystemServices&) = delete;

  const Services& services() const { return services_; }
  Platform& platform() { return *platform_; }

 private:
  std::unique_ptr<Platform> platform_;
  LoadedDigestLibrary digest_;
  const Services services_;
};

}  // namespace korvik
