// The services that the checksum operations draw on. The callers own them;
// the operations only borrow them for the span of one call.
#pragma once

#include "platform/file_system.h"
#include "platform/system.h"

namespace korvik {

class DigestLibrary;

struct Services {
  FileSystem& files;
  Process& process;
  DriveInfo& drives;
  Locale& locale;
  DigestLibrary& digest;
};

}  // namespace korvik
