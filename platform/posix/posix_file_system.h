// The file services on a POSIX kernel.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/file_system.h"

namespace korvik {

class PosixFileSystem : public FileSystem {
 public:
  PosixFileSystem() = default;
  PosixFileSystem(const PosixFileSystem&) = delete;
  PosixFileSystem& operator=(const PosixFileSystem&) = delete;

  FileSystemCapabilities capabilities() const override;
  Expected<EntryInfo> Stat(const std::string& path) override;
  Expected<EntryInfo> StatEntry(const std::string& path) override;
  Expected<EntryInfo> StatHandle(FileHandle file) override;
  Expected<std::string> RealPath(const std::string& path) override;
  Expected<std::optional<EntryInfo>> StatTrusted(
      const std::string& path) override;
  void EndTrustedWalk() override;
  bool MayWrite(const std::string& path) override;
  Expected<FileHandle> Open(const std::string& path, OpenMode mode) override;
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
  void StartSync(FileHandle file, std::uint64_t offset,
                 std::uint64_t length) override;
  bool AwaitSoleHandle(FileHandle file,
                       std::chrono::milliseconds within) override;
  Status Lock(FileHandle file) override;
  Expected<bool> TryLock(FileHandle file) override;
  Status KeepAttributes(FileHandle file, const std::string& target) override;
  Status Place(FileHandle file, const std::string& name,
               const std::string& target) override;
  Status SyncFolderOf(const std::string& path) override;
  Status Remove(const std::string& path) override;

 private:
  // Determines whether open files are named under /proc.
  static bool NamesOpenFiles();
  // A descriptor closed when it goes out of scope.
  struct HeldFolder {
    explicit HeldFolder(int descriptor = -1) : fd(descriptor) {}
    HeldFolder(HeldFolder&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    HeldFolder& operator=(HeldFolder&& other) noexcept {
      Reset(std::exchange(other.fd, -1));
      return *this;
    }
    ~HeldFolder() { Reset(-1); }
    void Reset(int descriptor) {
      if (fd >= 0) ::close(fd);
      fd = descriptor;
    }
    int fd;
  };
  // The folder a trusted walk ended in, held open, with the path it was
  // asked for and the one it resolved to.
  struct TrustedFolder {
    HeldFolder folder;
    std::string path;
    std::string asked;
    std::string resolved;
  };

  void HoldTrustedFolder(HeldFolder folder, const std::string& asked,
                         const std::string& folder_path,
                         const std::string& resolved);
  // Returns the name that reaches `path` in the trusted folder where it lies
  // there, whatever the folder's own path leads to by now; else `path`.
  std::string Anchored(const std::string& path);
  void Remember(FileHandle file, const std::string& path);
  // Gives `file` exactly the owner, group, permission bits and extended
  // attributes (access lists among them) of `target`, which `like`
  // describes; fails where any of them cannot be kept.
  Status CopyAttributes(FileHandle file, const std::string& target,
                        const struct stat& like);
  // Renames `replacement` to `target`: where open files have no names.
  Status RenameIntoPlace(const std::string& replacement,
                         const std::string& target);
  // Links the open `file` (named `handle_name` under /proc) in beside
  // `target`, then in its place, and removes `replacement` where it still
  // leads to the file.
  Status LinkIntoPlace(FileHandle file, const std::string& handle_name,
                       const std::string& replacement,
                       const std::string& target);
  Status SyncDirectory(const std::string& directory);
  // Returns the error of a call on an open file, named by its path.
  Error NamedError(int code, std::string_view action, FileHandle file);

  std::mutex mutex_;
  std::unordered_map<FileHandle, std::string> names_;
  TrustedFolder trusted_;
};

}  // namespace korvik
