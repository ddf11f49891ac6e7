// The services of a POSIX system, wired once by the program's start.
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"

namespace korvik {
namespace {

class PosixPlatform final : public Platform {
 public:
  PosixPlatform(int argc, char** argv) : process_(argc, argv) {}

  FileSystem& files() override { return files_; }
  Process& process() override { return process_; }
  Clock& clock() override { return clock_; }
  Locale& locale() override { return locale_; }
  DriveInfo& drives() override { return drives_; }
  LibraryLoader& libraries() override { return libraries_; }

 private:
  PosixFileSystem files_;
  PosixProcess process_;
  PosixClock clock_;
  PosixLocale locale_;
  PosixDriveInfo drives_;
  PosixLibraryLoader libraries_;
};

}  // namespace

PathSyntax PathSyntax::Native() { return Posix(); }

std::unique_ptr<Platform> MakePlatform(int argc, char** argv) {
  return std::make_unique<PosixPlatform>(argc, argv);
}

}  // namespace korvik
