// The services of Windows, wired once by the program's start.
#include "platform/win32/win32_file_system.h"
#include "platform/win32/win32_system.h"

namespace korvik {
namespace {

class Win32Platform final : public Platform {
 public:
  FileSystem& files() override { return files_; }
  Process& process() override { return process_; }
  Clock& clock() override { return clock_; }
  Locale& locale() override { return locale_; }
  DriveInfo& drives() override { return drives_; }
  LibraryLoader& libraries() override { return libraries_; }

 private:
  Win32FileSystem files_;
  Win32Process process_;
  Win32Clock clock_;
  Win32Locale locale_;
  Win32DriveInfo drives_;
  Win32LibraryLoader libraries_;
};

}  // namespace

PathSyntax PathSyntax::Native() { return Windows(); }

// Windows hands over the command line whole: argc and argv are not needed.
std::unique_ptr<Platform> MakePlatform(int, char**) {
  return std::make_unique<Win32Platform>();
}

}  // namespace korvik
