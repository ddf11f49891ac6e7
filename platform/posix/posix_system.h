// The running system's services on Linux.
#pragma once

#include <string>
#include <string_view>

#include "platform/system.h"

namespace korvik {

class PosixProcess : public Process {
 public:
  // Takes main's arguments, the program's name first.
  PosixProcess(int argc, char** argv);
  std::string CommandText() override;
  std::string ProgramDirectory() override;
  Expected<std::string> CurrentDirectory() override;
  Status SetCurrentDirectory(const std::string& path) override;
  std::string TempDirectory() override;
  void WriteError(const std::string& line) override;

 private:
  std::string command_text_;
  // The program does not move while it runs: resolved once, at the start.
  const std::string program_directory_;
};

class PosixClock : public Clock {
 public:
  std::tm Now() override;
};

// Returns the separator of a date format of the form number, separator,
// number, separator, number with one and the same character between the
// numbers, and "/" for any other format. `format` is read in the encoding
// of the current LC_TIME settings.
std::string DateSeparatorOf(std::string_view format);

// Formats dates and times by the user's LC_TIME settings. Upper-casing
// loads LC_CTYPE only once a text holds a byte beyond ASCII, so that runs on
// plain names do no locale work for it.
class PosixLocale : public Locale {
 public:
  PosixLocale();
  std::string DateSeparator() override;
  std::string FormatTime(const std::tm& time) override;
  std::string ToUpper(const std::string& text) override;

 private:
  bool ctype_loaded_ = false;
};

// Linux reaches network file systems through their mount paths, which are
// already the names that stay valid: no path names a drive.
class PosixDriveInfo : public DriveInfo {
 public:
  std::string DriveName(const std::string& path) override;
  Expected<Drive> FindDrive(const std::string& drive_name) override;
};

// Library files through the dynamic linker. Names are bytes: a library
// function opens a file under the very name the program holds.
class PosixLibraryLoader : public LibraryLoader {
 public:
  Expected<void*> LoadFunction(const std::string& library_path,
                               const char* name) override;
  Expected<std::string> SingleByteName(const std::string& path) override;
  Error ErrorOfCode(int code, std::string_view action,
                    std::string_view path) override;
};

}  // namespace korvik
