#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/path.h"

namespace korvik {
namespace {

// copy_file_range moves data inside the kernel; each call is bounded so a
// huge file is copied in steps the kernel can interrupt.
constexpr std::uint64_t kKernelCopyChunk = std::uint64_t{1} << 30;

Error ErrnoError(std::string_view action, std::string_view path) {
  return Error::FromErrno(errno, action, path);
}

EntryInfo ToEntryInfo(const struct stat& st, bool hidden) {
  EntryInfo info;
  if (S_ISREG(st.st_mode)) {
    info.kind = EntryKind::kRegular;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = EntryKind::kDirectory;
  } else {
    info.kind = EntryKind::kDevice;
    info.system = true;
  }
  info.hidden = hidden;
  info.size = static_cast<std::uint64_t>(st.st_size);
  info.id = FileId{st.st_dev, st.st_ino};
  info.modified_ns = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
  info.changed_ns = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
  return info;
}

// A name starting with "." is hidden, as ls and file managers treat it.
bool IsHiddenName(const std::string& path) {
  return PathSyntax::Posix().BaseName(path).starts_with('.');
}

int OpenFlags(OpenMode mode) {
  // O_NONBLOCK keeps a FIFO from stalling the open; it is cleared again once
  // the file is known to be regular.
  constexpr int kCommon = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case OpenMode::kRead:
      return kCommon | O_RDONLY;
    case OpenMode::kReadWrite:
      return kCommon | O_RDWR;
    case OpenMode::kCreate:
      return kCommon | O_RDWR | O_CREAT;
    case OpenMode::kCreateNew:
      return kCommon | O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    case OpenMode::kOpenOrCreatePrivate:
      return kCommon | O_RDWR | O_CREAT | O_NOFOLLOW;
    case OpenMode::kAppend:
      return kCommon | O_WRONLY | O_CREAT | O_APPEND;
  }
  return kCommon | O_RDONLY;
}

}  // namespace

Expected<EntryInfo> PosixFileSystem::Stat(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0)
    return ToEntryInfo(st, IsHiddenName(path));
  // A name too long to exist names nothing, like one that does not exist.
  if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP ||
      errno == ENAMETOOLONG) {
    return EntryInfo{};
  }
  return ErrnoError("look up", path);
}

Expected<EntryInfo> PosixFileSystem::StatHandle(FileHandle file) {
  struct stat st;
  if (::fstat(file, &st) != 0) return NamedError(errno, "stat", file);
  std::lock_guard lock(mutex_);
  const auto found = names_.find(file);
  return ToEntryInfo(st, found != names_.end() && IsHiddenName(found->second));
}

Expected<std::string> PosixFileSystem::RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return ErrnoError("resolve", path);
  return std::string(resolved.get());
}

