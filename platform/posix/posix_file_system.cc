#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/path.h"

namespace korvik {
namespace {

// copy_file_range moves data inside the kernel; each call is bounded so a
// huge file is copied in steps the kernel can interrupt.
constexpr std::uint64_t kKernelCopyChunk = std::uint64_t{1} << 30;

// The kernel reads this much ahead of a file on its own: advice on a
// smaller file changes nothing.
constexpr off_t kDefaultReadAhead = 128 * 1024;

Error ErrnoError(std::string_view action, std::string_view path) {
  return Error::FromErrno(errno, action, path);
}

// The program never changes its user while it runs: asked once.
uid_t EffectiveUser() {
  static const uid_t user = ::geteuid();
  return user;
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
  info.links = static_cast<std::uint32_t>(st.st_nlink);
  info.foreign_owner = st.st_uid != EffectiveUser();
  info.open_to_others = (st.st_mode & (S_IRWXG | S_IRWXO)) != 0;
  info.modified_ns = st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec;
  info.changed_ns = st.st_ctim.tv_sec * 1'000'000'000LL + st.st_ctim.tv_nsec;
  return info;
}

// A name starting with "." is hidden, as ls and file managers treat it.
bool IsHiddenName(const std::string& path) {
  return PathSyntax::Posix().BaseName(path).starts_with('.');
}

// Determines whether a file in `folder` may take the run's appends: in a
// folder that others may write, a file with further names or another owner
// may have been put there to catch them, as the kernel's protected_regular
// sees it.
bool MayAppendTo(const std::string& folder, const struct stat& file) {
  if (file.st_nlink <= 1 && file.st_uid == EffectiveUser()) return true;
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0) return false;
  return st.st_uid == EffectiveUser() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A held file goes into place through a hidden name beside its target: the
// first of these that is free. A run killed between the two steps leaves
// its file there, which the next run placing that target removes.
constexpr int kPlacingNames = 100;

// Removes the file `path` names where it is a file of this user's alone that
// no run holds: one whose run ended before it took its place. Answers
// whether it did.
bool RemoveAbandoned(const std::string& path) {
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat held;
  struct stat named;
  const bool removed =
      ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
      held.st_uid == EffectiveUser() && held.st_nlink == 1 &&
      ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
      ::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
      named.st_ino == held.st_ino && ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

int OpenFlags(OpenMode mode) {
  // O_NONBLOCK keeps a FIFO from stalling the open; it is cleared again once
  // the file is known to be regular.
  constexpr int kCommon = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case OpenMode::kRead:
      return kCommon | O_RDONLY;
    case OpenMode::kReadWrite:
      return kCommon | O_RDWR | O_NOFOLLOW;
    case OpenMode::kCreate:
      return kCommon | O_RDWR | O_CREAT;
    case OpenMode::kCreateNew:
      return kCommon | O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
    case OpenMode::kInspect:
      return kCommon | O_RDONLY | O_NOFOLLOW;
    case OpenMode::kAppend:
      return kCommon | O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
  }
  return kCommon | O_RDONLY;
}

}  // namespace

bool PosixFileSystem::NamesOpenFiles() {
  static const bool named = ::access("/proc/self/fd", X_OK) == 0;
  return named;
}

FileSystemCapabilities PosixFileSystem::capabilities() const {
  FileSystemCapabilities can;
  can.paths = PathSyntax::Posix();
  can.names_open_files = NamesOpenFiles();
  can.holds_folders = NamesOpenFiles();
  can.tells_sole_handle = true;
  return can;
}

Expected<EntryInfo> PosixFileSystem::Stat(const std::string& path) {
  struct stat st;
  if (::stat(Anchored(path).c_str(), &st) == 0)
    return ToEntryInfo(st, IsHiddenName(path));
  // A name too long to exist names nothing, like one that does not exist.
  if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP ||
      errno == ENAMETOOLONG) {
    return EntryInfo{};
  }
  return ErrnoError("look up", path);
}

