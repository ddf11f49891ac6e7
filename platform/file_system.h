// The file services that the checksum operations and the batch run use.
// Each system's back end talks to its kernel; tests substitute an in-memory
// file system and inject failures into any call.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "platform/path.h"
#include "platform/result.h"

namespace korvik {

// What a name refers to, after following symbolic links.
enum class EntryKind {
  kMissing,    // nothing, or a dangling link
  kRegular,    // a regular file
  kDirectory,  // a directory
  kDevice,     // a device, FIFO or socket
  kLink,       // a symbolic link or reparse point itself: from StatEntry only
};

// Which file an entry is, unique on one machine while the file exists: the
// volume and the file's number on it.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
};

struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  // Marked hidden: a name starting with "." on POSIX, the hidden attribute
  // on Windows.
  bool hidden = false;
  // Marked as the system's own: a device, FIFO or socket on POSIX, the
  // system attribute on Windows.
  bool system = false;
  std::uint64_t size = 0;
  FileId id;
  // How many names (hard links) the file has.
  std::uint32_t links = 1;
  // Owned by a user other than the one the process runs as; such a user may
  // hold locks on the file or change it at any moment.
  bool foreign_owner = false;
  // Its permissions let users other than its owner open it (group or other
  // bits on POSIX; not told on Windows): anyone may have it open and locked.
  bool open_to_others = false;
  // Last change of content and of status (or attributes), in nanoseconds
  // since the epoch: every write moves both.
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
};

enum class OpenMode {
  kRead,       // read only; refuses anything but a regular file
  kReadWrite,  // read and write an existing regular file; never through a
               // symbolic link in the last part of the path
  kCreate,     // read and write; created empty where missing, readable by
               // whoever may read new files
  kCreateNew,  // read and write a file made by this call, readable by its
               // owner only; fails with kAlreadyExists where the name is
               // taken, by a link too
  kInspect,    // read only an existing regular file, to look at and lock an
               // entry that may be nobody's to write; never through a
               // symbolic link in the last part of the path
  kAppend,     // every write goes to the end; created if missing; never
               // through a symbolic link in the last part of the path; in a
               // folder that others may write, refuses a file that has further
               // names (hard links) or belongs to another user, as anyone may
               // have put it there
};
// Other processes may read, write and delete every file the program holds
// open: the digest library reads work files the program is still writing.

// Run by Replace once the new file is complete and flushed, just before it
// takes the target's place, and again right after (or, where the new file
// is copied across volumes, right before the copy): it may add bytes at the
// new file's end, and answers whether it did. A failure before stops the
// replacement, changing nothing.
using Settle = std::function<Expected<bool>()>;

// What a back end can promise and what it cannot, so that callers (and the
// tests every back end passes) ask instead of assuming.
struct FileSystemCapabilities {
  // How paths are written.
  PathSyntax paths = PathSyntax::Native();
  // Replace may put a file in the place of a target that is open: Windows
  // refuses while any handle is open on it.
  bool replaces_open_files = true;
  // HandlePath names the open file itself whatever its own name leads to by
  // now, and Place puts the open file itself in place. Elsewhere HandlePath
  // gives the name the file was opened by, and Replace fails where that name
  // no longer leads to the file.
  bool names_open_files = true;
  // EntryInfo tells foreign_owner and open_to_others; elsewhere both are
  // always false.
  bool tells_owners = true;
  // StatTrusted holds the folders it checked until EndTrustedWalk, so that
  // later calls by name act in them whatever their paths lead to by then.
  // Where the hold keeps the folders themselves from being renamed
  // (Windows), `hold_pins_folders` says so.
  bool holds_folders = true;
  bool hold_pins_folders = false;
  // AwaitSoleHandle tells when no other handle is open on a file; elsewhere
  // it always answers false.
  bool tells_sole_handle = false;
};

// An open file as the file system numbers it.
using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;