bool PosixFileSystem::MayWrite(const std::string& path) {
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

Expected<FileHandle> PosixFileSystem::Open(const std::string& path,
                                           OpenMode mode) {
  const mode_t permissions =
      mode == OpenMode::kCreate || mode == OpenMode::kAppend ? 0666 : 0600;
  int fd;
  do {
    fd = ::open(path.c_str(), OpenFlags(mode), permissions);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return ErrnoError("open", path);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int code = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    return Error(ErrorKind::kAccessDenied,
                 "open '" + path + "': not a regular file", code);
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (mode == OpenMode::kRead) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  Remember(fd, path);
  return fd;
}

Expected<UniqueFile> PosixFileSystem::CreateUnique(const std::string& directory,
                                                   const std::string& prefix) {
  std::string path = directory + "/" + prefix + "XXXXXX";
  const int fd = ::mkostemp(path.data(), O_CLOEXEC);
  if (fd < 0) return ErrnoError("create", path);
  Remember(fd, path);
  return UniqueFile{fd, path};
}

void PosixFileSystem::Remember(FileHandle file, const std::string& path) {
  std::lock_guard lock(mutex_);
  names_[file] = path;
}

Error PosixFileSystem::NamedError(int code, std::string_view action,
                                  FileHandle file) {
  std::lock_guard lock(mutex_);
  const auto found = names_.find(file);
  return Error::FromErrno(code, action,
                          found == names_.end() ? "?" : found->second);
}

Status PosixFileSystem::Close(FileHandle file) {
  Status status;
  // Linux releases the descriptor even when close reports EINTR: no retry.
  if (::close(file) != 0 && errno != EINTR) {
    status = NamedError(errno, "close", file);
  }
  std::lock_guard lock(mutex_);
  names_.erase(file);
  return status;
}

Expected<std::size_t> PosixFileSystem::Read(FileHandle file,
                                            std::span<char> buffer) {
  ssize_t n;
  do {
    n = ::read(file, buffer.data(), buffer.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return NamedError(errno, "read", file);
  return static_cast<std::size_t>(n);
}

Expected<std::size_t> PosixFileSystem::ReadAt(FileHandle file,
                                              std::span<char> buffer,
                                              std::uint64_t offset) {
  ssize_t n;
  do {
    n = ::pread(file, buffer.data(), buffer.size(), static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  if (n < 0) return NamedError(errno, "read", file);
  return static_cast<std::size_t>(n);
}

Status PosixFileSystem::Write(FileHandle file, std::span<const char> data) {
  while (!data.empty()) {
    const ssize_t n = ::write(file, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return NamedError(errno, "write", file);
    }
    data = data.subspan(static_cast<std::size_t>(n));
  }
  return Status::Ok();
}

Status PosixFileSystem::WriteAt(FileHandle file, std::span<const char> data,
                                std::uint64_t offset) {
  while (!data.empty()) {
    const ssize_t n =
        ::pwrite(file, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return NamedError(errno, "write", file);
    }
    data = data.subspan(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return Status::Ok();
}

Status PosixFileSystem::CopyRange(FileHandle source,
                                  std::uint64_t source_offset,
                                  FileHandle target,
                                  std::uint64_t target_offset,
                                  std::uint64_t length) {
  while (length > 0) {
    auto in = static_cast<off_t>(source_offset);
    auto out = static_cast<off_t>(target_offset);
    const ssize_t n = ::copy_file_range(
        source, &in, target, &out,
        static_cast<std::size_t>(std::min(length, kKernelCopyChunk)), 0);
    if (n > 0) {
      source_offset += static_cast<std::uint64_t>(n);
      target_offset += static_cast<std::uint64_t>(n);
      length -= static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) {
      return Error(ErrorKind::kEndOfFile, "copy: the file ended early");
    }
    if (errno == EINTR) continue;
    if (errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP &&
        errno != EINVAL) {
      return NamedError(errno, "copy to", target);
    }
    // Not across these file systems: copy by hand.
    return CopyInBlocks(*this, source, source_offset, target, target_offset,
                        length);
  }
  return Status::Ok();
}

Status PosixFileSystem::Truncate(FileHandle file, std::uint64_t length) {
  if (::ftruncate(file, static_cast<off_t>(length)) != 0) {
    return NamedError(errno, "truncate", file);
  }
  return Status::Ok();
}

Status PosixFileSystem::Sync(FileHandle file) {
  if (::fsync(file) != 0 && errno != EINVAL) {  // EINVAL: cannot be synced
    return NamedError(errno, "flush", file);
  }
  return Status::Ok();
}

void PosixFileSystem::StartSync(FileHandle file, std::uint64_t offset,
                                std::uint64_t length) {
  // Only a hint: the Sync that follows reports any failure.
  (void)::sync_file_range(file, static_cast<off_t>(offset),
                          static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
}

Status PosixFileSystem::CopyAttributes(FileHandle file,
                                       const struct stat& like) {
  mode_t mode = like.st_mode & 07777;
  if (::fchown(file, like.st_uid, like.st_gid) != 0 &&
      ::fchown(file, static_cast<uid_t>(-1), like.st_gid) != 0) {
    // The group cannot be kept: never let the file's new group read what
    // the old group could.
    struct stat st;
    if (::fstat(file, &st) == 0 && st.st_gid != like.st_gid) mode &= ~070u;
  }
  if (::fchmod(file, mode) != 0) return NamedError(errno, "chmod", file);
  return Status::Ok();
}

Status PosixFileSystem::Lock(FileHandle file) {
  while (::flock(file, LOCK_EX) != 0) {
    if (errno != EINTR) return NamedError(errno, "lock", file);
  }
  return Status::Ok();
}

Status PosixFileSystem::SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoError("open directory", directory);
  Remember(fd, directory);
  Status synced = Sync(fd);
  Status closed = Close(fd);
  return synced.ok() ? closed : synced;
}

Status PosixFileSystem::CopyIntoPlace(const std::string& replacement,
                                      const std::string& target,
                                      const struct stat& like) {
  auto source = Open(replacement, OpenMode::kRead);
  if (!source.ok()) return source.status();
  ScopedFile source_file(*this, *source);
  struct stat source_info;
  if (::fstat(*source, &source_info) != 0) {
    return NamedError(errno, "stat", *source);
  }
  const PathSyntax paths = PathSyntax::Posix();
  // Appended in place: GCC 12 at -O3 takes `"." + std::string(...)` for an
  // overlapping copy (-Wrestrict).
  std::string prefix = ".";
  prefix.append(paths.BaseName(target).substr(0, 200)).append(".korvik-");
  auto created = CreateUnique(paths.DirectoryOf(target), prefix);
  if (!created.ok()) return created.status();
  ScopedFile copy(*this, created->handle);
  Status done = CopyRange(*source, 0, copy.get(), 0,
                          static_cast<std::uint64_t>(source_info.st_size));
  if (done.ok()) done = CopyAttributes(copy.get(), like);
  if (done.ok()) done = Sync(copy.get());
  if (done.ok()) done = copy.Close();
  if (done.ok() && ::rename(created->path.c_str(), target.c_str()) != 0) {
    done = ErrnoError("rename to '" + target + "' from", created->path);
  }
  if (!done.ok()) {
    ::unlink(created->path.c_str());
    return done;
  }
  (void)source_file.Close();
  (void)Remove(replacement);
  return Status::Ok();
}

Status PosixFileSystem::Replace(const std::string& replacement,
                                const std::string& target) {
  struct stat like;
  if (::stat(target.c_str(), &like) != 0) return ErrnoError("look up", target);
  {
    const int fd = ::open(replacement.c_str(),
                          O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ErrnoError("open", replacement);
    Remember(fd, replacement);
    Status sealed = CopyAttributes(fd, like);
    if (sealed.ok()) sealed = Sync(fd);
    Status closed = Close(fd);
    if (!sealed.ok()) return sealed;
    if (!closed.ok()) return closed;
  }
  if (::rename(replacement.c_str(), target.c_str()) != 0) {
    if (errno != EXDEV) {
      return ErrnoError("rename to '" + target + "' from", replacement);
    }
    if (Status copied = CopyIntoPlace(replacement, target, like);
        !copied.ok()) {
      return copied;
    }
  }
  return SyncDirectory(PathSyntax::Posix().DirectoryOf(target));
}

Status PosixFileSystem::Remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return ErrnoError("delete", path);
  return Status::Ok();
}

}  // namespace korvik
