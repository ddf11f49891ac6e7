// Decoding of the batch run's command line.
#pragma once

#include <string>

#include "platform/result.h"

namespace korvik {

struct BatchCommand {
  std::string switch_text;  // the first two characters, as given
  std::string file_name;    // the rest, blanks trimmed off both ends
};

// Splits a trimmed command into its switch and file name; the blank between
// them is optional and quotes stay. Fails for fewer than two characters.
Expected<BatchCommand> DecodeCommand(const std::string& trimmed_command);

}  // namespace korvik
