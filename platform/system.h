// The services of the running system other than files: the process and its
// directories, the clock, the user's locale, and drive information.
#pragma once

#include <ctime>
#include <string>

#include "platform/result.h"

namespace korvik {

class Process {
 public:
  virtual ~Process() = default;

  // Returns the directory of the running program, links resolved.
  virtual std::string ProgramDirectory() = 0;
  virtual Expected<std::string> CurrentDirectory() = 0;
  virtual Status SetCurrentDirectory(const std::string& path) = 0;
  // Returns the directory for temporary files of the system or the user.
  virtual std::string TempDirectory() = 0;
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
  // Returns `text` in upper case; bytes that are no character of the
  // locale's encoding are kept as they are.
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

  // Returns the drive part of `path`, or the empty text where it has none.
  virtual std::string DriveName(const std::string& path) = 0;
  // Returns the machine's drive of that name.
  virtual Expected<Drive> FindDrive(const std::string& drive_name) = 0;
};

}  // namespace korvik
