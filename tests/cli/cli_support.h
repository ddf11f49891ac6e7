// Helpers for the tests that run the built program and load the built
// digest library as a user would: scratch directories, whole-file reads and
// writes, reference digests and child processes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvik::cli {

inline constexpr char kProgramDirectory[] = KORVIK_PROGRAM_DIR;
inline constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// A fresh directory under /tmp, removed with everything in it on
// destruction.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, std::string_view content);
// The names in a directory, sorted, without "." and "..".
std::vector<std::string> ListDirectory(const std::string& path);

// The MD5 digest of `data` as 32 lower-case hexadecimal digits, computed by
// OpenSSL.
std::string Md5Hex(std::string_view data);

// One run of a program.
struct Command {
  std::string program;
  std::vector<std::string> arguments;    // argv[1...], passed as they are
  std::string directory;                 // the child's current directory
  std::vector<std::string> environment;  // "NAME=value", the whole of it
  // Runs the child as this user and group, without supplementary groups.
  std::optional<std::pair<uid_t, gid_t>> identity;
};

struct Outcome {
  int exit_status = -1;  // the exit code, or -1 when killed by a signal
  int signal = 0;
  bool timed_out = false;
  std::string standard_output;
  std::string standard_error;
};

// A started child; its output goes to files in its own capture directory.
class Child {
 public:
  explicit Child(const Command& command);
  // Kills a child still running (SIGKILL) and reaps it.
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits for the child's end; a child still running after `limit_seconds`
  // is killed and reported as timed out.
  Outcome Wait(int limit_seconds = 300);

 private:
  ScratchDirectory capture_;
  pid_t pid_ = -1;
};

Outcome Run(const Command& command, int limit_seconds = 300);

// A plain environment for the program: a fixed PATH, the "C" locale, the
// given temporary directory, and this process's time zone and sanitizer
// options; no display.
std::vector<std::string> PlainEnvironment(const std::string& temp_directory);

// Determines whether this process may run children as another user.
bool CanSwitchUser();

// Determines whether `user`/`group` may run the built program: every
// directory on the way must let them through.
bool MayRunProgramAs(uid_t user, gid_t group);

}  // namespace korvik::cli
