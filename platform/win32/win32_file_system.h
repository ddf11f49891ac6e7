// The file services on Windows: UTF-16 names, handles shared for reading,
// writing and deleting, 64-bit positions.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "platform/win32/trusted_walk.h"

namespace korvik {

class Win32FileSystem : public FileSystem {
 public:
  ~Win32FileSystem() override;

  // Open files have no names here, owners are not told, and the held
  // folders cannot be renamed until the walk ends.
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
  Status Lock(FileHandle file) override;
  Expected<bool> TryLock(FileHandle file) override;
  // The target's attributes and access list.
  Status KeepAttributes(FileHandle file, const std::string& target) override;
  // Renames the open file itself over the target.
  Status Place(FileHandle file, const std::string& name,
               const std::string& target) override;
  // Place flushes the renamed file, and its name with it.
  Status SyncFolderOf(const std::string& /*path*/) override {
    return Status::Ok();
  }
  Status Remove(const std::string& path) override;

 private:
  struct OpenFile {
    HANDLE handle;
    std::string path;
  };

  FileHandle Remember(HANDLE handle, const std::string& path);
  // Returns the open file numbered `file`, or nullptr.
  const OpenFile* Find(FileHandle file);
  Error BadHandle(std::string_view action);
  // Opens the file held as `file` once more, with `access`.
  HANDLE Reopen(const OpenFile& file, DWORD access);
  // Writes all of `data` through `handle`, at `offset` where one is given.
  Status WriteAll(const OpenFile& file, std::span<const char> data,
                  const std::uint64_t* offset);

  std::mutex mutex_;
  std::map<FileHandle, OpenFile> files_;
  // What the last trusted walk holds, and the path it was asked for and
  // resolved to.
  win32::HeldFolders trusted_;
  std::string trusted_asked_;
  std::string trusted_resolved_;
  FileHandle next_ = 3;
};

}  // namespace korvik
