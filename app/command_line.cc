#include "app/command_line.h"

#include "checksum/entries.h"

namespace korvik {

Expected<BatchCommand> DecodeCommand(const std::string& trimmed_command) {
  if (trimmed_command.size() < 2) {
    return Error(ErrorKind::kInvalidArgument,
                 "Invalid procedure call or argument");
  }
  return BatchCommand{trimmed_command.substr(0, 2),
                      TrimBlanks(std::string_view(trimmed_command).substr(2))};
}

}  // namespace korvik
