// Runs of the built program for the reliability tests: a scratch directory
// laid out for them, their run logs, and what they leave on disk.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/cli/run_logs.h"

namespace korvik::reliability {

// The reader of run logs, shared with the end-to-end tests.
using cli::IsStamp;
using cli::kRule;
using cli::ReadOutcome;
using cli::RunLogRecord;
using cli::RunOutcome;
using cli::SplitRunLogs;

#ifdef KORVIK_SANITIZE_BUILD
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

inline const std::string kProgram =
    std::string(cli::kProgramDirectory) + "/korvik";
inline constexpr uid_t kNobodyUser = 65534;
inline constexpr gid_t kNobodyGroup = 65534;

// A scratch directory holding "run", the current directory of every run
// (writable for all), "data" for data files, and "tmp", the runs' TMPDIR.
class Workspace {
 public:
  Workspace();

  const std::string& root() const { return root_; }
  const std::string& run() const { return run_; }
  const std::string& data() const { return data_; }
  const std::string& temp() const { return temp_; }
  std::string Data(const std::string& name) const { return data_ + "/" + name; }
  std::string InRun(const std::string& name) const { return run_ + "/" + name; }

  // The program with these arguments, in "run", with a plain environment.
  cli::Command Korvik(std::vector<std::string> arguments) const;
  // The run logs in run/ravlo.log; a log file that does not split into
  // complete run logs fails the test.
  std::vector<RunLogRecord> Logs() const;

 private:
  cli::ScratchDirectory scratch_;
  std::string root_;
  std::string run_;
  std::string data_;
  std::string temp_;
};

// A run whose log was written: exit status 0, in time.
void ExpectLoggedRun(const cli::Outcome& outcome);

// Writes `content` over the file, with no copy of it on the way: fresh
// memory is slow to come by on some virtual machines.
void WriteWhole(const std::string& path, std::string_view content);
// Determines whether the file holds exactly `content`, reading it in
// blocks.
bool FileEquals(const std::string& path, std::string_view content);
// Returns the size of the file, or -1 where there is none.
std::int64_t FileSize(const std::string& path);

// Returns the work files of the program ("~~~~MD5.TMP", names holding
// "~@~", hidden ".*.korvik-*" copies) under `directory`, recursively.
std::vector<std::string> WorkFilesUnder(const std::string& directory);

// What a directory tree holds: kind and permissions of every entry, and
// size and modification time of every entry that is not a directory.
struct EntryState {
  std::uint32_t mode = 0;  // st_mode
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
  bool operator==(const EntryState&) const = default;
};
using Snapshot = std::map<std::string, EntryState>;

Snapshot TakeSnapshot(const std::string& root);

// Describes every entry that appeared, vanished or changed between the
// snapshots, leaving out the names in `ignored`.
std::vector<std::string> Differences(const Snapshot& before,
                                     const Snapshot& after,
                                     const std::set<std::string>& ignored);

}  // namespace korvik::reliability
