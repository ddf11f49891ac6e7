#include "app/command_line.h"

#include <cerrno>

#include "checksum/entries.h"

namespace korvik {

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (&argument != &arguments.front()) text += ' ';
    text += argument;
  }
  return text;
}

Expected<BatchCommand> DecodeCommand(const std::string& trimmed_command) {
  if (trimmed_command.size() < 2) {
    return Error(EINVAL, "Invalid procedure call or argument");
  }
  return BatchCommand{trimmed_command.substr(0, 2),
                      TrimBlanks(std::string_view(trimmed_command).substr(2))};
}

}  // namespace korvik
