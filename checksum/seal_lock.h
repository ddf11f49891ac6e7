// The data file of one seal, held open and locked from its rewrite through
// its digest to its trailer: two seals of one file take turns, whatever
// their current directories, and each step works on the file the checks
// saw, not on whatever a name leads to by then.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>

#include "platform/file_system.h"

namespace korvik {

// Takes the exclusive lock on the open file, waiting at most `wait` for
// somebody else to let it go; false where they still hold it then.
Expected<bool> LockWithin(FileSystem& files, FileHandle file,
                          std::chrono::milliseconds wait);

class SealLock {
 public:
  // How long Take waits for a lock that somebody else holds: any user who
  // may read a file may lock it, so no wait is without end.
  static constexpr std::chrono::milliseconds kDefaultWait{20'000};

  explicit SealLock(FileSystem& files,
                    std::chrono::milliseconds wait = kDefaultWait)
      : files_(files), wait_(wait) {}
  SealLock(const SealLock&) = delete;
  SealLock& operator=(const SealLock&) = delete;
  ~SealLock() { Release(); }

  // Opens the regular file `path` names for reading and writing, following
  // no symbolic link at its last part, and locks it. Returns false where
  // `path` no longer leads to the file `expected`; an error where the file
  // cannot be opened or stays locked by someone else.
  Expected<bool> Take(const std::string& path, const FileId& expected);

  bool holding() const { return held_.has_value(); }
  // Notes that the held file was checked under `name`; such a name that
  // leads elsewhere later has been swapped.
  void AddName(const std::string& name) { names_.insert(name); }
  bool Named(const std::string& name) const { return names_.contains(name); }
  // Determines whether the lock holds the file `id`.
  bool Holds(const FileId& id) const { return held_ && held_->id == id; }
  FileHandle handle() const { return handle_; }

  // Returns the held file as it is now, where `path` leads to it.
  Expected<std::optional<EntryInfo>> HeldState(const std::string& path);

  // Holds `replacement`, locked by this run, which has taken the data
  // file's place.
  void HandOver(FileHandle replacement);

  // The file as it was when its hash was computed, where noted.
  void NoteDigested(const EntryInfo& state) { digested_ = state; }
  const std::optional<EntryInfo>& digested() const { return digested_; }

  void Release();

 private:
  FileSystem& files_;
  std::chrono::milliseconds wait_;
  FileHandle handle_ = kNoFile;
  std::optional<EntryInfo> held_;
  std::optional<EntryInfo> digested_;
  std::set<std::string> names_;
};

// Determines whether two looks at one file saw it unchanged.
bool SameState(const EntryInfo& a, const EntryInfo& b);

}  // namespace korvik
