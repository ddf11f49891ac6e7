// The services that the checksum operations draw on. The callers own them;
// the operations only borrow them for the span of one call.
#pragma once

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"

namespace korvik {

class CleanFileMemo;
class DigestLibrary;
class Progress;
class SealLock;

struct Services {
  FileSystem& files;
  Process& process;
  DriveInfo& drives;
  Locale& locale;
  DigestLibrary& digest;
  // The shape of the paths that `files` takes.
  PathSyntax paths = PathSyntax::Native();
  // Where set, spares a sealing run the second full read of a file that its
  // first rewrite found in order.
  CleanFileMemo* clean_files = nullptr;
  // Where set, holds the data file locked from the rewrite of a seal to its
  // trailer; otherwise each operation locks it for its own span.
  SealLock* seal = nullptr;
  // Where set, hears how far the operation is and may stop it; the digest
  // then goes through the library in pieces.
  Progress* progress = nullptr;
};

}  // namespace korvik
