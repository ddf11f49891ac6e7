// Text and errors at the boundary to Win32: the program holds UTF-8, every
// call takes UTF-16; failures carry GetLastError's code and text.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "platform/result.h"

namespace korvik::win32 {

// Returns `text` (UTF-8) as UTF-16; bytes that are no UTF-8 become U+FFFD.
std::wstring Widen(std::string_view text);
// Returns `text` (UTF-16) as UTF-8.
std::string Narrow(std::wstring_view text);

// Returns the error for the Win32 error `code` raised by `action` on `path`,
// with the system's own description.
Error ErrorFromCode(DWORD code, std::string_view action, std::string_view path);
// Returns the error for GetLastError().
Error LastError(std::string_view action, std::string_view path);

// Determines whether the error `code` means that a name leads nowhere.
bool NamesNothing(DWORD code);

// Calls a Win32 function that fills a wide buffer and answers the length it
// needs (with or without the terminating zero): grows the buffer until it
// fits. Returns the empty text where `fill` answers 0.
template <typename Fill>
std::wstring FillBuffer(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return L"";
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length + 1);
  }
}

}  // namespace korvik::win32
