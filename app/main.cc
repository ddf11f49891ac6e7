// korvik: seals data files with an MD5 trailer and verifies sealed files.
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "app/command_line.h"
#include "app/window_module.h"
#include "checksum/clean_file_memo.h"
#include "checksum/system_services.h"
#include "platform/posix/posix_system.h"

int main(int argc, char** argv) {
  using namespace korvik;
  SystemServices system;
  // One run seals one file: its second rewrite may rely on the first.
  CleanFileMemo clean_files;
  Services services = system.services();
  services.clean_files = &clean_files;
  PosixClock clock;
  WindowModule window(system.process().ProgramDirectory(), argc, argv);

  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0),
                                           argv + argc);
  const Status written =
      Main(BatchServices{services, clock, window}, JoinArguments(arguments));
  if (!written.ok()) {
    std::fprintf(stderr, "korvik: cannot write the run log: %s\n",
                 written.error().description().c_str());
    return 1;
  }
  return 0;
}
