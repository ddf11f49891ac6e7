#include <future>
#include <optional>
#include <vector>

#include "checksum/append_in_place.h"
#include "checksum/clean_file_memo.h"
#include "checksum/digest_in_pieces.h"
#include "checksum/digest_library.h"
#include "checksum/entries.h"
#include "checksum/line_ends.h"
#include "checksum/operations.h"
#include "checksum/progress.h"
#include "checksum/seal_lock.h"
#include "checksum/side_digest.h"

namespace korvik {
namespace {

constexpr std::size_t kBlockSize = std::size_t{1} << 20;
// Another run may remove the work file between our open and our lock; past
// this many such turns something else is at play.
constexpr int kWorkFileAttempts = 100;
// Another seal may put a new file in the data file's place while this one
// waits for its lock; past this many such turns something else is at play.
constexpr int kDataFileAttempts = 100;

// Reads the whole file, block by block, through `consume`; stops early
// when `consume` returns false. Returns the number of bytes read. Counts
// them in `progress` where there is one, and fails where it asks to stop.
template <typename Consume>
Expected<std::uint64_t> ReadBlocks(FileSystem& files, FileHandle file,
                                   Progress* progress, Consume consume) {
  std::vector<char> buffer(kBlockSize);
  std::uint64_t offset = 0;
  for (;;) {
    if (progress != nullptr && progress->StopRequested()) {
      return Error(ErrorKind::kOther, "stopped at the user's request");
    }
    auto got = files.ReadAt(file, buffer, offset);
    if (!got.ok()) return got.error();
    if (*got == 0) return offset;
    offset += *got;
    if (progress != nullptr) progress->Advance(*got);
    if (!consume(std::span<const char>(buffer.data(), *got))) return offset;
  }
}

// Starts a stretch of `total` bytes in `progress` where there is one.
void StartStretch(Progress* progress, std::uint64_t total) {
  if (progress != nullptr) progress->Start(total);
}

// Digests the file as it will be with `suffix` added, then adds it in
// place: where a Progress may stop the work, the file is changed only once
// its digest is known, and the memo keeps it.
Status AppendDigested(const Services& services, FileHandle data,
                      std::string_view suffix, std::uint64_t length) {
  std::string digest;
  if (Status digested = DigestInPieces(services, data, length, digest, suffix);
      !digested.ok()) {
    return digested;
  }
  if (Status appended = AppendInPlace(services.files, data, suffix, length);
      !appended.ok()) {
    return appended;
  }
  auto now = services.files.StatHandle(data);
  if (now.ok()) services.clean_files->Remember(*now, std::move(digest));
  return Status::Ok();
}

bool RefusesNewFiles(const Error& error) {
  return error.kind() == ErrorKind::kAccessDenied ||
         error.kind() == ErrorKind::kReadOnly;
}

// The rewrite's work file "~~~~MD5.TMP", held open and locked for the whole
// rewrite: runs sharing a directory take turns on it. What an earlier run
// of the same user left behind under that name is taken over; anything else
// there (another user's file, which that user could lock for ever, a link,
// a directory) is removed. The file is removed on
// every path unless it took the data file's place.
class WorkFile {
 public:
  explicit WorkFile(FileSystem& files) : files_(files) {}
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;
  ~WorkFile() {
    if (handle_ == kNoFile) return;
    if (!replaced_) (void)files_.Remove(path_);
    (void)files_.Close(handle_);
  }

  // Waits for the work file at `path`. Returns false where `path` is the
  // data file itself, an error where a leftover cannot be removed.
  Expected<bool> Acquire(const std::string& path, const FileId& data);

  // Writes the data file's rewritten form into the work file, complete and
  // flushed; hands every block written to `digest` where there is one.
  Status Fill(FileHandle data, SideDigest* digest, Progress* progress);

  // Puts the work file in the place of the data file `target`, the file
  // `expected`.
  Status Replace(const std::string& target, const FileId& expected);