Expected<EntryInfo> PosixFileSystem::StatEntry(const std::string& path) {
  struct stat st;
  if (::lstat(Anchored(path).c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) {
      return EntryInfo{};
    }
    return ErrnoError("look up", path);
  }
  EntryInfo info = ToEntryInfo(st, IsHiddenName(path));
  if (S_ISLNK(st.st_mode)) {
    info.kind = EntryKind::kLink;
    info.system = false;
  }
  return info;
}

Expected<EntryInfo> PosixFileSystem::StatHandle(FileHandle file) {
  struct stat st;
  if (::fstat(file, &st) != 0) return NamedError(errno, "stat", file);
  std::lock_guard lock(mutex_);
  const auto found = names_.find(file);
  return ToEntryInfo(st, found != names_.end() && IsHiddenName(found->second));
}

Expected<std::string> PosixFileSystem::RealPath(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    if (trusted_.folder.fd >= 0 && path == trusted_.asked) {
      return trusted_.resolved;
    }
  }
  std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(path.c_str(), nullptr), &std::free);
  if (!resolved) return ErrnoError("resolve", path);
  return std::string(resolved.get());
}

Expected<std::optional<EntryInfo>> PosixFileSystem::StatTrusted(
    const std::string& path) {
  constexpr int kMaxLinks = 40;  // as the kernel allows
  const PathSyntax paths = PathSyntax::Posix();
  std::string resolved;
  if (!paths.IsAbsolute(path)) {
    std::unique_ptr<char, decltype(&std::free)> current(::getcwd(nullptr, 0),
                                                        &std::free);
    if (!current) return ErrnoError("look up", ".");
    resolved = current.get();
  }
  // The walk goes from folder to folder through open handles, so each name
  // is looked up in the very folder checked before it.
  HeldFolder folder(
      ::open(resolved.empty() ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (folder.fd < 0) return ErrnoError("look up", path);
  std::deque<std::string> rest;
  const auto push_front = [&](const std::string& text) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at <= text.size();) {
      const std::size_t end = std::min(text.find('/', at), text.size());
      if (end > at) names.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    rest.insert(rest.begin(), names.begin(), names.end());
  };
  push_front(path);
  int links = 0;
  while (!rest.empty()) {
    const std::string name = std::move(rest.front());
    rest.pop_front();
    if (name == ".") continue;
    if (name == "..") {
      folder.Reset(::openat(folder.fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (folder.fd < 0) return ErrnoError("look up", path);
      resolved = paths.DirectoryOf(resolved.empty() ? "/" : resolved);
      if (resolved == "/") resolved.clear();
      continue;
    }
    const std::string next = resolved + "/" + name;
    HeldFolder entry(
        ::openat(folder.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (entry.fd < 0 || ::fstat(entry.fd, &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) {
        return std::optional<EntryInfo>(EntryInfo{});
      }
      return ErrnoError("look up", next);
    }
    if (!S_ISLNK(st.st_mode)) {
      if (rest.empty()) {
        HoldTrustedFolder(std::move(folder), path, resolved, next);
        return std::optional<EntryInfo>(ToEntryInfo(st, IsHiddenName(path)));
      }
      if (!S_ISDIR(st.st_mode)) return std::optional<EntryInfo>(EntryInfo{});
      folder = std::move(entry);
      resolved = next;
      continue;
    }
    if (st.st_uid != EffectiveUser() && st.st_uid != 0) {
      return std::optional<EntryInfo>();
    }
    if (++links > kMaxLinks) return std::optional<EntryInfo>(EntryInfo{});
    std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
    // The link read is the one whose owner was checked.
    const ssize_t length = ::readlinkat(entry.fd, "", target.data(), PATH_MAX);
    if (length < 0) return ErrnoError("read link", next);
    target.resize(static_cast<std::size_t>(length));
    if (paths.IsAbsolute(target)) {
      resolved.clear();
      folder.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (folder.fd < 0) return ErrnoError("look up", path);
    }
    push_front(target);
  }
  // The path named a directory by "." or ".." at its end, or the root.
  struct stat st;
  if (::fstat(folder.fd, &st) != 0) return ErrnoError("look up", path);
  return std::optional<EntryInfo>(ToEntryInfo(st, IsHiddenName(path)));
}

void PosixFileSystem::EndTrustedWalk() {
  std::lock_guard lock(mutex_);
  trusted_ = TrustedFolder();
}

void PosixFileSystem::HoldTrustedFolder(HeldFolder folder,
                                        const std::string& asked,
                                        const std::string& folder_path,
                                        const std::string& resolved) {
  // Names in the folder are reached through its handle under /proc; where
  // there is no /proc they go by path, as they always did.
  std::lock_guard lock(mutex_);
  trusted_.folder = NamesOpenFiles() ? std::move(folder) : HeldFolder();
  trusted_.path = folder_path.empty() ? "/" : folder_path;
  trusted_.asked = asked;
  trusted_.resolved = resolved;
}

std::string PosixFileSystem::Anchored(const std::string& path) {
  const PathSyntax paths = PathSyntax::Posix();
  std::lock_guard lock(mutex_);
  if (trusted_.folder.fd < 0 || !paths.IsAbsolute(path)) return path;
  const std::string folder =
      "/proc/self/fd/" + std::to_string(trusted_.folder.fd);
  if (path == trusted_.path) return folder;
  const std::string_view name = paths.BaseName(path);
  if (paths.DirectoryOf(path) != trusted_.path || name.empty() || name == "." ||
      name == "..") {
    return path;
  }
  return folder + "/" + std::string(name);
}

bool PosixFileSystem::MayWrite(const std::string& path) {
  return ::faccessat(AT_FDCWD, Anchored(path).c_str(), W_OK, AT_EACCESS) == 0;
}

Expected<FileHandle> PosixFileSystem::Open(const std::string& path,
                                           OpenMode mode) {
  const mode_t permissions =
      mode == OpenMode::kCreate || mode == OpenMode::kAppend ? 0666 : 0600;
  const int flags = OpenFlags(mode);
  const std::string anchored = Anchored(path);
  int fd;
  do {
    fd = ::open(anchored.c_str(), flags, permissions);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0 && errno == ELOOP && (flags & O_NOFOLLOW) != 0) {
    return Error(ErrorKind::kOther,
                 "open '" + path + "': a symbolic link, not followed", ELOOP);
  }
  if (fd < 0) return ErrnoError("open", path);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int code = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    return Error(ErrorKind::kAccessDenied,
                 "open '" + path + "': not a regular file", code);
  }
  if (mode == OpenMode::kAppend &&
      !MayAppendTo(Anchored(PathSyntax::Posix().DirectoryOf(path)), st)) {
    ::close(fd);
    return Error(ErrorKind::kAccessDenied,
                 "'" + path +
                     "' has further names or another owner, in a folder "
                     "that others may write: not written",
                 EPERM);
  }
  // F_SETFL takes only the status flags of `flags`, O_NONBLOCK now cleared.
  ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  if (mode == OpenMode::kRead && st.st_size > kDefaultReadAhead) {
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

std::string PosixFileSystem::HandlePath(FileHandle file) {
  // Linux names every open file under /proc; elsewhere its own name serves.
  std::string path = "/proc/self/fd/" + std::to_string(file);
  if (::access(path.c_str(), F_OK) == 0) return path;
  std::lock_guard lock(mutex_);
  const auto found = names_.find(file);
  return found == names_.end() ? path : found->second;
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

Status PosixFileSystem::WriteAtEnd(FileHandle file,
                                   std::span<const char> data) {
  while (!data.empty()) {
    iovec chunk{const_cast<char*>(data.data()), data.size()};
    const ssize_t n = ::pwritev2(file, &chunk, 1, -1, RWF_APPEND);
    if (n < 0) {
      if (errno == EINTR) continue;
      return NamedError(errno, "write", file);
    }
    data = data.subspan(static_cast<std::size_t>(n));
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

bool PosixFileSystem::AwaitSoleHandle(FileHandle file,
                                      std::chrono::milliseconds within) {
  // The kernel grants a write lease only while no other open of the file
  // exists. Its break would be told by SIGURG, which is ignored unless
  // asked for, rather than by SIGIO, which ends the process; the lease is
  // let go at once anyway.
  if (::fcntl(file, F_SETSIG, SIGURG) != 0) return false;
  const auto deadline = std::chrono::steady_clock::now() + within;
  for (;;) {
    if (::fcntl(file, F_SETLEASE, F_WRLCK) == 0) {
      (void)::fcntl(file, F_SETLEASE, F_UNLCK);
      return true;
    }
    if (errno != EAGAIN || std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

namespace {

// Returns the names of the extended attributes of the entry `path` names,
// or of the open file `file` where `path` is empty.
Expected<std::set<std::string>> AttributeNames(int file,
                                               const std::string& path) {
  std::vector<char> names;
  for (;;) {
    const ssize_t size = path.empty() ? ::flistxattr(file, nullptr, 0)
                                      : ::llistxattr(path.c_str(), nullptr, 0);
    if (size < 0 && (errno == ENOTSUP || errno == ENOSYS)) {
      return std::set<std::string>{};
    }
    if (size < 0) return ErrnoError("list the attributes of", path);
    names.resize(static_cast<std::size_t>(size));
    const ssize_t got =
        path.empty() ? ::flistxattr(file, names.data(), names.size())
                     : ::llistxattr(path.c_str(), names.data(), names.size());
    if (got >= 0) {
      names.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return ErrnoError("list the attributes of", path);
  }
  std::set<std::string> result;
  for (std::size_t at = 0; at < names.size();) {
    std::string name(names.data() + at);
    at += name.size() + 1;
    if (!name.empty()) result.insert(std::move(name));
  }
  return result;
}

Status CopyAttribute(int file, const std::string& path,
                     const std::string& name) {
  std::vector<char> value;
  for (;;) {
    const ssize_t size = ::lgetxattr(path.c_str(), name.c_str(), nullptr, 0);
    if (size < 0) return ErrnoError("read attribute " + name + " of", path);
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got =
        ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) {
      return ErrnoError("read attribute " + name + " of", path);
    }
  }
  if (::fsetxattr(file, name.c_str(), value.data(), value.size(), 0) != 0) {
    return ErrnoError("keep attribute " + name + " of", path);
  }
  return Status::Ok();
}

}  // namespace

Status PosixFileSystem::CopyAttributes(FileHandle file,
                                       const std::string& target,
                                       const struct stat& like) {
  // The access lists are extended attributes too. One the new file got from
  // its folder, and the target lacks, goes first: until then the file is
  // its owner's alone, and from then on it admits only whom the target does.
  const std::string anchored = Anchored(target);
  auto wanted = AttributeNames(file, anchored);
  if (!wanted.ok()) return wanted.status();
  auto present = AttributeNames(file, "");
  if (!present.ok()) return present.status();
  for (const std::string& name : *present) {
    if (!wanted->contains(name) && ::fremovexattr(file, name.c_str()) != 0) {
      return NamedError(errno, "remove attribute " + name + " of", file);
    }
  }
  // Owner and group exactly, or nothing: a file that changes hands changes
  // who may read it.
  if (::fchown(file, like.st_uid, like.st_gid) != 0) {
    (void)::fchown(file, static_cast<uid_t>(-1), like.st_gid);
  }
  struct stat now;
  if (::fstat(file, &now) != 0) return NamedError(errno, "stat", file);
  if (now.st_uid != like.st_uid || now.st_gid != like.st_gid) {
    return Error(ErrorKind::kAccessDenied,
                 "'" + target + "': cannot keep its owner and group", EPERM);
  }
  for (const std::string& name : *wanted) {
    if (Status kept = CopyAttribute(file, anchored, name); !kept.ok()) {
      return kept;
    }
  }
  if (::fchmod(file, like.st_mode & 07777) != 0) {
    return NamedError(errno, "chmod", file);
  }
  if (::fstat(file, &now) != 0) return NamedError(errno, "stat", file);
  if ((now.st_mode & 07777) != (like.st_mode & 07777)) {
    return Error(ErrorKind::kAccessDenied,
                 "'" + target + "': cannot keep its permissions", EPERM);
  }
  return Status::Ok();
}

Status PosixFileSystem::Lock(FileHandle file) {
  while (::flock(file, LOCK_EX) != 0) {
    if (errno != EINTR) return NamedError(errno, "lock", file);
  }
  return Status::Ok();
}

Expected<bool> PosixFileSystem::TryLock(FileHandle file) {
  while (::flock(file, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) return false;
    if (errno != EINTR) return NamedError(errno, "lock", file);
  }
  return true;
}

Status PosixFileSystem::SyncDirectory(const std::string& directory) {
  const int fd =
      ::open(Anchored(directory).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return ErrnoError("open directory", directory);
  Remember(fd, directory);
  Status synced = Sync(fd);
  Status closed = Close(fd);
  return synced.ok() ? closed : synced;
}

Status PosixFileSystem::KeepAttributes(FileHandle file,
                                       const std::string& target) {
  struct stat like;
  if (::lstat(Anchored(target).c_str(), &like) != 0) {
    return ErrnoError("look up", target);
  }
  return CopyAttributes(file, target, like);
}

Status PosixFileSystem::Place(FileHandle file, const std::string& name,
                              const std::string& target) {
  const std::string handle_name = "/proc/self/fd/" + std::to_string(file);
  if (NamesOpenFiles()) return LinkIntoPlace(file, handle_name, name, target);
  return RenameIntoPlace(name, target);
}

Status PosixFileSystem::SyncFolderOf(const std::string& path) {
  return SyncDirectory(PathSyntax::Posix().DirectoryOf(path));
}

Status PosixFileSystem::RenameIntoPlace(const std::string& replacement,
                                        const std::string& target) {
  if (::rename(replacement.c_str(), Anchored(target).c_str()) != 0) {
    return ErrnoError("rename to '" + target + "' from", replacement);
  }
  return Status::Ok();
}

Status PosixFileSystem::LinkIntoPlace(FileHandle file,
                                      const std::string& handle_name,
                                      const std::string& replacement,
                                      const std::string& target) {
  // The open file gets a hidden name beside the target, then the target's
  // name: whatever stands under `replacement` by now is never moved.
  const PathSyntax paths = PathSyntax::Posix();
  const std::string folder = Anchored(paths.DirectoryOf(target));
  std::string prefix = ".";
  prefix.append(paths.BaseName(target).substr(0, 200)).append(".korvik-");
  std::string beside;
  for (int turn = 0, attempt = 0;; ++attempt) {
    beside = folder + "/" + prefix + std::to_string(turn);
    if (::linkat(AT_FDCWD, handle_name.c_str(), AT_FDCWD, beside.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      break;
    }
    if (errno != EEXIST) {
      return ErrnoError("link to '" + target + "' from", replacement);
    }
    // A name another run holds, or that is not this user's, is passed by.
    if (!RemoveAbandoned(beside)) ++turn;
    if (turn == kPlacingNames || attempt == 2 * kPlacingNames) {
      errno = EEXIST;
      return ErrnoError("link to '" + target + "' from", replacement);
    }
  }
  // The work file's own name goes first, so the data file never shows two.
  struct stat held;
  struct stat named;
  if (::fstat(file, &held) == 0 && ::lstat(replacement.c_str(), &named) == 0 &&
      named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
    (void)::unlink(replacement.c_str());
  }
  if (::rename(beside.c_str(), Anchored(target).c_str()) != 0) {
    Status failed = ErrnoError("rename to '" + target + "' from", beside);
    (void)::unlink(beside.c_str());
    return failed;
  }
  return Status::Ok();
}

Status PosixFileSystem::Remove(const std::string& path) {
  if (::unlink(Anchored(path).c_str()) != 0) return ErrnoError("delete", path);
  return Status::Ok();
}

}  // namespace korvik
