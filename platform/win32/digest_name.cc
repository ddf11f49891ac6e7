#include "platform/win32/digest_name.h"

#include <windows.h>

#include <optional>

#include "platform/win32/wide.h"

namespace korvik {
namespace {

Error NameError(DWORD code, const std::string& utf8_path) {
  return win32::ErrorFromCode(code, "digest library name", utf8_path);
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

}  // namespace

Expected<std::string> DigestLibraryName(const std::string& utf8_path) {
  // The library takes a zero-terminated name.
  if (utf8_path.find('\0') != std::string::npos) {
    return NameError(ERROR_INVALID_NAME, utf8_path);
  }
  const std::optional<std::wstring> wide = Wide(utf8_path);
  if (!wide) return NameError(ERROR_NO_UNICODE_TRANSLATION, utf8_path);
  if (std::optional<std::string> ansi = LosslessAnsi(*wide)) return *ansi;

  // Without short names on the volume, the short form is the long name.
  const std::wstring short_path =
      win32::FillBuffer([&](wchar_t* buffer, DWORD size) {
        return ::GetShortPathNameW(wide->c_str(), buffer, size);
      });
  if (short_path.empty()) return NameError(::GetLastError(), utf8_path);
  if (std::optional<std::string> ansi = LosslessAnsi(short_path)) return *ansi;
  return NameError(ERROR_NO_UNICODE_TRANSLATION, utf8_path);
}

}  // namespace korvik
