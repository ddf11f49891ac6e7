#include <cerrno>
#include <vector>

#include "checksum/clean_file_memo.h"
#include "checksum/entries.h"
#include "checksum/line_ends.h"
#include "checksum/operations.h"
#include "platform/path.h"

namespace korvik {
namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;

bool SameEntry(const EntryInfo& a, const EntryInfo& b) {
  return a.device == b.device && a.inode == b.inode;
}

// The work file lies in the current directory; where that does not accept
// new files (a read-only program directory, say), beside the data file.
std::string WorkDirectory(const Services& services, const std::string& target) {
  auto current = services.process.CurrentDirectory();
  if (current.ok() && services.files.MayWrite(*current)) return *current;
  return path::DirectoryOf(target);
}

// Removes the work file when the rewrite ends before the work file took
// the data file's place.
class WorkFileGuard {
 public:
  WorkFileGuard(FileSystem& files, std::string path)
      : files_(files), path_(std::move(path)) {}
  WorkFileGuard(const WorkFileGuard&) = delete;
  WorkFileGuard& operator=(const WorkFileGuard&) = delete;
  ~WorkFileGuard() {
    if (armed_) (void)files_.Remove(path_);
  }
  void Disarm() { armed_ = false; }

 private:
  FileSystem& files_;
  std::string path_;
  bool armed_ = true;
};

// Reads the whole file, block by block, through `consume`; stops early
// when `consume` returns false. Returns the number of bytes read.
template <typename Consume>
Expected<std::uint64_t> ReadBlocks(FileSystem& files, FileHandle file,
                                   Consume consume) {
  std::vector<char> buffer(kBlockSize);
  std::uint64_t offset = 0;
  for (;;) {
    auto got = files.ReadAt(file, buffer, offset);
    if (!got.ok()) return got.error();
    if (*got == 0) return offset;
    offset += *got;
    if (!consume(std::span<const char>(buffer.data(), *got))) return offset;
  }
}

Status SyncDirectory(FileSystem& files, const std::string& directory) {
  auto opened = files.OpenDirectory(directory);
  if (!opened.ok()) return opened.status();
  ScopedFile handle(files, *opened);
  if (Status synced = files.Sync(handle.get()); !synced.ok()) return synced;
  return handle.Close();
}

// Completes the file at `path`: the data file's rights, then its bytes on
// the device.
Status Seal(FileSystem& files, ScopedFile& file, const EntryInfo& like) {
  if (Status kept = files.CopyAttributes(file.get(), like); !kept.ok()) {
    return kept;
  }
  if (Status synced = files.Sync(file.get()); !synced.ok()) return synced;
  return file.Close();
}

// Writes the rewritten data into the work file, complete and flushed.
Status WriteWorkFile(FileSystem& files, FileHandle data,
                     const std::string& work_path, const EntryInfo& like) {
  auto opened = files.Open(work_path, OpenMode::kCreatePrivate);
  if (!opened.ok()) return opened.status();
  ScopedFile work(files, *opened);
  if (Status emptied = files.Truncate(work.get(), 0); !emptied.ok()) {
    return emptied;
  }
  LineEndWriter writer;
  std::string output;
  output.reserve(2 * kBlockSize + 2);
  Status written;
  auto read = ReadBlocks(files, data, [&](std::span<const char> block) {
    output.clear();
    writer.Convert(block, output);
    written = files.Write(work.get(), output);
    return written.ok();
  });
  if (!read.ok()) return read.status();
  if (!written.ok()) return written;
  output.clear();
  writer.Finish(output);
  if (Status last = files.Write(work.get(), output); !last.ok()) return last;
  return Seal(files, work, like);
}

// Puts a copy of the work file beside the data file, then in its place: for
// a work file on another file system than the data file.
Status CopyIntoPlace(FileSystem& files, const std::string& work_path,
                     const std::string& target, const EntryInfo& like) {
  auto source_handle = files.Open(work_path, OpenMode::kRead);
  if (!source_handle.ok()) return source_handle.status();
  ScopedFile source(files, *source_handle);
  auto source_info = files.StatHandle(source.get());
  if (!source_info.ok()) return source_info.status();

  // Appended in place: GCC 12 at -O3 takes `"." + std::string(...)` for an
  // overlapping copy (-Wrestrict).
  std::string prefix = ".";
  prefix.append(path::BaseName(target).substr(0, 200)).append(".korvik-");
  auto created = files.CreateUnique(path::DirectoryOf(target), prefix);
  if (!created.ok()) return created.status();
  WorkFileGuard temp_guard(files, created->path);
  ScopedFile temp(files, created->handle);
  if (Status copied =
          files.CopyRange(source.get(), 0, temp.get(), 0, source_info->size);
      !copied.ok()) {
    return copied;
  }
  if (Status sealed = Seal(files, temp, like); !sealed.ok()) return sealed;
  if (Status moved = files.Rename(created->path, target); !moved.ok()) {
    return moved;
  }
  temp_guard.Disarm();
  return Status::Ok();
}

// Replaces the data file by its rewritten form in one step: a process
// stopped at any moment leaves either the old or the new file.
Status ReplaceWithRewrite(FileSystem& files, ScopedFile& data,
                          const std::string& work_path,
                          const std::string& target, const EntryInfo& like) {
  WorkFileGuard work_guard(files, work_path);
  if (Status written = WriteWorkFile(files, data.get(), work_path, like);
      !written.ok()) {
    return written;
  }
  if (Status closed = data.Close(); !closed.ok()) return closed;
  Status moved = files.Rename(work_path, target);
  if (!moved.ok() && moved.error().code() == EXDEV) {
    moved = CopyIntoPlace(files, work_path, target, like);
  } else if (moved.ok()) {
    work_guard.Disarm();
  }
  if (!moved.ok()) return moved;
  return SyncDirectory(files, path::DirectoryOf(target));
}

// Adds the missing end of the last line in place: two bytes at most, so
// the file is never seen half changed.
Status AppendLineEnd(FileSystem& files, ScopedFile& data,
                     std::string_view suffix, std::uint64_t length) {
  Status written = files.WriteAt(data.get(), suffix, length);
  if (written.ok()) written = files.Sync(data.get());
  if (!written.ok()) {
    (void)files.Truncate(data.get(), length);
    return written;
  }
  return data.Close();
}

}  // namespace

