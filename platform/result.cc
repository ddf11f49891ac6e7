#include "platform/result.h"

#include <cerrno>
#include <cstring>

namespace korvik {
namespace {

ErrorKind KindOfErrno(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return ErrorKind::kNotFound;
    case EACCES:
    case EPERM:
      return ErrorKind::kAccessDenied;
    case EROFS:
      return ErrorKind::kReadOnly;
    case EXDEV:
      return ErrorKind::kCrossDevice;
    case ENAMETOOLONG:
      return ErrorKind::kNameTooLong;
    case EEXIST:
      return ErrorKind::kAlreadyExists;
    case EINVAL:
      return ErrorKind::kInvalidArgument;
    default:
      return ErrorKind::kOther;
  }
}

}  // namespace

Error Error::FromErrno(int code, std::string_view action,
                       std::string_view path) {
  std::string text(action);
  text += " '";
  text += path;
  text += "': ";
  text += std::strerror(code);
  return Error(KindOfErrno(code), std::move(text), code);
}

}  // namespace korvik