// A uniquely named file made by CreateUnique.
struct UniqueFile {
  FileHandle handle;
  std::string path;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  virtual FileSystemCapabilities capabilities() const = 0;
  // Shorthand for capabilities().replaces_open_files.
  bool ReplacesOpenFiles() const { return capabilities().replaces_open_files; }

  // Returns what `path` names; a missing entry, or a name too long to
  // exist, is not an error.
  virtual Expected<EntryInfo> Stat(const std::string& path) = 0;
  // Returns what the last name in `path` is itself, as Stat does, but a
  // symbolic link (reparse point) there is not followed: kLink.
  virtual Expected<EntryInfo> StatEntry(const std::string& path) = 0;
  // Returns what the open file is.
  virtual Expected<EntryInfo> StatHandle(FileHandle file) = 0;
  // Returns the absolute path of `path` with every symbolic link resolved.
  virtual Expected<std::string> RealPath(const std::string& path) = 0;
  // Returns what `path` names, as Stat does, but follows only symbolic links
  // of the user the process runs as or of the administrator: nothing where
  // another user's link is on the way, as it may lead anywhere by now. The
  // entry is looked at in the same walk that checked the links. Where the
  // back end holds folders (capabilities), it holds those the walk went
  // through until EndTrustedWalk or the next walk: RealPath of the same path
  // answers from the walk, and later calls on names in the folder the walk
  // ended in act in the very folder the walk checked, whatever its path
  // leads to by then.
  virtual Expected<std::optional<EntryInfo>> StatTrusted(
      const std::string& path) = 0;
  // Lets go of what the last StatTrusted holds: the operation that walked is
  // over. Windows keeps held folders from being renamed until then.
  virtual void EndTrustedWalk() = 0;
  // Determines whether the process may write the file: its permissions or
  // attributes allow it (root may write anything).
  virtual bool MayWrite(const std::string& path) = 0;

  virtual Expected<FileHandle> Open(const std::string& path, OpenMode mode) = 0;
  // Creates a new file, owner only, named `prefix` followed by six random
  // characters in `directory`.
  virtual Expected<UniqueFile> CreateUnique(const std::string& directory,
                                            const std::string& prefix) = 0;
  // Returns a name under which another open (the digest library's) reaches
  // the file the handle holds: whatever its own name leads to by now where
  // the back end names open files (capabilities), else that name.
  virtual std::string HandlePath(FileHandle file) = 0;
  // Releases the handle; reports a failure of the final flush.
  virtual Status Close(FileHandle file) = 0;

  // Reads up to buffer.size() bytes at the file position; 0 at the end.
  virtual Expected<std::size_t> Read(FileHandle file,
                                     std::span<char> buffer) = 0;
  // Reads up to buffer.size() bytes at `offset`; 0 at the end.
  virtual Expected<std::size_t> ReadAt(FileHandle file, std::span<char> buffer,
                                       std::uint64_t offset) = 0;
  // Writes all of `data` at the file position (at the end in kAppend).
  virtual Status Write(FileHandle file, std::span<const char> data) = 0;
  // Writes all of `data` at `offset`.
  virtual Status WriteAt(FileHandle file, std::span<const char> data,
                         std::uint64_t offset) = 0;
  // Writes all of `data` at the end the file has at that instant, after
  // whatever another process wrote meanwhile, never over it.
  virtual Status WriteAtEnd(FileHandle file, std::span<const char> data) = 0;
  // Copies `length` bytes from `source` at `source_offset` to `target` at
  // `target_offset`, inside the kernel where it can.
  virtual Status CopyRange(FileHandle source, std::uint64_t source_offset,
                           FileHandle target, std::uint64_t target_offset,
                           std::uint64_t length) = 0;
  virtual Status Truncate(FileHandle file, std::uint64_t length) = 0;
  // Flushes the file's data and metadata to the device.
  virtual Status Sync(FileHandle file) = 0;
  // Starts writing `length` bytes of the file from `offset` to the device
  // without waiting for them, so that a later Sync has less left to wait
  // for. Does nothing where the system offers no such call.
  virtual void StartSync(FileHandle /*file*/, std::uint64_t /*offset*/,
                         std::uint64_t /*length*/) {}
  // Waits at most `within` until the handle is the only one open on its
  // file, in this process or any other: a file that has lost its last name
  // then takes no more writes. Returns false where others still hold it,
  // or where the system cannot tell.
  virtual bool AwaitSoleHandle(FileHandle /*file*/,
                               std::chrono::milliseconds /*within*/) {
    return false;
  }
  // Waits for an exclusive lock on the whole file, released when the
  // handle closes. The lock keeps no other handle from reading or writing.
  virtual Status Lock(FileHandle file) = 0;
  // Takes that lock where nobody holds it; false where somebody does.
  virtual Expected<bool> TryLock(FileHandle file) = 0;

