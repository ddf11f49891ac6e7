// korvik: seals data files with an MD5 trailer and verifies sealed files.
#include <string>

#include "app/batch_run.h"
#include "app/interactive_mode.h"
#include "checksum/system_services.h"

int main(int argc, char** argv) {
  using namespace korvik;
  SystemServices system(argc, argv);
  const Services& services = system.services();
  Process& process = system.platform().process();
  const std::unique_ptr<InteractiveMode> interactive =
      MakeInteractiveMode(process, system.platform().libraries(), argc, argv);

  const Status written =
      Main(BatchServices{services, system.platform().clock(), *interactive},
           process.CommandText());
  if (!written.ok()) {
    process.WriteError("korvik: cannot write the run log: " +
                       written.error().description());
    return 1;
  }
  return 0;
}
