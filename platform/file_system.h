// The file services that the checksum operations and the batch run use.
// The POSIX implementation talks to the kernel; tests substitute an
// in-memory file system and inject failures into any call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/result.h"

namespace korvik {

// What a name refers to, after following symbolic links.
enum class EntryKind {
  kMissing,    // nothing, or a dangling link
  kRegular,    // a regular file
  kDirectory,  // a directory
  kSystem,     // a device, FIFO or socket
};

struct EntryInfo {
  EntryKind kind = EntryKind::kMissing;
  std::uint64_t size = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t mode = 0;  // permission bits, 07777
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  // Last change of content and of status, in nanoseconds since the epoch:
  // every write moves both.
  std::int64_t modified_ns = 0;
  std::int64_t changed_ns = 0;
};

enum class OpenMode {
  kRead,           // read only; refuses anything but a regular file
  kReadWrite,      // read and write an existing regular file
  kCreateShared,   // read and write; created empty (rw for all, less umask)
  kCreatePrivate,  // read and write; created empty (owner only); the final
                   // name component must not be a symbolic link
  kAppend,         // every write goes to the end; created if missing
};

// An open file as the file system numbers it.
using FileHandle = int;

// A uniquely named file made by CreateUnique.
struct UniqueFile {
  FileHandle handle;
  std::string path;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Returns what `path` names; a missing entry is not an error.
  virtual Expected<EntryInfo> Stat(const std::string& path) = 0;
  // Returns what the open file is.
  virtual Expected<EntryInfo> StatHandle(FileHandle file) = 0;
  // Returns the absolute path of `path` with every symbolic link resolved.
  virtual Expected<std::string> RealPath(const std::string& path) = 0;
  // Determines whether the process may write the file under the
  // permission rules of the system (root may write anything).
  virtual bool MayWrite(const std::string& path) = 0;

  virtual Expected<FileHandle> Open(const std::string& path, OpenMode mode) = 0;
  // Opens a directory, for Lock and Sync.
  virtual Expected<FileHandle> OpenDirectory(const std::string& path) = 0;
  // Creates a new file, owner only, named `prefix` followed by six random
  // characters in `directory`.
  virtual Expected<UniqueFile> CreateUnique(const std::string& directory,
                                            const std::string& prefix) = 0;
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
  // Copies `length` bytes from `source` at `source_offset` to `target` at
  // `target_offset`, inside the kernel where it can.
  virtual Status CopyRange(FileHandle source, std::uint64_t source_offset,
                           FileHandle target, std::uint64_t target_offset,
                           std::uint64_t length) = 0;
  virtual Status Truncate(FileHandle file, std::uint64_t length) = 0;
  // Flushes the file's data and metadata to the device.
  virtual Status Sync(FileHandle file) = 0;
  // Gives the file the permission bits of `like`, and its owner and group
  // where the process may set them.
  virtual Status CopyAttributes(FileHandle file, const EntryInfo& like) = 0;
  // Waits for an exclusive advisory lock, released when the handle closes.
  virtual Status Lock(FileHandle file) = 0;

  // Replaces `to` by `from` in one step; both on one file system.
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  virtual Status Remove(const std::string& path) = 0;
  // Returns the names in a directory, without "." and "..".
  virtual Expected<std::vector<std::string>> ListDirectory(
      const std::string& path) = 0;
};

// Closes the handle when it goes out of scope, unless Close() ran first.
class ScopedFile {
 public:
  ScopedFile(FileSystem& fs, FileHandle handle) : fs_(&fs), handle_(handle) {}
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() {
    if (handle_ >= 0) (void)fs_->Close(handle_);
  }

  FileHandle get() const { return handle_; }
  // Gives up ownership of the handle without closing it.
  FileHandle Release() {
    const FileHandle handle = handle_;
    handle_ = -1;
    return handle;
  }
  Status Close() {
    FileHandle handle = handle_;
    handle_ = -1;
    return fs_->Close(handle);
  }

 private:
  FileSystem* fs_;
  FileHandle handle_;
};

}  // namespace korvik
