#include "tests/fake_file_system.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <stdexcept>
#include <utility>

#include "platform/path.h"

namespace korvik {
namespace {

// The number of links Linux follows in one path before it gives up.
constexpr int kMaxLinks = 40;
constexpr std::uint32_t kUser = 1000;
constexpr char kSeparator = '/';
constexpr PathSyntax kPaths = PathSyntax::Posix();

// Returns the names in `path`, without empty ones and ".".
std::vector<std::string> Names(std::string_view path) {
  std::vector<std::string> names;
  while (!path.empty()) {
    const auto slash = path.find(kSeparator);
    const std::string_view name = path.substr(0, slash);
    if (!name.empty() && name != ".") names.emplace_back(name);
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return names;
}

bool IsWithin(const std::string& name, const std::string& directory) {
  return name == directory || directory == "/" ||
         name.starts_with(directory + kSeparator);
}

Error BadHandle(std::string_view action) {
  return Error::FromErrno(EBADF, action, "?");
}

// Copies bytes of `content` from `offset` into `buffer`.
std::size_t CopyOut(const std::string& content, std::span<char> buffer,
                    std::uint64_t offset) {
  if (offset >= content.size()) return 0;
  const std::size_t count =
      std::min<std::size_t>(buffer.size(), content.size() - offset);
  std::copy_n(content.data() + offset, count, buffer.data());
  return count;
}

// Writes `data` into `content` at `offset`, filling any gap with zeros.
void CopyIn(std::string& content, std::span<const char> data,
            std::uint64_t offset) {
  const std::size_t end = offset + data.size();
  if (content.size() < end) content.resize(end, '\0');
  std::copy(data.begin(), data.end(), content.begin() + offset);
}

}  // namespace

FakeFileSystem::FakeFileSystem() {
  entries_["/"] = NewNode(NodeKind::kDirectory, 0755, 1);
}

Expected<EntryInfo> FakeFileSystem::Stat(const std::string& path) {
  const Lookup found = Resolve(path, true);
  if (found.node == nullptr) return EntryInfo{};
  return Describe(*found.node, path);
}

FileSystemCapabilities FakeFileSystem::capabilities() const {
  FileSystemCapabilities can;
  can.paths = kPaths;
  // The fake holds no folder: it has no one to swap them.
  can.holds_folders = false;
  return can;
}

Expected<EntryInfo> FakeFileSystem::StatEntry(const std::string& path) {
  const Lookup found = Resolve(path, false);
  if (found.node == nullptr) return EntryInfo{};
  EntryInfo info = Describe(*found.node, path);
  if (found.node->kind == NodeKind::kSymlink) info.kind = EntryKind::kLink;
  return info;
}

Expected<EntryInfo> FakeFileSystem::StatHandle(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("stat");
  return Describe(*open->node, open->path);
}

Expected<std::string> FakeFileSystem::RealPath(const std::string& path) {
  const Lookup found = Resolve(path, true);
  if (found.error != 0) return Error::FromErrno(found.error, "resolve", path);
  if (found.node == nullptr) return Error::FromErrno(ENOENT, "resolve", path);
  return found.path;
}

Expected<std::optional<EntryInfo>> FakeFileSystem::StatTrusted(
    const std::string& path) {
  walk_held_ = true;
  const Lookup found = Resolve(path, true);
  // The administrator's links are trusted too.
  if (found.foreign_link) return std::optional<EntryInfo>();
  if (found.node == nullptr) return std::optional<EntryInfo>(EntryInfo{});
  return std::optional<EntryInfo>(Describe(*found.node, path));
}

bool FakeFileSystem::MayWrite(const std::string& path) {
  const Lookup found = Resolve(path, true);
  return found.node != nullptr && Permits(*found.node, 0200);
}

Expected<FileHandle> FakeFileSystem::Open(const std::string& path,
                                          OpenMode mode) {
  Log("Open", Normalise(path));
  const bool private_file = mode == OpenMode::kCreateNew;
  // These modes stand for O_NOFOLLOW: a final link is not followed.
  const bool follow = mode == OpenMode::kRead || mode == OpenMode::kCreate;
  Lookup found = Resolve(path, follow);
  if (found.error != 0) return Error::FromErrno(found.error, "open", path);
  if (found.node != nullptr && mode == OpenMode::kCreateNew) {
    return Error::FromErrno(EEXIST, "open", path);
  }
  if (found.node == nullptr) {
    if (mode == OpenMode::kRead || mode == OpenMode::kReadWrite ||
        mode == OpenMode::kInspect) {
      return Error::FromErrno(ENOENT, "open", path);
    }
    const Node& directory = ParentOf(found.path);
    if (!Permits(directory, 0200)) {
      return Error::FromErrno(EACCES, "open", path);
    }
    // 0666 less a umask of 022, or owner only.
    found.node =
        NewNode(NodeKind::kFile, private_file ? 0600 : 0644, directory.device);
    entries_[found.path] = found.node;
  } else if (found.node->kind == NodeKind::kSymlink) {
    return Error::FromErrno(ELOOP, "open", path);
  } else if (found.node->kind != NodeKind::kFile) {
    const int code = found.node->kind == NodeKind::kDirectory ? EISDIR : ENXIO;
    return Error(ErrorKind::kAccessDenied,
                 "open '" + path + "': not a regular file", code);
  } else {
    const std::uint32_t needed =
        mode == OpenMode::kRead || mode == OpenMode::kInspect ? 0400
        : mode == OpenMode::kAppend                           ? 0200
                                                              : 0600;
    if (!Permits(*found.node, needed)) {
      return Error::FromErrno(EACCES, "open", path);
    }
    if (mode == OpenMode::kAppend && !MayAppendTo(*found.node, found.path)) {
      return Error::FromErrno(EPERM, "open", path);
    }
  }
  OpenFile file;
  file.node = found.node;
  file.path = path;
  file.name = Normalise(path);
  file.readable = mode != OpenMode::kAppend;
  file.writable = mode != OpenMode::kRead && mode != OpenMode::kInspect;
  file.append = mode == OpenMode::kAppend;
  return Remember(std::move(file));
}

Expected<UniqueFile> FakeFileSystem::CreateUnique(const std::string& directory,
                                                  const std::string& prefix) {
  std::string path;
  for (int number = 1;; ++number) {
    std::string digits = std::to_string(number);
    digits.insert(0, 6 - std::min<std::size_t>(digits.size(), 6), '0');
    path = directory + kSeparator + prefix + digits;
    if (Resolve(path, false).node == nullptr) break;
  }
  Log("CreateUnique", Normalise(path));
  const Lookup found = Resolve(directory, true);
  int error = found.error;
  if (error == 0 && found.node == nullptr) error = ENOENT;
  if (error == 0 && found.node->kind != NodeKind::kDirectory) error = ENOTDIR;
  if (error == 0 && !Permits(*found.node, 0200)) error = EACCES;
  if (error != 0) return Error::FromErrno(error, "create", path);
  OpenFile file;
  file.node = NewNode(NodeKind::kFile, 0600, found.node->device);
  entries_[kPaths.Join(found.path, kPaths.BaseName(path))] = file.node;
  file.path = path;
  file.name = Normalise(path);
  file.readable = true;
  file.writable = true;
  return UniqueFile{Remember(std::move(file)), path};
}

std::string FakeFileSystem::HandlePath(FileHandle file) {
  // The digest library of the tests reads by name only: a name the file
  // has now.
  const OpenFile* open = Find(file);
  if (open == nullptr) return std::string();
  for (const auto& [name, node] : entries_) {
    if (node == open->node) return name;
  }
  return open->name;
}

Status FakeFileSystem::Close(FileHandle file) {
  if (Find(file) == nullptr) return BadHandle("close");
  std::erase_if(locks_,
                [file](const auto& lock) { return lock.second == file; });
  handles_.erase(file);
  return Status::Ok();
}

Expected<std::size_t> FakeFileSystem::Read(FileHandle file,
                                           std::span<char> buffer) {
  OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("read");
  auto count = ReadAt(file, buffer, open->position);
  if (count.ok()) open->position += *count;
  return count;
}

Expected<std::size_t> FakeFileSystem::ReadAt(FileHandle file,
                                             std::span<char> buffer,
                                             std::uint64_t offset) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("read");
  if (!open->readable) {
    const bool directory = open->node->kind == NodeKind::kDirectory;
    return Error::FromErrno(directory ? EISDIR : EBADF, "read", open->path);
  }
  return CopyOut(open->node->data, buffer, offset);
}

Status FakeFileSystem::Write(FileHandle file, std::span<const char> data) {
  OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("write");
  Log("Write", open->name);
  if (!open->writable) return Error::FromErrno(EBADF, "write", open->path);
  if (open->append) open->position = open->node->data.size();
  CopyIn(open->node->data, data, open->position);
  ++open->node->changes;
  open->position += data.size();
  return Status::Ok();
}

Status FakeFileSystem::WriteAt(FileHandle file, std::span<const char> data,
                               std::uint64_t offset) {
  OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("write");
  Log("WriteAt", open->name);
  if (!open->writable) return Error::FromErrno(EBADF, "write", open->path);
  // Linux ignores the offset of pwrite on a file opened for appending.
  if (open->append) offset = open->node->data.size();
  CopyIn(open->node->data, data, offset);
  ++open->node->changes;
  return Status::Ok();
}

Status FakeFileSystem::WriteAtEnd(FileHandle file, std::span<const char> data) {
  OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("write");
  Log("WriteAtEnd", open->name);
  if (!open->writable) return Error::FromErrno(EBADF, "write", open->path);
  CopyIn(open->node->data, data, open->node->data.size());
  ++open->node->changes;
  return Status::Ok();
}

Status FakeFileSystem::CopyRange(FileHandle source, std::uint64_t source_offset,
                                 FileHandle target, std::uint64_t target_offset,
                                 std::uint64_t length) {
  const OpenFile* from = Find(source);
  const OpenFile* to = Find(target);
  if (from == nullptr || to == nullptr) return BadHandle("copy to");
  Log("CopyRange", from->name + " " + to->name);
  if (!from->readable) return Error::FromErrno(EBADF, "copy from", from->path);
  // copy_file_range refuses a target opened for appending.
  if (!to->writable || to->append) {
    return Error::FromErrno(EBADF, "copy to", to->path);
  }
  const std::string& content = from->node->data;
  const std::uint64_t available =
      source_offset < content.size() ? content.size() - source_offset : 0;
  // Copied first: source and target may be the same file.
  const std::string bytes =
      content.substr(std::min<std::uint64_t>(source_offset, content.size()),
                     std::min(length, available));
  CopyIn(to->node->data, bytes, target_offset);
  ++to->node->changes;
  if (bytes.size() < length) {
    return Error(ErrorKind::kEndOfFile, "copy: the file ended early");
  }
  return Status::Ok();
}

Status FakeFileSystem::Truncate(FileHandle file, std::uint64_t length) {
  OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("truncate");
  Log("Truncate", open->name);
  if (!open->writable) return Error::FromErrno(EINVAL, "truncate", open->path);
  open->node->data.resize(length, '\0');
  ++open->node->changes;
  return Status::Ok();
}

Status FakeFileSystem::Sync(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("flush");
  Log("Sync", open->name);
  return Status::Ok();
}

Status FakeFileSystem::Lock(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("lock");
  Log("Lock", open->name);
  // Like flock, the lock belongs to the file, whatever name it has now.
  const auto [held, fresh] = locks_.try_emplace(open->node->inode, file);
  if (!fresh && held->second != file) {
    return Error::FromErrno(EDEADLK, "lock", open->path);
  }
  return Status::Ok();
}

Expected<bool> FakeFileSystem::TryLock(FileHandle file) {
  const OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("lock");
  Log("TryLock", open->name);
  const auto [held, fresh] = locks_.try_emplace(open->node->inode, file);
  return fresh || held->second == file;
}

Status FakeFileSystem::KeepAttributes(FileHandle file,
                                      const std::string& target) {
  OpenFile* open = Find(file);
  if (open == nullptr) return BadHandle("keep the attributes of");
  const Lookup like = Resolve(target, false);
  if (like.error != 0) return Error::FromErrno(like.error, "look up", target);
  if (like.node == nullptr) return Error::FromErrno(ENOENT, "look up", target);
  open->node->mode = like.node->mode;
  open->node->owner = like.node->owner;
  open->node->group = like.node->group;
  ++open->node->changes;
  return Status::Ok();
}

Status FakeFileSystem::Place(FileHandle file, const std::string& name,
                             const std::string& target) {
  Log("Place", Normalise(name) + " " + Normalise(target));
  const auto fail = [&](int code) {
    return Error::FromErrno(code, "replace '" + target + "' by", name);
  };
  const OpenFile* held = Find(file);
  if (held == nullptr) return BadHandle("replace");
  const Lookup destination = Resolve(target, false);
  if (destination.error != 0) return fail(destination.error);
  const Node& directory = ParentOf(destination.path);
  if (!Permits(directory, 0200)) return fail(EACCES);
  if (held->node->device != directory.device) return fail(EXDEV);
  // The open file goes, as a link of its handle does: the work file's own
  // name goes first, where it still leads to the file.
  const Lookup source = Resolve(name, false);
  if (source.node == held->node) entries_.erase(source.path);
  ++held->node->changes;
  entries_[destination.path] = held->node;
  return Status::Ok();
}

Status FakeFileSystem::SyncFolderOf(const std::string& path) {
  Log("Sync", kPaths.DirectoryOf(Normalise(path)));
  return Status::Ok();
}

Status FakeFileSystem::Rename(const std::string& from, const std::string& to) {
  Log("Rename", Normalise(from) + " " + Normalise(to));
  const auto fail = [&](int code) {
    return Error::FromErrno(code, "rename to '" + to + "' from", from);
  };
  const Lookup source = Resolve(from, false);
  if (source.error != 0) return fail(source.error);
  if (source.node == nullptr) return fail(ENOENT);
  const Lookup target = Resolve(to, false);
  if (target.error != 0) return fail(target.error);
  if (source.node == target.node) return Status::Ok();
  const Node& target_directory = ParentOf(target.path);
  if (!Permits(ParentOf(source.path), 0200) ||
      !Permits(target_directory, 0200)) {
    return fail(EACCES);
  }
  if (source.node->device != target_directory.device) return fail(EXDEV);
  const bool directory = source.node->kind == NodeKind::kDirectory;
  if (target.node != nullptr) {
    const bool over_directory = target.node->kind == NodeKind::kDirectory;
    if (directory && !over_directory) return fail(ENOTDIR);
    if (!directory && over_directory) return fail(EISDIR);
    if (HasChildren(target.path)) return fail(ENOTEMPTY);
  }
  if (directory && IsWithin(target.path, source.path)) return fail(EINVAL);
  MoveTree(source.path, target.path);
  return Status::Ok();
}

Status FakeFileSystem::Remove(const std::string& path) {
  Log("Remove", Normalise(path));
  const Lookup found = Resolve(path, false);
  int error = found.error;
  if (error == 0 && found.node == nullptr) error = ENOENT;
  // Linux's unlink answers EISDIR for a directory.
  if (error == 0 && found.node->kind == NodeKind::kDirectory) error = EISDIR;
  if (error == 0 && !Permits(ParentOf(found.path), 0200)) error = EACCES;
  if (error != 0) return Error::FromErrno(error, "delete", path);
  entries_.erase(found.path);
  return Status::Ok();
}

void FakeFileSystem::AddFile(const std::string& path,
                             const std::string& content, std::uint32_t mode) {
  Place(path, NodeKind::kFile, mode & 07777)->data = content;
}

void FakeFileSystem::AddDirectory(const std::string& path,
                                  std::optional<std::uint64_t> device) {
  Node& directory = MakeDirectories(Normalise(path));
  if (device.has_value()) directory.device = *device;
}

void FakeFileSystem::AddSymlink(const std::string& path,
                                const std::string& target) {
  Place(path, NodeKind::kSymlink, 0777)->data = target;
}

void FakeFileSystem::AddHardLink(const std::string& path,
                                 const std::string& existing) {
  const Lookup found = Resolve(existing, false);
  if (found.node == nullptr || found.node->kind != NodeKind::kFile) {
    throw std::invalid_argument("no file " + existing);
  }
  MakeDirectories(std::string(kPaths.DirectoryOf(Normalise(path))));
  entries_[Normalise(path)] = found.node;
}

void FakeFileSystem::SetForeignOwner(const std::string& path) {
  const Lookup found = Resolve(path, false);
  if (found.node == nullptr) throw std::invalid_argument("no entry " + path);
  found.node->owner = 2000;
}

void FakeFileSystem::AddSystemEntry(const std::string& path) {
  Place(path, NodeKind::kSystem, 0644);
}

void FakeFileSystem::SetMode(const std::string& path, std::uint32_t mode) {
  const Lookup found = Resolve(path, true);
  if (found.node == nullptr) throw std::invalid_argument("no entry " + path);
  found.node->mode = mode & 07777;
}

void FakeFileSystem::set_current_directory(const std::string& path) {
  current_directory_ = Normalise(path);
}

bool FakeFileSystem::Exists(const std::string& path) const {
  return entries_.contains(Normalise(path));
}

std::string FakeFileSystem::Contents(const std::string& path) const {
  const Node& node = Existing(path);
  if (node.kind != NodeKind::kFile) {
    throw std::invalid_argument("not a regular file: " + path);
  }
  return node.data;
}

std::uint32_t FakeFileSystem::Mode(const std::string& path) const {
  return Existing(path).mode;
}

std::vector<std::string> FakeFileSystem::Files() const {
  std::vector<std::string> files;
  for (const auto& [name, node] : entries_) {
    if (node->kind == NodeKind::kFile) files.push_back(name);
  }
  return files;
}

std::string FakeFileSystem::Normalise(std::string_view path) const {
  std::vector<std::string> names;
  for (std::string& name :
       Names(kPaths.IsAbsolute(path) ? std::string(path)
                                     : kPaths.Join(current_directory_, path))) {
    if (name != "..") {
      names.push_back(std::move(name));
    } else if (!names.empty()) {
      names.pop_back();
    }
  }
  std::string normal;
  for (const std::string& name : names) normal += kSeparator + name;
  return normal.empty() ? std::string(1, kSeparator) : normal;
}

FakeFileSystem::Lookup FakeFileSystem::Resolve(std::string_view path,
                                               bool follow_last) const {
  Lookup lookup;
  if (path.empty()) {
    lookup.error = ENOENT;
    return lookup;
  }
  const std::vector<std::string> names =
      Names(kPaths.IsAbsolute(path) ? std::string(path)
                                    : kPaths.Join(current_directory_, path));
  std::deque<std::string> rest(names.begin(), names.end());
  std::string current(1, kSeparator);
  int links = 0;
  while (!rest.empty()) {
    const std::string name = std::move(rest.front());
    rest.pop_front();
    // ".." is taken after links are followed, as the kernel does.
    if (name == "..") {
      current = kPaths.DirectoryOf(current);
      continue;
    }
    const std::string next = kPaths.Join(current, name);
    const auto found = entries_.find(next);
    const bool last = rest.empty();
    if (found == entries_.end()) {
      if (last) {
        lookup.path = next;
      } else {
        lookup.error = ENOENT;
      }
      return lookup;
    }
    const Node& node = *found->second;
    if (node.kind == NodeKind::kSymlink && (!last || follow_last)) {
      if (++links > kMaxLinks) {
        lookup.error = ELOOP;
        return lookup;
      }
      if (node.owner != (root_ ? 0 : kUser)) lookup.foreign_link = true;
      const std::vector<std::string> target = Names(node.data);
      rest.insert(rest.begin(), target.begin(), target.end());
      if (kPaths.IsAbsolute(node.data)) current = kSeparator;
      continue;
    }
    if (!last && node.kind != NodeKind::kDirectory) {
      lookup.error = ENOTDIR;
      return lookup;
    }
    current = next;
  }
  lookup.node = entries_.at(current);
  lookup.path = std::move(current);
  return lookup;
}

bool FakeFileSystem::MayAppendTo(const Node& node,
                                 const std::string& name) const {
  const std::uint32_t user = root_ ? 0 : kUser;
  const EntryInfo info = Describe(node, name);
  if (info.links <= 1 && node.owner == user) return true;
  const Node& folder = ParentOf(name);
  return folder.owner == user && (folder.mode & 022) == 0;
}

EntryInfo FakeFileSystem::Describe(const Node& node,
                                   std::string_view name) const {
  EntryInfo info;
  info.links = static_cast<std::uint32_t>(std::count_if(
      entries_.begin(), entries_.end(),
      [&](const auto& entry) { return entry.second.get() == &node; }));
  info.foreign_owner = node.owner != (root_ ? 0 : kUser);
  info.open_to_others = (node.mode & 077) != 0;
  info.hidden = kPaths.BaseName(name).starts_with('.');
  switch (node.kind) {
    case NodeKind::kFile:
      info.kind = EntryKind::kRegular;
      info.size = node.data.size();
      break;
    case NodeKind::kDirectory:
      info.kind = EntryKind::kDirectory;
      break;
    case NodeKind::kSymlink:  // not reached: callers follow links
    case NodeKind::kSystem:
      info.kind = EntryKind::kDevice;
      info.system = true;
      break;
  }
  info.id = FileId{node.device, node.inode};
  info.modified_ns = node.changes;
  info.changed_ns = node.changes;
  return info;
}

std::shared_ptr<FakeFileSystem::Node> FakeFileSystem::NewNode(
    NodeKind kind, std::uint32_t mode, std::uint64_t device) {
  auto node = std::make_shared<Node>();
  node->kind = kind;
  node->mode = mode;
  node->owner = root_ ? 0 : kUser;
  node->group = root_ ? 0 : kUser;
  node->device = device;
  node->inode = next_inode_++;
  return node;
}

FakeFileSystem::Node& FakeFileSystem::MakeDirectories(const std::string& name) {
  const auto found = entries_.find(name);
  if (found != entries_.end()) {
    if (found->second->kind != NodeKind::kDirectory) {
      throw std::invalid_argument("not a directory: " + name);
    }
    return *found->second;
  }
  const std::uint64_t device = MakeDirectories(kPaths.DirectoryOf(name)).device;
  return *(entries_[name] = NewNode(NodeKind::kDirectory, 0755, device));
}

std::shared_ptr<FakeFileSystem::Node> FakeFileSystem::Place(
    const std::string& path, NodeKind kind, std::uint32_t mode) {
  const std::string name = Normalise(path);
  const std::uint64_t device = MakeDirectories(kPaths.DirectoryOf(name)).device;
  return entries_[name] = NewNode(kind, mode, device);
}

const FakeFileSystem::Node& FakeFileSystem::Existing(
    const std::string& path) const {
  const Lookup found = Resolve(path, true);
  if (found.node == nullptr) throw std::invalid_argument("no entry " + path);
  return *found.node;
}

const FakeFileSystem::Node& FakeFileSystem::ParentOf(
    const std::string& name) const {
  return *entries_.at(kPaths.DirectoryOf(name));
}

bool FakeFileSystem::Permits(const Node& node, std::uint32_t bits) const {
  return root_ || (node.mode & bits) == bits;
}

bool FakeFileSystem::HasChildren(const std::string& name) const {
  const std::string prefix = kPaths.Join(name, "");
  const auto next = entries_.upper_bound(prefix);
  return next != entries_.end() && next->first.starts_with(prefix);
}

void FakeFileSystem::MoveTree(const std::string& from, const std::string& to) {
  std::vector<std::string> moving;
  for (const auto& [name, node] : entries_) {
    if (IsWithin(name, from)) moving.push_back(name);
  }
  for (const std::string& name : moving) {
    std::shared_ptr<Node> node = entries_.extract(name).mapped();
    entries_[to + name.substr(from.size())] = std::move(node);
  }
}

FileHandle FakeFileSystem::Remember(OpenFile file) {
  handles_.emplace(next_handle_, std::move(file));
  return next_handle_++;
}

FakeFileSystem::OpenFile* FakeFileSystem::Find(FileHandle file) {
  const auto found = handles_.find(file);
  return found == handles_.end() ? nullptr : &found->second;
}

void FakeFileSystem::Log(std::string_view call, std::string_view name) {
  calls_.push_back(std::string(call) + ' ' + std::string(name));
}

}  // namespace korvik
