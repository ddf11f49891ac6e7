// The window module's entry point, which the batch program calls when it is
// started without arguments.
#include <QApplication>

#include "checksum/digest_library.h"
#include "platform/posix/posix_file_system.h"
#include "platform/posix/posix_system.h"
#include "ui/interactive_mode.h"

extern "C" __attribute__((visibility("default"))) int
korvik_offer_interactive_mode(int argc, char** argv) {
  using namespace korvik;
  QApplication application(argc, argv);
  PosixFileSystem files;
  PosixProcess process;
  PosixDriveInfo drives;
  PosixLocale locale;
  LoadedDigestLibrary digest(DigestLibraryPath(process));
  const Services services{files, process, drives, locale, digest};
  if (AskToStartInteractiveMode()) ShowWindow(services);
  return 0;
}