Expected<bool> RewriteAsText(const Services& services,
                             const std::string& file_name,
                             RewriteStrategy strategy) {
  FileSystem& files = services.files;
  auto ordinary = IsOrdinaryFile(files, file_name);
  if (!ordinary.ok() || !*ordinary) return false;
  // A data file reached through links is rewritten where it lies.
  auto target = files.RealPath(file_name);
  if (!target.ok()) return false;
  auto info = files.Stat(*target);
  if (!info.ok() || info->kind != EntryKind::kRegular) return false;

  // Runs sharing a work directory take turns: the lock on the directory is
  // held until the rewrite is over. Where the file system offers no locks
  // the rewrite goes on unguarded.
  const std::string work_directory = WorkDirectory(services, *target);
  auto directory = files.OpenDirectory(work_directory);
  if (!directory.ok()) return false;
  ScopedFile directory_lock(files, *directory);
  (void)files.Lock(directory_lock.get());

  const std::string work_path =
      path::Join(work_directory, kRewriteWorkFileName);
  auto leftover = files.Stat(work_path);
  if (!leftover.ok()) return false;
  if (leftover->kind == EntryKind::kRegular) {
    if (SameEntry(*leftover, *info)) return false;  // the data file itself
    if (Status removed = files.Remove(work_path); !removed.ok()) {
      return removed.error();
    }
  }
  // A file the process may not write is refused before anything is written.
  if (!files.MayWrite(*target) || info->size == 0) return false;

  auto opened = files.Open(*target, OpenMode::kReadWrite);
  if (!opened.ok()) return false;
  ScopedFile data(files, *opened);

  // The state before the scan: any write during it makes the memo miss.
  auto before_scan = files.StatHandle(data.get());
  if (!before_scan.ok()) return false;
  CleanFileMemo* memo = services.clean_files;
  if (strategy == RewriteStrategy::kMinimal && memo != nullptr &&
      memo->Holds(*before_scan)) {
    return data.Close().ok();
  }

  LineEndScanner scanner;
  std::uint64_t length = 0;
  if (strategy == RewriteStrategy::kMinimal) {
    auto scanned = ReadBlocks(files, data.get(),
                              [&](auto block) { return scanner.Feed(block); });
    if (!scanned.ok()) return false;
    length = *scanned;
    if (length == 0) return false;  // emptied since it was looked at
  }
  const LineEndChange change = strategy == RewriteStrategy::kMinimal
                                   ? scanner.Result()
                                   : LineEndChange::kRewrite;
  Status done;
  switch (change) {
    case LineEndChange::kNone:
      done = data.Close();
      if (done.ok() && memo != nullptr) memo->Remember(*before_scan);
      break;
    case LineEndChange::kAppend:
      done = AppendLineEnd(files, data, scanner.Suffix(), length);
      break;
    case LineEndChange::kRewrite:
      done = ReplaceWithRewrite(files, data, work_path, *target, *info);
      break;
  }
  return done.ok();
}

}  // namespace korvik
