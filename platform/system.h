// The services of the running system other than files: the process and its
// directories, the clock, the user's locale, drive information and library
// files loaded at run time.
#pragma once

#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/result.h"

namespace korvik {

class Process {
 public:
  virtual ~Process() = default;

  // Returns the command text: everything after the program's name, as one
  // text (POSIX: the arguments joined by single blanks; Windows: the command
  // line exactly as typed, quotes and inner blanks kept).
  virtual std::string CommandText() = 0;
  // Returns the directory of the running program, links resolved.
  virtual std::string ProgramDirectory() = 0;
  virtual Expected<std::string> CurrentDirectory() = 0;
  virtual Status SetCurrentDirectory(const std::string& path) = 0;
  // Returns the directory for temporary files of the system or the user.
  virtual std::string TempDirectory() = 0;
  // Tells the person or script that started the program about a failure
  // that no run log holds: one line on standard error.
  virtual void WriteError(const std::string& line) = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  // Returns the current local date and time.
  virtual std::tm Now() = 0;
};

class Locale {
 public:
  virtual ~Locale() = default;

  // Returns the character that separates day, month and year in dates, all
  // of its bytes.
  virtual std::string DateSeparator() = 0;
  // Returns the time of day in the long time format (hours, minutes and
  // seconds).
  virtual std::string FormatTime(const std::tm& time) = 0;
  // Returns `text` in upper case by the user's locale; bytes that are no
  // character of the text's encoding are kept as they are.
  virtual std::string ToUpper(const std::string& text) = 0;
};

// A drive as the drive information service describes it.
struct Drive {
  bool is_network = false;
  std::string share_name;  // for a network drive: its share, as a path
};

// Drive letters and mapped network drives. Systems without them name no
// drive in any path.
class DriveInfo {
 public:
  virtual ~DriveInfo() = default;

  // Returns the drive part of `path` ("C:"), or the empty text where it
  // names none (a network path, or any path on POSIX).
  virtual std::string DriveName(const std::string& path) = 0;
  // Returns the machine's drive of that name.
  virtual Expected<Drive> FindDrive(const std::string& drive_name) = 0;
};

// Functions in library files loaded while the program runs.
class LibraryLoader {
 public:
  virtual ~LibraryLoader() = default;

  // Loads the library file at exactly `library_path`, never one found by a
  // search, and returns the address of its export `name`; an export the
  // library lacks fails with kNotFound. A library stays loaded until the
  // program ends.
  virtual Expected<void*> LoadFunction(const std::string& library_path,
                                       const char* name) = 0;
  // Returns the single-byte form of `path` under which a library function
  // that takes names in the system's code page opens the same file.
  virtual Expected<std::string> SingleByteName(const std::string& path) = 0;
  // Returns the error for the system error code (errno, or a Win32 error)
  // that a library function answered when `action` on `path` failed.
  virtual Error ErrorOfCode(int code, std::string_view action,
                            std::string_view path) = 0;
};

// Every service of the running system, made once by the program's start.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual FileSystem& files() = 0;
  virtual Process& process() = 0;
  virtual Clock& clock() = 0;
  virtual Locale& locale() = 0;
  virtual DriveInfo& drives() = 0;
  virtual LibraryLoader& libraries() = 0;
};

// Returns the services of the system the program runs on. `argc` and `argv`
// are main's, for systems that hand over the command line word by word.
std::unique_ptr<Platform> MakePlatform(int argc, char** argv);

}  // namespace korvik
