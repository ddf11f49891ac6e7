#include "platform/file_system.h"

#include <algorithm>
#include <vector>

namespace korvik {
namespace {

// Large enough to keep call costs out of sight, small enough to keep memory
// flat.
constexpr std::size_t kCopyBufferSize = std::size_t{1} << 20;

}  // namespace

Error ReplacedMeanwhile(const std::string& name) {
  return Error(ErrorKind::kOther,
               "'" + name + "' was replaced by another entry meanwhile");
}

Status SettleReplacement(FileSystem& files, const Settle& settle,
                         FileHandle file) {
  if (!settle) return Status::Ok();
  auto wrote = settle();
  if (!wrote.ok()) return wrote.status();
  return *wrote ? files.Sync(file) : Status::Ok();
}

Status FileSystem::Replace(FileHandle replacement_file,
                           const std::string& replacement,
                           const std::string& target, const FileId& expected,
                           const Settle& settle) {
  auto now = StatEntry(target);
  if (!now.ok()) return now.status();
  if (now->kind != EntryKind::kRegular || now->id != expected) {
    return ReplacedMeanwhile(target);
  }
  if (!capabilities().names_open_files) {
    // By its name only: it must still lead to the file written.
    auto held = StatHandle(replacement_file);
    if (!held.ok()) return held.status();
    auto named = StatEntry(replacement);
    if (!named.ok()) return named.status();
    if (named->kind != EntryKind::kRegular || named->id != held->id) {
      return ReplacedMeanwhile(replacement);
    }
  }
  if (Status kept = KeepAttributes(replacement_file, target); !kept.ok()) {
    return kept;
  }
  if (Status synced = Sync(replacement_file); !synced.ok()) return synced;
  if (Status settled = SettleReplacement(*this, settle, replacement_file);
      !settled.ok()) {
    return settled;
  }
  Status placed = Place(replacement_file, replacement, target);
  if (!placed.ok() && placed.error().kind() == ErrorKind::kCrossDevice) {
    // A copy across volumes is another file: nothing more goes into it, so
    // the last look comes first.
    placed = SettleReplacement(*this, settle, replacement_file);
    if (placed.ok()) {
      placed = CopyIntoPlace(replacement_file, replacement, target);
    }
  } else if (placed.ok()) {
    placed = SettleReplacement(*this, settle, replacement_file);
  }
  if (!placed.ok()) return placed;
  return SyncFolderOf(target);
}

Status FileSystem::CopyIntoPlace(FileHandle file, const std::string& name,
                                 const std::string& target) {
  auto source = StatHandle(file);
  if (!source.ok()) return source.status();
  const PathSyntax paths = capabilities().paths;
  // Appended in place: GCC 12 at -O3 takes `"." + std::string(...)` for an
  // overlapping copy (-Wrestrict).
  std::string prefix = ".";
  prefix.append(paths.BaseName(target).substr(0, 200)).append(".korvik-");
  auto created = CreateUnique(paths.DirectoryOf(target), prefix);
  if (!created.ok()) return created.status();
  ScopedFile copy(*this, created->handle);
  Status done = CopyRange(file, 0, copy.get(), 0, source->size);
  if (done.ok()) done = KeepAttributes(copy.get(), target);
  if (done.ok()) done = Sync(copy.get());
  if (done.ok()) done = Place(copy.get(), created->path, target);
  if (!done.ok()) {
    (void)copy.Close();
    (void)Remove(created->path);
    return done;
  }
  (void)Remove(name);
  return copy.Close();
}

Status CopyInBlocks(FileSystem& files, FileHandle source,
                    std::uint64_t source_offset, FileHandle target,
                    std::uint64_t target_offset, std::uint64_t length) {
  std::vector<char> buffer(static_cast<std::size_t>(
      std::min<std::uint64_t>(length, kCopyBufferSize)));
  while (length > 0) {
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(length, buffer.size()));
    auto got =
        files.ReadAt(source, std::span(buffer.data(), want), source_offset);
    if (!got.ok()) return got.status();
    if (*got == 0) {
      return Error(ErrorKind::kEndOfFile, "copy: the file ended early");
    }
    Status written =
        files.WriteAt(target, std::span(buffer.data(), *got), target_offset);
    if (!written.ok()) return written;
    source_offset += *got;
    target_offset += *got;
    length -= *got;
  }
  return Status::Ok();
}

}  // namespace korvik
