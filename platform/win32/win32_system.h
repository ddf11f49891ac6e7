// The running system's services on Windows.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/system.h"

namespace korvik {

// Returns what follows the program's name and the blanks after it in a
// command line as Windows hands it over: quotes and inner blanks kept.
std::string CommandTextOf(std::wstring_view command_line);

class Win32Process : public Process {
 public:
  // The command line as typed, from GetCommandLineW.
  std::string CommandText() override;
  std::string ProgramDirectory() override;
  Expected<std::string> CurrentDirectory() override;
  Status SetCurrentDirectory(const std::string& path) override;
  std::string TempDirectory() override;
  // Writes to the standard error handle the program was given, or to the
  // console of the program that started it.
  void WriteError(const std::string& line) override;
};

class Win32Clock : public Clock {
 public:
  std::tm Now() override;
};

// Returns the separator between day, month and year of a short date
// picture such as "dd.MM.yyyy"; "/" where the picture is not three numbers
// with one and the same one-character separator.
std::string DateSeparatorOfPicture(std::wstring_view picture);

// Dates, times and letter case by the user's locale.
class Win32Locale : public Locale {
 public:
  std::string DateSeparator() override;
  std::string FormatTime(const std::tm& time) override;
  std::string ToUpper(const std::string& text) override;
};

// Drive letters: their type from GetDriveTypeW, the share of a mapped
// network drive from WNetGetConnectionW.
class Win32DriveInfo : public DriveInfo {
 public:
  std::string DriveName(const std::string& path) override;
  Expected<Drive> FindDrive(const std::string& drive_name) override;
};

// DLLs loaded by their full path only, never through the search order.
class Win32LibraryLoader : public LibraryLoader {
 public:
  Expected<void*> LoadFunction(const std::string& library_path,
                               const char* name) override;
  Expected<std::string> SingleByteName(const std::string& path) override;
  Error ErrorOfCode(int code, std::string_view action,
                    std::string_view path) override;

 private:
  std::mutex mutex_;
  std::map<std::string, HMODULE> loaded_;
};

}  // namespace korvik
