// A file system that forwards to another one and makes chosen calls fail,
// so tests can reach every error path of an operation: run it once to count
// its calls, then once for each call k with FailCall(k, ...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/file_system.h"

namespace korvik {

class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& base) : base_(base) {}

  // Makes call number `k` (1-based, counted from construction or Reset)
  // fail with errno `code` instead of reaching the wrapped file system.
  void FailCall(std::size_t k, int code);
  // Makes every call of `method`, named as in FileSystem ("Replace"), fail.
  void FailAllMatching(std::string method, int code);
  // Counts from zero again and forgets every failure asked for.
  void Reset();
  std::size_t call_count() const { return call_count_; }
  // Returns the description of the last failure injected, or "".
  const std::string& injected() const { return injected_; }

  // A failed call reports Error::FromErrno(code, the method's name in lower
  // case, the path it names or the path its handle was opened with). A
  // failed MayWrite answers false; a failed Close still closes the handle.
  FileSystemCapabilities capabilities() const override {
    return base_.capabilities();
  }
  Expected<EntryInfo> Stat(const std::string& path) override;
  Expected<EntryInfo> StatEntry(const std::string& path) override;
  Expected<EntryInfo> StatHandle(FileHandle file) override;
  Expected<std::string> RealPath(const std::string& path) override;
  Expected<std::optional<EntryInfo>> StatTrusted(
      const std::string& path) override;
  void EndTrustedWalk() override { base_.EndTrustedWalk(); }
  bool MayWrite(const std::string& path) override;
  Expected<FileHandle> Open(const std::string& path, OpenMode mode) override;
  Expected<UniqueFile> CreateUnique(const std::string& directory,
                                    const std::string& prefix) override;
  std::string HandlePath(FileHandle file) override {
    return base_.HandlePath(file);
  }
  Status Close(FileHandle file) override;
  Expected<std::size_t> Read(FileHandle file, std::span<char> buffer) override;
  Expected<std::size_t> ReadAt(FileHandle file, std::span<char> buffer,
                               std::uint64_t offset) override;
  Status Write(FileHandle file, std::span<const char> data) override;
  Status WriteAt(FileHandle file, std::span<const char> data,
                 std::uint64_t offset) override;
  Status WriteAtEnd(FileHandle file, std::span<const char> data) override;
  // Names the source's path when it fails.
  Status CopyRange(FileHandle source, std::uint64_t source_offset,
                   FileHandle target, std::uint64_t target_offset,
                   std::uint64_t length) override;
  Status Truncate(FileHandle file, std::uint64_t length) override;
  Status Sync(FileHandle file) override;
  bool AwaitSoleHandle(FileHandle file,
                       std::chrono::milliseconds within) override {
    return base_.AwaitSoleHandle(file, within);
  }
  Status Lock(FileHandle file) override;
  Expected<bool> TryLock(FileHandle file) override;
  // Names the target when it fails.
  Status KeepAttributes(FileHandle file, const std::string& target) override;
  Status Place(FileHandle file, const std::string& name,
               const std::string& target) override;
  Status SyncFolderOf(const std::string& path) override;
  Status Remove(const std::string& path) override;

 private:
  // Counts a call; returns the error it must report, if it is to fail.
  std::optional<Error> Fault(std::string_view method, std::string_view path);
  std::optional<Error> Fault(std::string_view method, FileHandle file);

  FileSystem& base_;
  std::size_t call_count_ = 0;
  std::string injected_;
  std::map<std::size_t, int> failing_calls_;    // call number to errno
  std::map<std::string, int> failing_methods_;  // lower-case name to errno
  std::unordered_map<FileHandle, std::string> paths_;
};

}  // namespace korvik
