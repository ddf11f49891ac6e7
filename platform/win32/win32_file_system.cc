#include "platform/win32/win32_file_system.h"

#include <aclapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/win32/wide.h"

namespace korvik {
namespace {

using win32::ErrorFromCode;
using win32::LastError;
using win32::NamesNothing;
using win32::Widen;

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// One ReadFile or WriteFile moves at most this much.
constexpr DWORD kMaxTransfer = DWORD{1} << 30;

// Where Lock puts its one-byte lock: beyond the end of any real file.
constexpr std::uint64_t kLockOffset = (std::uint64_t{1} << 62) - 1;
// The offset at which WriteFile writes to the end of the file as it is.
constexpr std::uint64_t kEndOfFile = ~std::uint64_t{0};

// Seconds between 1601, where file times count from, and 1970.
constexpr std::int64_t kEpochDifference = 11'644'473'600LL;

std::int64_t ToNanoseconds(LARGE_INTEGER time) {
  return (time.QuadPart - kEpochDifference * 10'000'000LL) * 100;
}

std::int64_t ToNanoseconds(FILETIME time) {
  LARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = static_cast<LONG>(time.dwHighDateTime);
  return ToNanoseconds(value);
}

// "*" and "?" are no characters of a Windows name: such a name names
// nothing.
bool HasWildcards(const std::string& path) {
  return path.find_first_of("*?") != std::string::npos;
}

std::wstring FullPath(const std::string& path) {
  const std::wstring wide = Widen(path);
  std::wstring full = win32::FillBuffer([&](wchar_t* buffer, DWORD size) {
    return ::GetFullPathNameW(wide.c_str(), size, buffer, nullptr);
  });
  return full.empty() ? wide : full;
}

// Returns `told`, the volume serial a handle told, or where it told none
// (Wine's, for files it created) the serial of the volume `path` lies on.
DWORD VolumeSerial(DWORD told, std::string_view path) {
  if (told != 0) return told;
  const std::wstring full = FullPath(std::string(path));
  std::wstring root(full.size() + 1, L'\0');
  DWORD serial = 0;
  if (::GetVolumePathNameW(full.c_str(), root.data(),
                           static_cast<DWORD>(root.size()))) {
    (void)::GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr,
                                  nullptr, nullptr, 0);
  }
  return serial;
}

Expected<EntryInfo> Describe(HANDLE handle, std::string_view path) {
  EntryInfo info;
  if (::GetFileType(handle) != FILE_TYPE_DISK) {
    info.kind = EntryKind::kDevice;
    info.system = true;
    return info;
  }
  BY_HANDLE_FILE_INFORMATION file;
  if (!::GetFileInformationByHandle(handle, &file)) {
    return LastError("look up", path);
  }
  info.kind = (file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                  ? EntryKind::kDirectory
                  : EntryKind::kRegular;
  info.hidden = (file.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
  info.system = (file.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
  info.size = (std::uint64_t{file.nFileSizeHigh} << 32) | file.nFileSizeLow;
  info.links = file.nNumberOfLinks;
  info.id =
      FileId{VolumeSerial(file.dwVolumeSerialNumber, path),
             (std::uint64_t{file.nFileIndexHigh} << 32) | file.nFileIndexLow};
  info.modified_ns = ToNanoseconds(file.ftLastWriteTime);
  FILE_BASIC_INFO basic;
  info.changed_ns = ::GetFileInformationByHandleEx(handle, FileBasicInfo,
                                                   &basic, sizeof basic)
                        ? ToNanoseconds(basic.ChangeTime)
                        : info.modified_ns;
  return info;
}

// Opens `path` only to look at it, links followed; directories too.
HANDLE OpenForLooking(const std::string& path) {
  return ::CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED overlapped{};
  overlapped.Offset = static_cast<DWORD>(offset);
  overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return overlapped;
}

// Removes the "\\?\" that GetFinalPathNameByHandleW puts in front.
std::wstring WithoutLongPrefix(std::wstring path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\" + path.substr(7);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

// Determines whether the file open as `handle` has the access list `like`
// already, as a file made in its target's folder mostly has.
bool SameAccessList(HANDLE handle, const ACL* like) {
  const auto security = win32::ReadSecurity(handle, DACL_SECURITY_INFORMATION);
  if (!security) return false;
  const ACL* access = security->access;
  if (access == nullptr || like == nullptr) return access == like;
  return access->AclSize == like->AclSize &&
         std::memcmp(access, like, access->AclSize) == 0;
}

// Determines whether a run may append to the file open as `handle`: in a
// folder that others may write, a file with further names or another owner
// may have been put there to catch its appends.
bool MayAppendTo(const std::string& path, HANDLE handle,
                 const BY_HANDLE_FILE_INFORMATION& file) {
  if (file.nNumberOfLinks <= 1 && win32::OwnedByTrustedUser(handle)) {
    return true;
  }
  const HANDLE folder = ::CreateFileW(
      Widen(PathSyntax::Windows().DirectoryOf(path)).c_str(), READ_CONTROL,
      kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  const bool shared = win32::OthersMayAddFiles(folder);
  ::CloseHandle(folder);
  return !shared;
}

}  // namespace

Win32FileSystem::~Win32FileSystem() {
  for (const auto& [number, file] : files_) ::CloseHandle(file.handle);
}

FileHandle Win32FileSystem::Remember(HANDLE handle, const std::string& path) {
  std::lock_guard lock(mutex_);
  const FileHandle number = next_++;
  files_.emplace(number, OpenFile{handle, path});
  return number;
}

const Win32FileSystem::OpenFile* Win32FileSystem::Find(FileHandle file) {
  std::lock_guard lock(mutex_);
  const auto found = files_.find(file);
  return found == files_.end() ? nullptr : &found->second;
}

HANDLE Win32FileSystem::Reopen(const OpenFile& file, DWORD access) {
  HANDLE again = ::ReOpenFile(file.handle, access, kShareAll, 0);
  if (again != INVALID_HANDLE_VALUE) return again;
  // Where the system cannot, by name: the file the name leads to must be
  // the one held.
  again = ::CreateFileW(Widen(file.path).c_str(), access, kShareAll, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (again == INVALID_HANDLE_VALUE) return again;
  BY_HANDLE_FILE_INFORMATION held;
  BY_HANDLE_FILE_INFORMATION named;
  if (::GetFileInformationByHandle(file.handle, &held) &&
      ::GetFileInformationByHandle(again, &named) &&
      held.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
      held.nFileIndexHigh == named.nFileIndexHigh &&
      held.nFileIndexLow == named.nFileIndexLow) {
    return again;
  }
  ::CloseHandle(again);
  ::SetLastError(ERROR_FILE_NOT_FOUND);
  return INVALID_HANDLE_VALUE;
}

Error Win32FileSystem::BadHandle(std::string_view action) {
  return ErrorFromCode(ERROR_INVALID_HANDLE, action, "?");
}

Expected<EntryInfo> Win32FileSystem::Stat(const std::string& path) {
  if (path.empty() || HasWildcards(path)) return EntryInfo{};
  const HANDLE handle = OpenForLooking(path);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (NamesNothing(code)) return EntryInfo{};
    return ErrorFromCode(code, "look up", path);
  }
  auto info = Describe(handle, path);
  ::CloseHandle(handle);
  return info;
}

FileSystemCapabilities Win32FileSystem::capabilities() const {
  FileSystemCapabilities can;
  can.paths = PathSyntax::Windows();
  can.replaces_open_files = false;
  can.names_open_files = false;
  can.tells_owners = false;
  can.hold_pins_folders = true;
  return can;
}

Expected<EntryInfo> Win32FileSystem::StatEntry(const std::string& path) {
  if (path.empty() || HasWildcards(path)) return EntryInfo{};
  const HANDLE handle = ::CreateFileW(
      Widen(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
      nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    if (NamesNothing(code)) return EntryInfo{};
    return ErrorFromCode(code, "look up", path);
  }
  auto info = Describe(handle, path);
  BY_HANDLE_FILE_INFORMATION file;
  if (info.ok() && ::GetFileInformationByHandle(handle, &file) &&
      win32::IsLink(handle, file.dwFileAttributes)) {
    info->kind = EntryKind::kLink;
  }
  ::CloseHandle(handle);
  return info;
}

Expected<EntryInfo> Win32FileSystem::StatHandle(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("look up");
  return Describe(open->handle, open->path);
}

Expected<std::string> Win32FileSystem::RealPath(const std::string& path) {
  {
    std::lock_guard lock(mutex_);
    if (!trusted_asked_.empty() && path == trusted_asked_) {
      return trusted_resolved_;
    }
  }
  if (HasWildcards(path)) {
    return ErrorFromCode(ERROR_INVALID_NAME, "resolve", path);
  }
  const HANDLE handle = OpenForLooking(path);
  if (handle == INVALID_HANDLE_VALUE) return LastError("resolve", path);
  const std::wstring final_path =
      win32::FillBuffer([&](wchar_t* buffer, DWORD size) {
        return ::GetFinalPathNameByHandleW(handle, buffer, size,
                                           FILE_NAME_NORMALIZED);
      });
  ::CloseHandle(handle);
  if (final_path.empty()) return win32::Narrow(FullPath(path));
  return win32::Narrow(WithoutLongPrefix(final_path));
}

Expected<std::optional<EntryInfo>> Win32FileSystem::StatTrusted(
    const std::string& path) {
  if (path.empty() || HasWildcards(path)) {
    return std::optional<EntryInfo>(EntryInfo{});
  }
  win32::HeldFolders held;
  auto end = win32::WalkTrusted(FullPath(path), held);
  if (!end.ok()) return end.error();
  if (end->untrusted) return std::optional<EntryInfo>();
  if (end->entry == INVALID_HANDLE_VALUE) {
    return std::optional<EntryInfo>(EntryInfo{});
  }
  auto info = Describe(end->entry, path);
  ::CloseHandle(end->entry);
  if (!info.ok()) return info.error();
  std::lock_guard lock(mutex_);
  trusted_ = std::move(held);
  trusted_asked_ = path;
  trusted_resolved_ = win32::Narrow(end->path);
  return std::optional<EntryInfo>(*info);
}

void Win32FileSystem::EndTrustedWalk() {
  std::lock_guard lock(mutex_);
  trusted_.Release();
  trusted_asked_.clear();
}

bool Win32FileSystem::MayWrite(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // The read-only attribute of a directory does not keep files out of it.
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
         (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

Expected<FileHandle> Win32FileSystem::Open(const std::string& path,
                                           OpenMode mode) {
  if (HasWildcards(path)) {
    return ErrorFromCode(ERROR_INVALID_NAME, "open", path);
  }
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_ALWAYS;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  switch (mode) {
    case OpenMode::kRead:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      flags |= FILE_FLAG_SEQUENTIAL_SCAN;
      break;
    case OpenMode::kReadWrite:
      disposition = OPEN_EXISTING;
      break;
    case OpenMode::kCreate:
      break;
    case OpenMode::kCreateNew:
      disposition = CREATE_NEW;
      break;
    case OpenMode::kInspect:
      access = GENERIC_READ;
      disposition = OPEN_EXISTING;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
    case OpenMode::kAppend:
      // Without FILE_WRITE_DATA every write goes to the end of the file.
      access = FILE_APPEND_DATA | SYNCHRONIZE | READ_CONTROL;
      break;
  }
  const HANDLE handle = ::CreateFileW(Widen(path).c_str(), access, kShareAll,
                                      nullptr, disposition, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return LastError("open", path);
  BY_HANDLE_FILE_INFORMATION file{};
  const bool regular =
      ::GetFileType(handle) == FILE_TYPE_DISK &&
      ::GetFileInformationByHandle(handle, &file) &&
      (file.dwFileAttributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
  if (!regular) {
    ::CloseHandle(handle);
    return Error(ErrorKind::kAccessDenied,
                 "open '" + path + "': not a regular file");
  }
  if (mode == OpenMode::kAppend && !MayAppendTo(path, handle, file)) {
    ::CloseHandle(handle);
    return Error(ErrorKind::kAccessDenied,
                 "'" + path +
                     "' has further names or another owner, in a folder "
                     "that others may write: not written");
  }
  return Remember(handle, path);
}

Expected<UniqueFile> Win32FileSystem::CreateUnique(const std::string& directory,
                                                   const std::string& prefix) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 random(seed());
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
  std::string path;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = directory;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') {
      path += '\\';
    }
    path += prefix;
    for (int i = 0; i < 6; ++i) path += kLetters[pick(random)];
    const HANDLE handle = ::CreateFileW(
        Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      return UniqueFile{Remember(handle, path), path};
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return LastError("create", path);
}

std::string Win32FileSystem::HandlePath(FileHandle file) {
  // Its own name: only administrators may put links in a name's place.
  const OpenFile* open = Find(file);
  return open == nullptr ? std::string() : open->path;
}

Status Win32FileSystem::Close(FileHandle file) {
  HANDLE handle;
  std::string path;
  {
    std::lock_guard lock(mutex_);
    const auto found = files_.find(file);
    if (found == files_.end()) return BadHandle("close");
    handle = found->second.handle;
    path = std::move(found->second.path);
    files_.erase(found);
  }
  if (!::CloseHandle(handle)) return LastError("close", path);
  return Status::Ok();
}

Expected<std::size_t> Win32FileSystem::Read(FileHandle file,
                                            std::span<char> buffer) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("read");
  DWORD got = 0;
  const DWORD want =
      static_cast<DWORD>(std::min<std::size_t>(buffer.size(), kMaxTransfer));
  if (!::ReadFile(open->handle, buffer.data(), want, &got, nullptr)) {
    return LastError("read", open->path);
  }
  return std::size_t{got};
}

Expected<std::size_t> Win32FileSystem::ReadAt(FileHandle file,
                                              std::span<char> buffer,
                                              std::uint64_t offset) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("read");
  DWORD got = 0;
  OVERLAPPED at = At(offset);
  const DWORD want =
      static_cast<DWORD>(std::min<std::size_t>(buffer.size(), kMaxTransfer));
  if (!::ReadFile(open->handle, buffer.data(), want, &got, &at)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return std::size_t{0};
    return LastError("read", open->path);
  }
  return std::size_t{got};
}

Status Win32FileSystem::WriteAll(const OpenFile& file,
                                 std::span<const char> data,
                                 const std::uint64_t* offset) {
  std::uint64_t position = offset != nullptr ? *offset : 0;
  while (!data.empty()) {
    const DWORD want =
        static_cast<DWORD>(std::min<std::size_t>(data.size(), kMaxTransfer));
    DWORD written = 0;
    OVERLAPPED at = At(position);
    if (!::WriteFile(file.handle, data.data(), want, &written,
                     offset != nullptr ? &at : nullptr)) {
      return LastError("write", file.path);
    }
    data = data.subspan(written);
    if (position != kEndOfFile) position += written;
  }
  return Status::Ok();
}

Status Win32FileSystem::Write(FileHandle file, std::span<const char> data) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("write");
  return WriteAll(*open, data, nullptr);
}

Status Win32FileSystem::WriteAt(FileHandle file, std::span<const char> data,
                                std::uint64_t offset) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("write");
  return WriteAll(*open, data, &offset);
}

Status Win32FileSystem::WriteAtEnd(FileHandle file,
                                   std::span<const char> data) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("write");
  return WriteAll(*open, data, &kEndOfFile);
}

Status Win32FileSystem::CopyRange(FileHandle source,
                                  std::uint64_t source_offset,
                                  FileHandle target,
                                  std::uint64_t target_offset,
                                  std::uint64_t length) {
  return CopyInBlocks(*this, source, source_offset, target, target_offset,
                      length);
}

Status Win32FileSystem::Truncate(FileHandle file, std::uint64_t length) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("truncate");
  FILE_END_OF_FILE_INFO end;
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  if (!::SetFileInformationByHandle(open->handle, FileEndOfFileInfo, &end,
                                    sizeof end)) {
    return LastError("truncate", open->path);
  }
  return Status::Ok();
}

Status Win32FileSystem::Sync(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("flush");
  if (!::FlushFileBuffers(open->handle)) return LastError("flush", open->path);
  return Status::Ok();
}

Status Win32FileSystem::Lock(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("lock");
  // Windows' locks keep other handles from reading what they cover, so the
  // lock covers one byte far beyond any content instead of the file itself.
  OVERLAPPED beyond = At(kLockOffset);
  if (!::LockFileEx(open->handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &beyond)) {
    return LastError("lock", open->path);
  }
  return Status::Ok();
}

Expected<bool> Win32FileSystem::TryLock(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("lock");
  OVERLAPPED beyond = At(kLockOffset);
  if (::LockFileEx(open->handle,
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &beyond)) {
    return true;
  }
  if (::GetLastError() == ERROR_LOCK_VIOLATION) return false;
  return LastError("lock", open->path);
}

Status Win32FileSystem::KeepAttributes(FileHandle file,
                                       const std::string& target) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("keep the attributes of");
  const std::wstring like = Widen(target);
  // Read-only stays the target's own: Place refuses such a target.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                          FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  const DWORD attributes = ::GetFileAttributesW(like.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return LastError("look up", target);
  }
  FILE_BASIC_INFO basic{};  // times of 0 stay as they are
  basic.FileAttributes =
      (attributes & kKept) != 0 ? attributes & kKept : FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(open->handle, FileBasicInfo, &basic,
                                    sizeof basic)) {
    return LastError("keep the attributes of '" + target + "' in", open->path);
  }
  // The target's access list, cut off from the folder's where it is.
  PACL access = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD code = ::GetNamedSecurityInfoW(like.c_str(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, &access, nullptr, &descriptor);
  if (code != ERROR_SUCCESS) {
    return ErrorFromCode(code, "read the access list of", target);
  }
  std::unique_ptr<void, decltype(&::LocalFree)> free_descriptor(descriptor,
                                                                &::LocalFree);
  if (SameAccessList(open->handle, access)) return Status::Ok();
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ::GetSecurityDescriptorControl(descriptor, &control, &revision);
  const SECURITY_INFORMATION which =
      DACL_SECURITY_INFORMATION | ((control & SE_DACL_PROTECTED) != 0
                                       ? PROTECTED_DACL_SECURITY_INFORMATION
                                       : UNPROTECTED_DACL_SECURITY_INFORMATION);
  const HANDLE writer = Reopen(*open, WRITE_DAC);
  if (writer == INVALID_HANDLE_VALUE) {
    return LastError("keep the access list of '" + target + "' in", open->path);
  }
  code = ::SetSecurityInfo(writer, SE_FILE_OBJECT, which, nullptr, nullptr,
                           access, nullptr);
  ::CloseHandle(writer);
  if (code != ERROR_SUCCESS) {
    return ErrorFromCode(code, "keep the access list of '" + target + "' in",
                         open->path);
  }
  return Status::Ok();
}

Status Win32FileSystem::Place(FileHandle file, const std::string& name,
                              const std::string& target) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("replace");
  const std::string action = "replace '" + target + "' by";
  // A read-only file is not replaced, as Windows itself refuses to.
  const std::wstring to = FullPath(target);
  const DWORD attributes = ::GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return ErrorFromCode(ERROR_ACCESS_DENIED, action, name);
  }
  // The open file itself takes the target's name, in one step; across
  // volumes the rename fails with ERROR_NOT_SAME_DEVICE.
  const HANDLE mover = Reopen(*open, DELETE | SYNCHRONIZE);
  if (mover == INVALID_HANDLE_VALUE) return LastError(action, name);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) +
                           to.size() * sizeof(wchar_t));
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = TRUE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::copy(to.begin(), to.end(), rename->FileName);
  const bool moved = ::SetFileInformationByHandle(
      mover, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()));
  const DWORD code = ::GetLastError();
  ::CloseHandle(mover);
  if (!moved) return ErrorFromCode(code, action, name);
  // The file's flush puts its new name in the volume's log too.
  if (!::FlushFileBuffers(open->handle)) return LastError("flush", target);
  return Status::Ok();
}

Status Win32FileSystem::Remove(const std::string& path) {
  if (!::DeleteFileW(Widen(path).c_str())) return LastError("delete", path);
  return Status::Ok();
}

}  // namespace korvik
