// The rewrite's work file "~~~~MD5.TMP": where a data file's rewritten form
// is written before it takes the data file's place.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "checksum/digest_route.h"
#include "checksum/line_ends.h"
#include "checksum/progress.h"
#include "platform/file_system.h"
#include "platform/result.h"

namespace korvik {

// Made afresh by this run, owner only, and held open and locked for the
// whole rewrite: runs sharing a directory take turns on it. Nothing found
// under that name is ever written: a leftover of this user's is removed once
// no run holds it; anything else there (another user's file, which that user
// could lock for ever, a hard link, a link, a directory) is removed at once.
// The file is removed on every path unless it took the data file's place.
class RewriteWorkFile {
 public:
  explicit RewriteWorkFile(FileSystem& files) : files_(files) {}
  RewriteWorkFile(const RewriteWorkFile&) = delete;
  RewriteWorkFile& operator=(const RewriteWorkFile&) = delete;
  ~RewriteWorkFile();

  // Waits for the work file at `path`. Returns false where `path` is the
  // data file itself, an error where a leftover cannot be removed.
  Expected<bool> Acquire(const std::string& path, const FileId& data);

  // Writes the data file's rewritten form into the work file, complete and
  // flushed, bytes appended meanwhile included; hands every block written
  // to `digest`; counts the bytes read in `progress`.
  Status Fill(FileHandle data, DigestSink& digest, Progress& progress);

  // Puts the work file in the place of the data file `target`, the file
  // `expected`; where the data file is still held open as `data`, what was
  // appended to it meanwhile goes along, digested by `digest`.
  Status Replace(const std::string& target, const FileId& expected,
                 FileHandle data, DigestSink& digest);

  // Gives up the handle of the work file that took the data file's place,
  // still locked.
  FileHandle TakeReplaced() { return std::exchange(handle_, kNoFile); }

 private:
  // Carries bytes appended to the old data file after it was read, by a
  // writer that opened it before the work file took its place, over to the
  // work file's end; answers whether there were any. Fails, with no byte
  // lost, where the old file was changed otherwise or the new one was
  // written to first.
  Expected<bool> CarryOver(FileHandle data, DigestSink& digest);
  // Clears the name of what stands under it: waits for the run that works
  // in a file of this user's; removes one no run holds, and anything that
  // is no file of this user's alone at once.
  Status ClearTaken();
  // Adds the end of the last line where it has none yet, after the bytes
  // written so far; fails where others wrote to the file meanwhile.
  Status FinishLines(DigestSink& digest);
  // Removes what stands under the name instead of a usable work file.
  Status RemoveLeftover();
  // Determines whether the name still leads to the file held.
  bool StillNamed();
  // Determines whether the name is known to lead to another file by now
  // (another run's, which took this one for a leftover).
  bool LeadsElsewhere();

  FileSystem& files_;
  std::string path_;
  FileHandle handle_ = kNoFile;
  bool replaced_ = false;
  // The data file as the rewrite last read it to its end, and the bytes
  // written for it.
  EntryInfo read_;
  std::uint64_t written_ = 0;
  LineEndWriter lines_;  // across the fill and the carry-overs
  bool looked_ = false;  // CarryOver ran before
};

// The failure of a rewrite whose data file was written to meanwhile.
Error ChangedMeanwhile();

}  // namespace korvik