  // Puts the content of the file `replacement`, open as `replacement_file`
  // (and not written to after), in place of the regular file `target`, in
  // one step that a crash leaves either before or after. Fails,
  // changing nothing, where `target` is no longer the file `expected` (a
  // link put in its place, say), and where the new file cannot keep exactly
  // the owner, group, permissions, access lists and extended attributes of
  // `target` (its attributes and security on Windows). The new content and
  // its name are on the device before it returns. Works across volumes;
  // `replacement` is gone afterwards. Where the system names open files,
  // the open file itself takes the target's place, whatever `replacement`
  // leads to by then (another user may swap that name); elsewhere it fails,
  // changing nothing, where that name no longer leads to `replacement_file`.
  // The new file admits nobody the target does not admit at any moment: it
  // gives up what its folder granted before it takes the target's rights.
  // Where open files cannot be replaced (capabilities), `target` must be
  // closed by then. Built once, here, of the calls below.
  Status Replace(FileHandle replacement_file, const std::string& replacement,
                 const std::string& target, const FileId& expected,
                 const Settle& settle);

  // Gives `file` exactly what of `target` the new content keeps (see
  // Replace), dropping first whatever it got from its folder that the
  // target lacks; fails where any of it cannot be kept.
  virtual Status KeepAttributes(FileHandle file, const std::string& target) = 0;
  // Puts `file`, named `name`, in the place of `target` in one step, on the
  // same volume: kCrossDevice where the two lie on different volumes,
  // changing nothing. Where the system names open files, the open file
  // itself goes, whatever `name` leads to by now.
  virtual Status Place(FileHandle file, const std::string& name,
                       const std::string& target) = 0;
  // Puts the name of the entry `path` on the device (its folder's entries).
  virtual Status SyncFolderOf(const std::string& path) = 0;
  virtual Status Remove(const std::string& path) = 0;

 private:
  // Puts a copy of `file` beside `target`, then in its place, and removes
  // `name`: for a replacement on another volume than the target.
  Status CopyIntoPlace(FileHandle file, const std::string& name,
                       const std::string& target);
};

// Runs `settle`, where given, and flushes `file` again where it wrote.
Status SettleReplacement(FileSystem& files, const Settle& settle,
                         FileHandle file);

// The failure of Replace where `name` no longer leads to the file it
// stood for.
Error ReplacedMeanwhile(const std::string& name);

// Copies `length` bytes from `source` at `source_offset` to `target` at
// `target_offset` through ReadAt and WriteAt, a block at a time: CopyRange
// where the system offers no copy of its own.
Status CopyInBlocks(FileSystem& files, FileHandle source,
                    std::uint64_t source_offset, FileHandle target,
                    std::uint64_t target_offset, std::uint64_t length);

// Closes the handle when it goes out of scope, unless Close() ran first.
class ScopedFile {
 public:
  ScopedFile(FileSystem& fs, FileHandle handle) : fs_(&fs), handle_(handle) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() {
    if (handle_ != kNoFile) (void)fs_->Close(handle_);
  }

  FileHandle get() const { return handle_; }
  Status Close() {
    FileHandle handle = handle_;
    handle_ = kNoFile;
    return fs_->Close(handle);
  }

 private:
  FileSystem* fs_;
  FileHandle handle_;
};

}  // namespace korvik
