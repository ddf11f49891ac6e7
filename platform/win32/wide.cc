#include "platform/win32/wide.h"

namespace korvik::win32 {
namespace {

ErrorKind KindOfCode(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE:
      return ErrorKind::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return ErrorKind::kAccessDenied;
    case ERROR_WRITE_PROTECT:
      return ErrorKind::kReadOnly;
    case ERROR_NOT_SAME_DEVICE:
      return ErrorKind::kCrossDevice;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
      return ErrorKind::kNameTooLong;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return ErrorKind::kAlreadyExists;
    case ERROR_HANDLE_EOF:
      return ErrorKind::kEndOfFile;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_HANDLE:
      return ErrorKind::kInvalidArgument;
    default:
      return ErrorKind::kOther;
  }
}

std::string Describe(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring description =
      length == 0 ? L"error " + std::to_wstring(code) : std::wstring(text);
  if (text != nullptr) ::LocalFree(text);
  while (!description.empty() &&
         (description.back() == L'\n' || description.back() == L'\r' ||
          description.back() == L' ' || description.back() == L'.')) {
    description.pop_back();
  }
  return Narrow(description);
}

}  // namespace

std::wstring Widen(std::string_view text) {
  if (text.empty()) return L"";
  const int size = static_cast<int>(text.size());
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty()) return "";
  const int size = static_cast<int>(text.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size,
                                           nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length,
                        nullptr, nullptr);
  return narrow;
}

Error ErrorFromCode(DWORD code, std::string_view action,
                    std::string_view path) {
  std::string text(action);
  text += " '";
  text += path;
  text += "': ";
  text += Describe(code);
  return Error(KindOfCode(code), std::move(text), static_cast<int>(code));
}

bool NamesNothing(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_INVALID_NAME || code == ERROR_BAD_NETPATH ||
         code == ERROR_BAD_PATHNAME || code == ERROR_FILENAME_EXCED_RANGE ||
         code == ERROR_INVALID_DRIVE || code == ERROR_DIRECTORY;
}

Error LastError(std::string_view action, std::string_view path) {
  return ErrorFromCode(::GetLastError(), action, path);
}

}  // namespace korvik::win32
