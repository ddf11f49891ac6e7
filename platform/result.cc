#include "platform/result.h"

#include <cstring>

namespace korvik {

Error Error::FromErrno(int code, std::string_view action,
                       std::string_view path) {
  std::string text(action);
  text += " '";
  text += path;
  text += "': ";
  text += std::strerror(code);
  return Error(code, std::move(text));
}

}  // namespace korvik
