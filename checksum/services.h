// The services that the checksum operations draw on, set up once for the
// process. The callers own them; the operations only borrow them for the
// span of one call. What one seal holds and learns lives in its
// SealSession; who listens to one run's progress is passed to that run.
#pragma once

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"

namespace korvik {

class DigestLibrary;

struct Services {
  FileSystem& files;
  Process& process;
  DriveInfo& drives;
  Locale& locale;
  DigestLibrary& digest;
  // The shape of the paths that `files` takes.
  PathSyntax paths = PathSyntax::Native();
};

}  // namespace korvik
