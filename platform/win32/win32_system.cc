#include "platform/win32/win32_system.h"

#include <winnetwk.h>

#include <algorithm>
#include <vector>

#include "platform/win32/digest_name.h"
#include "platform/win32/wide.h"

namespace korvik {
namespace {

using win32::Narrow;
using win32::Widen;

// The program's name ends at its closing quote where it is quoted, else at
// the first blank.
std::wstring_view AfterProgramName(std::wstring_view line) {
  std::size_t i = 0;
  if (!line.empty() && line[0] == L'"') {
    const std::size_t closing = line.find(L'"', 1);
    i = closing == std::wstring_view::npos ? line.size() : closing + 1;
  } else {
    while (i < line.size() && line[i] != L' ' && line[i] != L'\t') ++i;
  }
  while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
  return line.substr(i);
}

std::string WithoutTrailingBackslash(std::wstring path) {
  if (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
    path.pop_back();
  }
  return Narrow(path);
}

}  // namespace

std::string CommandTextOf(std::wstring_view command_line) {
  return Narrow(AfterProgramName(command_line));
}

std::string Win32Process::CommandText() {
  return CommandTextOf(::GetCommandLineW());
}

std::string Win32Process::ProgramDirectory() {
  const std::wstring self = win32::FillBuffer([](wchar_t* buffer, DWORD size) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer, size);
    return length == size ? size + 1 : length;  // cut off: grow
  });
  return PathSyntax::Windows().DirectoryOf(Narrow(self));
}

Expected<std::string> Win32Process::CurrentDirectory() {
  const std::wstring current =
      win32::FillBuffer([](wchar_t* buffer, DWORD size) {
        return ::GetCurrentDirectoryW(size, buffer);
      });
  if (current.empty()) return win32::LastError("read", "current directory");
  return WithoutTrailingBackslash(current);
}

Status Win32Process::SetCurrentDirectory(const std::string& path) {
  if (!::SetCurrentDirectoryW(Widen(path).c_str())) {
    return win32::LastError("change to", path);
  }
  return Status::Ok();
}

std::string Win32Process::TempDirectory() {
  return WithoutTrailingBackslash(
      win32::FillBuffer([](wchar_t* buffer, DWORD size) {
        return ::GetTempPathW(size, buffer);
      }));
}

void Win32Process::WriteError(const std::string& line) {
  HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  bool attached = false;
  if (error == nullptr || error == INVALID_HANDLE_VALUE) {
    // Started as a windowed program from a console: write to that console.
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    attached = true;
    error = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
    if (error == INVALID_HANDLE_VALUE) return;
  }
  DWORD mode;
  DWORD written;
  if (::GetConsoleMode(error, &mode)) {
    const std::wstring wide = Widen(line + "\r\n");
    ::WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()),
                    &written, nullptr);
  } else {
    const std::string text = line + "\r\n";
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written,
                nullptr);
  }
  if (attached) ::CloseHandle(error);
}

std::tm Win32Clock::Now() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  std::tm time{};
  time.tm_year = now.wYear - 1900;
  time.tm_mon = now.wMonth - 1;
  time.tm_mday = now.wDay;
  time.tm_hour = now.wHour;
  time.tm_min = now.wMinute;
  time.tm_sec = now.wSecond;
  time.tm_wday = now.wDayOfWeek;
  return time;
}

std::string DateSeparatorOfPicture(std::wstring_view picture) {
  // Splits the picture into runs of one field letter and what lies between.
  std::vector<std::wstring> fields;
  std::vector<std::wstring> between{L""};
  for (std::size_t i = 0; i < picture.size();) {
    const wchar_t c = picture[i];
    if (c == L'd' || c == L'M' || c == L'y' || c == L'g') {
      std::size_t end = i;
      while (end < picture.size() && picture[end] == c) ++end;
      fields.emplace_back(picture.substr(i, end - i));
      between.emplace_back();
      i = end;
    } else if (c == L'\'') {
      const std::size_t end = picture.find(L'\'', i + 1);
      if (end == std::wstring_view::npos) return "/";
      between.back() += picture.substr(i + 1, end - i - 1);
      i = end + 1;
    } else {
      between.back() += c;
      ++i;
    }
  }
  // Day, month and year as numbers, "dd.MM.yyyy" or "yyyy-MM-dd".
  const auto numeric = [](const std::wstring& field) {
    return ((field[0] == L'd' || field[0] == L'M') && field.size() <= 2) ||
           (field[0] == L'y' && field.size() != 3 && field.size() <= 4);
  };
  if (fields.size() != 3 || !std::ranges::all_of(fields, numeric) ||
      !between.front().empty() || !between.back().empty() ||
      between[1] != between[2]) {
    return "/";
  }
  const std::wstring& separator = between[1];
  const bool one_character =
      separator.size() == 1 ||
      (separator.size() == 2 && IS_HIGH_SURROGATE(separator[0]) &&
       IS_LOW_SURROGATE(separator[1]));
  if (!one_character || separator[0] == L' ') return "/";
  return Narrow(separator);
}

