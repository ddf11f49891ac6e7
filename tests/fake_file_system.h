// An in-memory file system for tests. It holds regular files, directories,
// symbolic links and stand-ins for devices and FIFOs under absolute names,
// checks the permissions of one user (uid 1000, or root), and logs every
// call that may change something so tests can check what an operation did.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace korvik {

class FakeFileSystem : public FileSystem {
 public:
  // Starts with an empty root directory on device 1, as a user who is not
  // root, in the current directory "/".
  FakeFileSystem();

  FileSystemCapabilities capabilities() const override;
  Expected<EntryInfo> Stat(const std::string& path) override;
  Expected<EntryInfo> StatEntry(const std::string& path) override;
  Expected<EntryInfo> StatHandle(FileHandle file) override;
  Expected<std::string> RealPath(const std::string& path) override;
  Expected<std::optional<EntryInfo>> StatTrusted(
      const std::string& path) override;
  void EndTrustedWalk() override { walk_held_ = false; }
  bool MayWrite(const std::string& path) override;
  Expected<FileHandle> Open(const std::string& path, OpenMode mode) override;
  // Names the file `prefix` followed by the first free number of six
  // digits ("000001", "000002", ...), so that tests can predict it.
  Expected<UniqueFile> CreateUnique(const std::string& directory,
                                    const std::string& prefix) override;
  std::string HandlePath(FileHandle file) override;
  Status Close(FileHandle file) override;
  Expected<std::size_t> Read(FileHandle file, std::span<char> buffer) override;
  Expected<std::size_t> ReadAt(FileHandle file, std::span<char> buffer,
                               std::uint64_t offset) override;
  Status Write(FileHandle file, std::span<const char> data) override;
  Status WriteAt(FileHandle file, std::span<const char> data,
                 std::uint64_t offset) override;
  Status WriteAtEnd(FileHandle file, std::span<const char> data) override;
  Status CopyRange(FileHandle source, std::uint64_t source_offset,
                   FileHandle target, std::uint64_t target_offset,
                   std::uint64_t length) override;
  Status Truncate(FileHandle file, std::uint64_t length) override;
  Status Sync(FileHandle file) override;
  // Never waits: a second handle locking a locked file fails with EDEADLK,
  // as a single-threaded test would otherwise hang.
  Status Lock(FileHandle file) override;
  Expected<bool> TryLock(FileHandle file) override;
  // The target's mode, owner and group.
  Status KeepAttributes(FileHandle file, const std::string& target) override;
  Status Place(FileHandle file, const std::string& name,
               const std::string& target) override;
  // Logged as "Sync" of the folder.
  Status SyncFolderOf(const std::string& path) override;
  Status Remove(const std::string& path) override;
  // Moves an entry as rename(2) does, for setting up tests.
  Status Rename(const std::string& from, const std::string& to);

  // Setting up. These create missing parent directories (mode 0755), follow
  // no symbolic link, and replace an entry already at `path`.
  void AddFile(const std::string& path, const std::string& content,
               std::uint32_t mode = 0644);
  // Gives the directory `device`, which entries added beneath inherit.
  void AddDirectory(const std::string& path,
                    std::optional<std::uint64_t> device = std::nullopt);
  void AddSymlink(const std::string& path, const std::string& target);
  // Gives the file at `existing` the further name `path`.
  void AddHardLink(const std::string& path, const std::string& existing);
  // Hands the entry `path` names, a link itself too, to another user than
  // the process's.
  void SetForeignOwner(const std::string& path);
  // Adds an entry that stands for a device or FIFO.
  void AddSystemEntry(const std::string& path);
  // Sets the permission bits of what `path` leads to.
  void SetMode(const std::string& path, std::uint32_t mode);
  void set_root(bool root) { root_ = root; }
  void set_current_directory(const std::string& path);

  // Looking at the outcome. Contents and Mode follow symbolic links and throw
  // std::invalid_argument when there is no such file.
  const std::string& current_directory() const { return current_directory_; }
  // Determines whether an entry of any kind, a dangling link too, has the
  // name `path`.
  bool Exists(const std::string& path) const;
  std::string Contents(const std::string& path) const;
  std::uint32_t Mode(const std::string& path) const;
  // Returns the names of all regular files, sorted.
  std::vector<std::string> Files() const;
  std::size_t OpenHandleCount() const { return handles_.size(); }
  // Determines whether a StatTrusted walk holds its folders still, not yet
  // let go by EndTrustedWalk.
  bool HoldsAWalk() const { return walk_held_; }
  // Returns lines such as "Open /d/a.txt" or "Place /d/t000001 /d/a.txt",
  // one for each call of Open, CreateUnique, Write, WriteAt, Truncate,
  // Place, Rename, Remove, Lock, Sync and CopyRange, failed ones too,
  // with names made absolute.
  std::vector<std::string> calls() const { return calls_; }

 private:
  enum class NodeKind { kFile, kDirectory, kSymlink, kSystem };

  struct Node {
    NodeKind kind = NodeKind::kFile;
    std::string data;  // a file's bytes or a link's target
    std::uint32_t mode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t changes = 0;  // counts writes, the stand-in for times
  };

  // A handle keeps its node alive after the name is removed or replaced.
  struct OpenFile {
    std::shared_ptr<Node> node;
    std::string path;  // as the caller named it, for error descriptions
    std::string name;  // absolute, for the call log
    bool readable = false;
    bool writable = false;
    bool append = false;
    std::uint64_t position = 0;
  };

  // Where a path leads: an errno that stopped the walk, or the resolved
  // name and its node (null when the final name does not exist).
  struct Lookup {
    int error = 0;
    std::string path;
    std::shared_ptr<Node> node;
    bool foreign_link = false;  // followed a link of another user
  };

  // Returns `path` absolute, without ".", ".." and repeated separators.
  std::string Normalise(std::string_view path) const;
  // Follows `path` through links; the final name too if `follow_last`.
  Lookup Resolve(std::string_view path, bool follow_last) const;
  // Describes `node`, found under `name`.
  EntryInfo Describe(const Node& node, std::string_view name) const;
  std::shared_ptr<Node> NewNode(NodeKind kind, std::uint32_t mode,
                                std::uint64_t device);
  Node& MakeDirectories(const std::string& name);
  std::shared_ptr<Node> Place(const std::string& path, NodeKind kind,
                              std::uint32_t mode);
  const Node& Existing(const std::string& path) const;
  const Node& ParentOf(const std::string& name) const;
  bool Permits(const Node& node, std::uint32_t bits) const;
  // Determines whether a run may append to the file `name`: not where it has
  // further names or another owner in a folder that others may write.
  bool MayAppendTo(const Node& node, const std::string& name) const;
  bool HasChildren(const std::string& name) const;
  void MoveTree(const std::string& from, const std::string& to);
  FileHandle Remember(OpenFile file);
  OpenFile* Find(FileHandle file);
  void Log(std::string_view call, std::string_view name);

  std::map<std::string, std::shared_ptr<Node>> entries_;
  std::map<FileHandle, OpenFile> handles_;
  std::map<std::uint64_t, FileHandle> locks_;  // inode to holding handle
  std::vector<std::string> calls_;
  std::string current_directory_ = "/";
  bool root_ = false;
  std::uint64_t next_inode_ = 1;
  FileHandle next_handle_ = 3;  // after the standard streams, like the kernel
  bool walk_held_ = false;
};

}  // namespace korvik
