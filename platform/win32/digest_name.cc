#include "platform/win32/digest_name.h"

#include <windows.h>

#include <optional>
#include <string_view>

namespace korvik {
namespace {

std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  std::string utf8(::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr,
                                         0, nullptr, nullptr),
                   '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(),
                        static_cast<int>(utf8.size()), nullptr, nullptr);
  return utf8;
}

// The system's text for a Win32 error code, without its closing period.
std::string SystemText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0) return "error " + std::to_string(code);
  std::wstring_view view(text, length);
  while (!view.empty() && (view.back() == L'\r' || view.back() == L'\n' ||
                           view.back() == L'.')) {
    view.remove_suffix(1);
  }
  std::string result = Utf8(view);
  ::LocalFree(text);
  return result;
}

Error NameError(DWORD code, const std::string& utf8_path) {
  return Error(static_cast<int>(code),
               "digest library name '" + utf8_path + "': " + SystemText(code));
}

std::optional<std::wstring> Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS,
                                           utf8.data(), size, nullptr, 0);
  if (length == 0) return std::nullopt;
  std::wstring wide(length, L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size,
                        wide.data(), length);
  return wide;
}

// The ANSI form of `wide` if the ANSI code page reads it back unchanged:
// then the digest library, which reads it with that code page, opens the
// very same name.
std::optional<std::string> LosslessAnsi(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size,
                                           nullptr, 0, nullptr, nullptr);
  if (length == 0) return std::nullopt;
  std::string ansi(length, '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), size, ansi.data(), length,
                        nullptr, nullptr);
  const int back_length = ::MultiByteToWideChar(
      CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length, nullptr, 0);
  std::wstring back(back_length, L'\0');
  ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length,
                        back.data(), back_length);
  if (back != wide) return std::nullopt;
  return ansi;
}

// Sets `short_path` to the 8.3 form of the existing `path`; returns 0 or a
// Win32 error code. Without short names on the volume, the form is the long
// name itself.
DWORD ShortPathName(const std::wstring& path, std::wstring& short_path) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(),
                                             static_cast<DWORD>(buffer.size()));
    if (length == 0) return ::GetLastError();
    if (length < buffer.size()) {
      buffer.resize(length);
      short_path = std::move(buffer);
      return ERROR_SUCCESS;
    }
    buffer.resize(length);  // the size it needs, with the terminating zero
  }
}

}  // namespace

Expected<std::string> DigestLibraryName(const std::string& utf8_path) {
  // The library takes a zero-terminated name.
  if (utf8_path.find('\0') != std::string::npos) {
    return NameError(ERROR_INVALID_NAME, utf8_path);
  }
  const std::optional<std::wstring> wide = Wide(utf8_path);
  if (!wide) return NameError(ERROR_NO_UNICODE_TRANSLATION, utf8_path);
  if (std::optional<std::string> ansi = LosslessAnsi(*wide)) return *ansi;

  std::wstring short_path;
  if (const DWORD error = ShortPathName(*wide, short_path)) {
    return NameError(error, utf8_path);
  }
  if (std::optional<std::string> ansi = LosslessAnsi(short_path)) return *ansi;
  return NameError(ERROR_NO_UNICODE_TRANSLATION, utf8_path);
}

}  // namespace korvik