std::string Win32Locale::DateSeparator() {
  wchar_t picture[80] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SSHORTDATE, picture,
                        80) == 0) {
    return "/";
  }
  return DateSeparatorOfPicture(picture);
}

std::string Win32Locale::FormatTime(const std::tm& time) {
  SYSTEMTIME at{};
  at.wYear = static_cast<WORD>(time.tm_year + 1900);
  at.wMonth = static_cast<WORD>(time.tm_mon + 1);
  at.wDay = static_cast<WORD>(time.tm_mday);
  at.wHour = static_cast<WORD>(time.tm_hour);
  at.wMinute = static_cast<WORD>(time.tm_min);
  at.wSecond = static_cast<WORD>(time.tm_sec);
  wchar_t text[80];
  const int length =
      ::GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &at, nullptr, text, 80);
  return length > 0 ? Narrow(std::wstring_view(text, length - 1)) : "";
}

std::string Win32Locale::ToUpper(const std::string& text) {
  const std::wstring wide = Widen(text);
  if (wide.empty()) return text;
  const int size = static_cast<int>(wide.size());
  const int length =
      ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_UPPERCASE, wide.data(),
                      size, nullptr, 0, nullptr, nullptr, 0);
  if (length <= 0) return text;
  std::wstring upper(static_cast<std::size_t>(length), L'\0');
  ::LCMapStringEx(LOCALE_NAME_USER_DEFAULT, LCMAP_UPPERCASE, wide.data(), size,
                  upper.data(), length, nullptr, nullptr, 0);
  return Narrow(upper);
}

std::string Win32DriveInfo::DriveName(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  return "";
}

Expected<Drive> Win32DriveInfo::FindDrive(const std::string& drive_name) {
  const std::wstring root = Widen(drive_name) + L"\\";
  const UINT type = ::GetDriveTypeW(root.c_str());
  if (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR) {
    return Error(ErrorKind::kNotFound, "no drive named '" + drive_name + "'");
  }
  if (type != DRIVE_REMOTE) return Drive{};
  const std::wstring local = Widen(drive_name);
  std::wstring share(MAX_PATH, L'\0');
  DWORD size = static_cast<DWORD>(share.size());
  DWORD code = ::WNetGetConnectionW(local.c_str(), share.data(), &size);
  if (code == ERROR_MORE_DATA) {
    share.resize(size);
    code = ::WNetGetConnectionW(local.c_str(), share.data(), &size);
  }
  if (code != NO_ERROR) {
    return win32::ErrorFromCode(code, "read the share of drive", drive_name);
  }
  share.resize(share.find(L'\0'));
  return Drive{true, Narrow(share)};
}

Expected<void*> Win32LibraryLoader::LoadFunction(
    const std::string& library_path, const char* name) {
  HMODULE module;
  {
    std::lock_guard lock(mutex_);
    auto found = loaded_.find(library_path);
    if (found == loaded_.end()) {
      // A full path, and the library's own folder for what it needs: never
      // the current directory, where someone may have planted a DLL.
      module = ::LoadLibraryExW(Widen(library_path).c_str(), nullptr,
                                LOAD_WITH_ALTERED_SEARCH_PATH);
      if (module == nullptr) {
        return win32::LastError("load the library", library_path);
      }
      found = loaded_.emplace(library_path, module).first;
    }
    module = found->second;
  }
  void* function = reinterpret_cast<void*>(::GetProcAddress(module, name));
  if (function == nullptr) {
    return Error(ErrorKind::kNotFound, "the library '" + library_path +
                                           "' offers no function " + name);
  }
  return function;
}

Expected<std::string> Win32LibraryLoader::SingleByteName(
    const std::string& path) {
  return DigestLibraryName(path);
}

Error Win32LibraryLoader::ErrorOfCode(int code, std::string_view action,
                                      std::string_view path) {
  return win32::ErrorFromCode(static_cast<DWORD>(code), action, path);
}

}  // namespace korvik
