// The program's start-up and its command-line front end: one switch and one
// file name in, one checksum operation, a run log appended to "ravlo.log",
// and the failure marker "ravlo.Out" left behind by a failed run.
#pragma once

#include <string>

#include "checksum/services.h"
#include "platform/result.h"
#include "platform/system.h"

namespace korvik {

class InteractiveMode {
 public:
  virtual ~InteractiveMode() = default;

  // Offers interactive mode and, on Yes, shows the window until it closes.
  virtual void Offer() = 0;
};

struct BatchServices {
  const Services& checksum;
  Clock& clock;
  InteractiveMode& interactive;
};

inline constexpr char kLogFileName[] = "ravlo.log";
inline constexpr char kMarkerFileName[] = "ravlo.Out";
// The marker's name where a run deletes it at its start.
inline constexpr char kOldMarkerFileName[] = "Ravlo.out";

// Runs the program for one command text (the arguments joined by blanks).
// The outcome goes to the run log and the failure marker; the result
// reports only a failure to write them.
Status Main(const BatchServices& services, const std::string& command_text);

}  // namespace korvik