  // Gives up the handle of the work file that took the data file's place,
  // still locked.
  FileHandle TakeReplaced() { return std::exchange(handle_, kNoFile); }

 private:
  // Removes what stands under the name instead of a usable work file.
  Status RemoveLeftover();

  FileSystem& files_;
  std::string path_;
  FileHandle handle_ = kNoFile;
  bool replaced_ = false;
};

Expected<bool> WorkFile::Acquire(const std::string& path, const FileId& data) {
  path_ = path;
  for (int attempt = 0; attempt < kWorkFileAttempts; ++attempt) {
    auto named = files_.Stat(path_);
    if (!named.ok()) return named.error();
    if (named->kind == EntryKind::kRegular && named->id == data) return false;
    auto opened = files_.Open(path_, OpenMode::kOpenOrCreatePrivate);
    if (!opened.ok()) {
      if (RefusesNewFiles(opened.error()) &&
          named->kind == EntryKind::kMissing) {
        return opened.error();  // the directory takes no new files
      }
      if (Status removed = RemoveLeftover(); !removed.ok()) return removed;
      continue;
    }
    handle_ = *opened;
    auto held = files_.StatHandle(handle_);
    if (held.ok() && held->foreign_owner) {
      (void)files_.Close(handle_);
      handle_ = kNoFile;
      if (Status removed = RemoveLeftover(); !removed.ok()) return removed;
      continue;
    }
    (void)files_.Lock(handle_);  // where there are no locks, unguarded
    auto now = files_.Stat(path_);
    if (held.ok() && now.ok() && now->kind == EntryKind::kRegular &&
        now->id == held->id) {
      if (held->id == data) return false;
      return true;
    }
    // The run before us removed it or put it in place: not ours to remove.
    (void)files_.Close(handle_);
    handle_ = kNoFile;
  }
  return Error(ErrorKind::kOther, "'" + path_ + "' keeps changing");
}

Status WorkFile::RemoveLeftover() {
  Status removed = files_.Remove(path_);
  if (!removed.ok() && removed.error().kind() != ErrorKind::kNotFound) {
    return removed;
  }
  return Status::Ok();
}

Status WorkFile::Fill(FileHandle data, SideDigest* digest, Progress* progress) {
  if (Status emptied = files_.Truncate(handle_, 0); !emptied.ok()) {
    return emptied;
  }
  LineEndWriter writer;
  // Two by turns: the other core digests one while the next is made.
  std::string outputs[2];
  for (std::string& output : outputs) output.reserve(2 * kBlockSize + 2);
  // The last block handed over is digested before its buffer goes.
  struct WaitForDigest {
    SideDigest* digest;
    ~WaitForDigest() {
      if (digest != nullptr) digest->Wait();
    }
  } wait_for_digest{digest};
  int turn = 0;
  Status written;
  std::uint64_t offset = 0;
  auto next_output = [&]() -> std::string& {
    turn ^= 1;
    outputs[turn].clear();
    return outputs[turn];
  };
  auto emit = [&](const std::string& output) {
    if (digest != nullptr) digest->Add(output);
    written = files_.WriteAt(handle_, output, offset);
    // The device takes the blocks while the rest is made, so the flush at
    // the end has little left to wait for.
    if (written.ok()) files_.StartSync(handle_, offset, output.size());
    offset += output.size();
    return written.ok();
  };
  auto read =
      ReadBlocks(files_, data, progress, [&](std::span<const char> block) {
        std::string& output = next_output();
        writer.Convert(block, output);
        return emit(output);
      });
  if (!read.ok()) return read.status();
  if (!written.ok()) return written;
  std::string& output = next_output();
  writer.Finish(output);
  emit(output);
  return written;
}

Status WorkFile::Replace(const std::string& target, const FileId& expected) {
  if (Status moved = files_.Replace(handle_, path_, target, expected);
      !moved.ok()) {
    return moved;
  }
  replaced_ = true;
  return Status::Ok();
}

// Determines whether the file's last two bytes are CR LF.
bool EndsInCrLf(FileSystem& files, FileHandle file, std::uint64_t size) {
  if (size < 2) return false;
  char last[2];
  auto got = files.ReadAt(file, last, size - 2);
  return got.ok() && *got == 2 && last[0] == '\r' && last[1] == '\n';
}

// Opens and locks the data file that the existence test saw under `name`:
// the file at its real path, never a link put there since. Links on the way
// are followed only where they belong to this user or the administrator.
// Returns false where there is no such file to rewrite.
Expected<bool> HoldDataFile(const Services& services, const std::string& name,
                            SealLock& seal, std::string& target) {
  FileSystem& files = services.files;
  for (int attempt = 0; attempt < kDataFileAttempts; ++attempt) {
    auto ordinary = IsOrdinaryFile(files, name);
    if (!ordinary.ok() || !*ordinary) return false;
    // The file the walk through trusted links found is the one held: any
    // link put in place since leads to another file, which is refused.
    auto info = files.StatTrusted(name);
    if (!info.ok()) return info.error();
    if (!*info) return UntrustedLinkError(name);
    if ((*info)->kind != EntryKind::kRegular) return false;
    // A data file named through links is rewritten where they lead.
    auto real = files.RealPath(name);
    if (!real.ok()) return false;
    target = *real;
    if (!seal.Holds((*info)->id)) {
      auto taken = seal.Take(target, (*info)->id);
      if (!taken.ok()) {
        // Where the file cannot be opened for writing, it is not rewritten.
        if (taken.error().kind() == ErrorKind::kOther) return taken.error();
        return false;
      }
      if (!*taken) continue;
    }
    seal.AddName(name);
    return true;
  }
  return Error(ErrorKind::kOther, "'" + name + "' keeps changing");
}

}  // namespace

Expected<bool> RewriteAsText(const Services& services,
                             const std::string& file_name,
                             RewriteStrategy strategy) {
  FileSystem& files = services.files;
  SealLock own_lock(files);
  SealLock& seal = services.seal != nullptr ? *services.seal : own_lock;
  std::string target;
  auto held = HoldDataFile(services, file_name, seal, target);
  if (!held.ok() || !*held) return held;
  const FileHandle data = seal.handle();

  // The state before the scan: any write during it makes the memo miss.
  auto before_scan = files.StatHandle(data);
  if (!before_scan.ok()) return false;
  // The work file lies in the current directory; where that takes no new
  // files (a read-only program directory, say), beside the data file.
  WorkFile work(files);
  auto current = services.process.CurrentDirectory();
  Expected<bool> acquired =
      current.ok()
          ? work.Acquire(services.paths.Join(*current, kRewriteWorkFileName),
                         before_scan->id)
          : Expected<bool>(current.error());
  if (!acquired.ok() && RefusesNewFiles(acquired.error())) {
    acquired =
        work.Acquire(services.paths.Join(services.paths.DirectoryOf(target),
                                         kRewriteWorkFileName),
                     before_scan->id);
  }
  if (!acquired.ok()) {
    if (RefusesNewFiles(acquired.error())) return false;
    return acquired.error();
  }
  if (!*acquired) return false;  // the data file is the work file itself

  // A file the process may not write is refused before anything is written.
  if (!files.MayWrite(target) || before_scan->size == 0) return false;
  CleanFileMemo* memo = services.clean_files;
  if (strategy == RewriteStrategy::kMinimal && memo != nullptr &&
      memo->Holds(*before_scan)) {
    return true;
  }

  // A sealing run digests a file that looks in order (it ends in CR LF, its
  // first block holds no lone CR) on the other core while the rest of it is
  // scanned: such a file is then read only once, side by side.
  std::future<std::optional<std::string>> digest;
  // Not where a Progress may stop the run: the library's MDFile cannot be.
  Progress* const progress = services.progress;
  const bool may_digest = strategy == RewriteStrategy::kMinimal &&
                          memo != nullptr && progress == nullptr &&
                          EndsInCrLf(files, data, before_scan->size);
  auto start_digest = [&] {
    digest = std::async(std::launch::async,
                        [&services, path = files.HandlePath(
                                        data)]() -> std::optional<std::string> {
                          std::string text;
                          if (!services.digest.MDFile(path, text).ok())
                            return std::nullopt;
                          return text;
                        });
  };
  LineEndScanner scanner;
  std::uint64_t length = 0;
  if (strategy == RewriteStrategy::kMinimal) {
    StartStretch(progress, before_scan->size);
    auto scanned = ReadBlocks(files, data, progress, [&](auto block) {
      const bool more = scanner.Feed(block);
      if (more && may_digest && !digest.valid()) start_digest();
      return more;
    });
    if (!scanned.ok()) return false;
    length = *scanned;
    if (length == 0) return false;  // emptied since it was looked at
  }
  const LineEndChange change = strategy == RewriteStrategy::kMinimal
                                   ? scanner.Result()
                                   : LineEndChange::kRewrite;
  switch (change) {
    case LineEndChange::kNone: {
      auto after_scan = files.StatHandle(data);
      std::optional<std::string> digested =
          digest.valid() ? digest.get() : std::nullopt;
      // Written to while it was read: what was read may be no moment of it.
      if (!after_scan.ok() || !SameState(*before_scan, *after_scan)) {
        return false;
      }
      if (memo != nullptr) memo->Remember(*before_scan, std::move(digested));
      return true;
    }
    case LineEndChange::kAppend:
      // Adds the missing end of the last line in place: two bytes at most,
      // so the file is never seen half changed.
      if (memo != nullptr && DigestsInPieces(services)) {
        return AppendDigested(services, data, scanner.Suffix(), length).ok();
      }
      return AppendInPlace(files, data, scanner.Suffix(), length).ok();
    case LineEndChange::kRewrite:
      break;
  }
  // The new content goes to a new file, which then takes the data file's
  // place: the data file's other names would keep the old content.
  if (before_scan->links > 1) {
    return Error(ErrorKind::kOther,
                 "'" + target +
                     "' has further names (hard links), which a rewrite "
                     "would part from it; it is left as it is");
  }
  // A sealing run digests the new bytes on the other core as they are
  // written: the rewritten file is then not read again.
  std::optional<SideDigest> side;
  if (memo != nullptr && services.digest.OffersStreamDigest()) {
    if (auto stream = services.digest.StartStream(); stream.ok()) {
      side.emplace(std::move(*stream));
    }
  }
  StartStretch(progress, before_scan->size);
  Status done = work.Fill(data, side ? &*side : nullptr, progress);
  // Where open files cannot be replaced, their handles keep other runs out
  // as the lock did: a run holding the file makes the replacement fail.
  if (done.ok() && !files.ReplacesOpenFiles()) seal.Release();
  if (done.ok()) done = work.Replace(target, before_scan->id);
  if (!done.ok()) return false;
  // The new file is this run's data file now, still locked; a copy made
  // across volumes is locked anew.
  const FileHandle replaced = work.TakeReplaced();
  auto placed = files.Stat(target);
  auto moved = files.StatHandle(replaced);
  // Where open files cannot be replaced, the work file's handle is let go at
  // once, as other runs may wait on its name, and the file is locked anew.
  if (placed.ok() && moved.ok() && placed->id == moved->id &&
      files.ReplacesOpenFiles()) {
    seal.HandOver(replaced);
  } else {
    (void)files.Close(replaced);
    if (!placed.ok()) return false;
    auto taken = seal.Take(target, placed->id);
    if (!taken.ok() || !*taken) return false;
    seal.AddName(file_name);
  }
  auto now = files.StatHandle(seal.handle());
  if (memo != nullptr && now.ok()) {
    std::optional<std::string> written;
    if (side) {
      auto finished = side->Finish();
      if (finished.ok() && side->size() == now->size) {
        written = std::move(*finished);
      }
    }
    memo->Remember(*now, std::move(written));
  }
  return true;
}

}  // namespace korvik
