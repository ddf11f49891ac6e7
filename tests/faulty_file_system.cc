#include "tests/faulty_file_system.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace korvik {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return lower;
}

}  // namespace

void FaultyFileSystem::FailCall(std::size_t k, int code) {
  failing_calls_[k] = code;
}

void FaultyFileSystem::FailAllMatching(std::string method, int code) {
  failing_methods_[Lower(method)] = code;
}

void FaultyFileSystem::Reset() {
  call_count_ = 0;
  injected_.clear();
  failing_calls_.clear();
  failing_methods_.clear();
}

std::optional<Error> FaultyFileSystem::Fault(std::string_view method,
                                             std::string_view path) {
  const std::string action = Lower(method);
  const auto by_number = failing_calls_.find(++call_count_);
  const auto by_method = failing_methods_.find(action);
  std::optional<Error> error;
  if (by_number != failing_calls_.end()) {
    error = Error::FromErrno(by_number->second, action, path);
  } else if (by_method != failing_methods_.end()) {
    error = Error::FromErrno(by_method->second, action, path);
  }
  if (error) injected_ = error->description();
  return error;
}

std::optional<Error> FaultyFileSystem::Fault(std::string_view method,
                                             FileHandle file) {
  const auto found = paths_.find(file);
  return Fault(method, found == paths_.end() ? "?" : found->second);
}

Expected<EntryInfo> FaultyFileSystem::Stat(const std::string& path) {
  if (auto error = Fault("Stat", path)) return *error;
  return base_.Stat(path);
}

Expected<EntryInfo> FaultyFileSystem::StatEntry(const std::string& path) {
  if (auto error = Fault("StatEntry", path)) return *error;
  return base_.StatEntry(path);
}

Expected<EntryInfo> FaultyFileSystem::StatHandle(FileHandle file) {
  if (auto error = Fault("StatHandle", file)) return *error;
  return base_.StatHandle(file);
}

Expected<std::string> FaultyFileSystem::RealPath(const std::string& path) {
  if (auto error = Fault("RealPath", path)) return *error;
  return base_.RealPath(path);
}

Expected<std::optional<EntryInfo>> FaultyFileSystem::StatTrusted(
    const std::string& path) {
  if (auto error = Fault("StatTrusted", path)) return *error;
  return base_.StatTrusted(path);
}

bool FaultyFileSystem::MayWrite(const std::string& path) {
  return !Fault("MayWrite", path) && base_.MayWrite(path);
}

Expected<FileHandle> FaultyFileSystem::Open(const std::string& path,
                                            OpenMode mode) {
  if (auto error = Fault("Open", path)) return *error;
  auto file = base_.Open(path, mode);
  if (file.ok()) paths_[*file] = path;
  return file;
}

Expected<UniqueFile> FaultyFileSystem::CreateUnique(
    const std::string& directory, const std::string& prefix) {
  if (auto error = Fault("CreateUnique", directory + "/" + prefix)) {
    return *error;
  }
  auto file = base_.CreateUnique(directory, prefix);
  if (file.ok()) paths_[file->handle] = file->path;
  return file;
}

Status FaultyFileSystem::Close(FileHandle file) {
  const auto error = Fault("Close", file);
  // The handle is released either way, as close(2) releases it on failure.
  Status closed = base_.Close(file);
  paths_.erase(file);
  if (error) return *error;
  return closed;
}

Expected<std::size_t> FaultyFileSystem::Read(FileHandle file,
                                             std::span<char> buffer) {
  if (auto error = Fault("Read", file)) return *error;
  return base_.Read(file, buffer);
}

Expected<std::size_t> FaultyFileSystem::ReadAt(FileHandle file,
                                               std::span<char> buffer,
                                               std::uint64_t offset) {
  if (auto error = Fault("ReadAt", file)) return *error;
  return base_.ReadAt(file, buffer, offset);
}

Status FaultyFileSystem::Write(FileHandle file, std::span<const char> data) {
  if (auto error = Fault("Write", file)) return *error;
  return base_.Write(file, data);
}

Status FaultyFileSystem::WriteAt(FileHandle file, std::span<const char> data,
                                 std::uint64_t offset) {
  if (auto error = Fault("WriteAt", file)) return *error;
  return base_.WriteAt(file, data, offset);
}

Status FaultyFileSystem::WriteAtEnd(FileHandle file,
                                    std::span<const char> data) {
  if (auto error = Fault("WriteAtEnd", file)) return *error;
  return base_.WriteAtEnd(file, data);
}

Status FaultyFileSystem::CopyRange(FileHandle source,
                                   std::uint64_t source_offset,
                                   FileHandle target,
                                   std::uint64_t target_offset,
                                   std::uint64_t length) {
  if (auto error = Fault("CopyRange", source)) return *error;
  return base_.CopyRange(source, source_offset, target, target_offset, length);
}

Status FaultyFileSystem::Truncate(FileHandle file, std::uint64_t length) {
  if (auto error = Fault("Truncate", file)) return *error;
  return base_.Truncate(file, length);
}

Status FaultyFileSystem::Sync(FileHandle file) {
  if (auto error = Fault("Sync", file)) return *error;
  return base_.Sync(file);
}

Status FaultyFileSystem::Lock(FileHandle file) {
  if (auto error = Fault("Lock", file)) return *error;
  return base_.Lock(file);
}

Expected<bool> FaultyFileSystem::TryLock(FileHandle file) {
  if (auto error = Fault("TryLock", file)) return *error;
  return base_.TryLock(file);
}

Status FaultyFileSystem::KeepAttributes(FileHandle file,
                                        const std::string& target) {
  if (auto error = Fault("KeepAttributes", target)) return *error;
  return base_.KeepAttributes(file, target);
}

Status FaultyFileSystem::Place(FileHandle file, const std::string& name,
                               const std::string& target) {
  if (auto error = Fault("Place", target)) return *error;
  return base_.Place(file, name, target);
}

Status FaultyFileSystem::SyncFolderOf(const std::string& path) {
  if (auto error = Fault("SyncFolderOf", path)) return *error;
  return base_.SyncFolderOf(path);
}

Status FaultyFileSystem::Remove(const std::string& path) {
  if (auto error = Fault("Remove", path)) return *error;
  return base_.Remove(path);
}

}  // namespace korvik
