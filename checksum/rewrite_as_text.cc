#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <thread>

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
// A write begun on the old data file just before the new one took its place
// lands within this time, and is carried over.
constexpr std::chrono::milliseconds kWritesInFlight{2};
// How long a run waits for another run to take its work file, once open to
// others, into the data file's place.
constexpr std::chrono::milliseconds kLastStepsWait{5'000};

// Room for two blocks, left uninitialized: a small file touches a page of
// it, not megabytes.
std::unique_ptr<char[]> MakeBlockRoom() {
  return std::make_unique_for_overwrite<char[]>(2 * kBlockSize);
}

// Reads the file from `offset` to its end, block by block, through
// `consume`; stops early when `consume` returns false. Counts the bytes in
// `progress` where there is one, and fails where it asks to stop. The blocks
// take turns in the two halves of `room`, so a block stays unchanged until
// `consume` returns from the next. Returns the offset reached.
template <typename Consume>
Expected<std::uint64_t> ReadBlocks(FileSystem& files, FileHandle file,
                                   char* room, Progress* progress,
                                   Consume consume, std::uint64_t offset = 0) {
  for (std::size_t turn = 0;; turn ^= 1) {
    if (progress != nullptr && progress->StopRequested()) {
      return Error(ErrorKind::kOther, "stopped at the user's request");
    }
    const std::span<char> buffer(room + turn * kBlockSize, kBlockSize);
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

Error ChangedMeanwhile() {
  return Error(ErrorKind::kOther,
               "the file was written to while it was rewritten");
}

// Starts a digest of the bytes a sealing run reads or writes, where the
// library can be fed piece by piece: on the other core for a file of
// several blocks. Returns null where it cannot.
std::unique_ptr<SideDigest> StartDigest(const Services& services,
                                        std::uint64_t size) {
  if (!services.digest.OffersStreamDigest()) return nullptr;
  auto stream = services.digest.StartStream();
  if (!stream.ok()) return nullptr;
  return std::make_unique<SideDigest>(std::move(*stream), size > kBlockSize);
}

// Returns the digest of the `size` bytes handed to `digest`, where it took
// them all.
std::optional<std::string> DigestOfAll(SideDigest* digest, std::uint64_t size) {
  if (digest == nullptr) return std::nullopt;
  auto finished = digest->Finish();
  if (!finished.ok() || digest->size() != size) return std::nullopt;
  return std::move(*finished);
}

bool RefusesNewFiles(const Error& error) {
  return error.kind() == ErrorKind::kAccessDenied ||
         error.kind() == ErrorKind::kReadOnly;
}

// The rewrite's work file "~~~~MD5.TMP", made afresh by this run, owner
// only, and held open and locked for the whole rewrite: runs sharing a
// directory take turns on it. Nothing found under that name is ever written:
// a leftover of this user's is removed once no run holds it; anything else
// there (another user's file, which that user could lock for ever, a hard
// link, a link, a directory) is removed at once. The file is removed on
// every path unless it took the data file's place.
class WorkFile {
 public:
  explicit WorkFile(FileSystem& files) : files_(files) {}
  WorkFile(const WorkFile&) = delete;
  WorkFile& operator=(const WorkFile&) = delete;
  ~WorkFile() {
    if (handle_ == kNoFile) return;
    if (!replaced_ && !LeadsElsewhere()) (void)files_.Remove(path_);
    (void)files_.Close(handle_);
  }

  // Waits for the work file at `path`. Returns false where `path` is the
  // data file itself, an error where a leftover cannot be removed.
  Expected<bool> Acquire(const std::string& path, const FileId& data);

  // Writes the data file's rewritten form into the work file, complete and
  // flushed, bytes appended meanwhile included; hands every block written
  // to `digest` where there is one; counts the bytes read in `progress`.
  Status Fill(FileHandle data, SideDigest* digest, Progress* progress);

  // Puts the work file in the place of the data file `target`, the file
  // `expected`; where the data file is still held open as `data`, what was
  // appended to it meanwhile goes along, digested by `digest`.
  Status Replace(const std::string& target, const FileId& expected,
                 FileHandle data, SideDigest* digest);

  // Gives up the handle of the work file that took the data file's place,
  // still locked.
  FileHandle TakeReplaced() { return std::exchange(handle_, kNoFile); }

 private:
  // Carries bytes appended to the old data file after it was read, by a
  // writer that opened it before the work file took its place, over to the
  // work file's end; answers whether there were any. Fails, with no byte
  // lost, where the old file was changed otherwise or the new one was
  // written to first.
  Expected<bool> CarryOver(FileHandle data, SideDigest* digest);
  // Clears the name of what stands under it: waits for the run that works
  // in a file of this user's; removes one no run holds, and anything that
  // is no file of this user's alone at once.
  Status ClearTaken();
  // Removes what stands under the name instead of a usable work file.
  Status RemoveLeftover();
  // Determines whether the name still leads to the file held.
  bool StillNamed();
  // Determines whether the name is known to lead to another file by now
  // (another run's, which took this one for a leftover).
  bool LeadsElsewhere();

  FileSystem& files_;
  std::string path_;
  FileHandle handle_ = kNoFile;
  bool replaced_ = false;
  // The data file as the rewrite last read it to its end, and the bytes
  // written for it.
  EntryInfo read_;
  std::uint64_t written_ = 0;
  bool looked_ = false;  // CarryOver ran before
};

Expected<bool> WorkFile::Acquire(const std::string& path, const FileId& data) {
  path_ = path;
  for (int attempt = 0; attempt < kWorkFileAttempts; ++attempt) {
    auto named = files_.Stat(path_);
    if (!named.ok()) return named.error();
    if (named->kind == EntryKind::kRegular && named->id == data) return false;
    auto created = files_.Open(path_, OpenMode::kCreateNew);
    if (!created.ok()) {
      if (created.error().kind() != ErrorKind::kAlreadyExists) {
        return created.error();  // the directory may take no new files
      }
      if (Status cleared = ClearTaken(); !cleared.ok()) return cleared;
      continue;
    }
    handle_ = *created;
    (void)files_.Lock(handle_);  // where there are no locks, unguarded
    if (StillNamed()) return true;
    // Another run took it for a leftover before our lock and removed it.
    (void)files_.Close(handle_);
    handle_ = kNoFile;
  }
  return Error(ErrorKind::kOther, "'" + path_ + "' keeps changing");
}

Status WorkFile::ClearTaken() {
  auto opened = files_.Open(path_, OpenMode::kInspect);
  if (!opened.ok()) {
    if (opened.error().kind() == ErrorKind::kNotFound) return Status::Ok();
    return RemoveLeftover();  // a link, a directory, a FIFO, unreadable
  }
  ScopedFile taken(files_, *opened);
  auto held = files_.StatHandle(taken.get());
  if (!held.ok()) return held.status();
  // Another user's file, or one with further names, may be anybody's to
  // read or to lock for ever: never written, never waited on.
  if (held->foreign_owner || held->links > 1) return RemoveLeftover();
  if (held->open_to_others) {
    // A run's work file is open to others only in the run's last steps,
    // once it has the data file's attributes; anybody may hold such a file.
    auto locked = LockWithin(files_, taken.get(), kLastStepsWait);
    if (!locked.ok() || !*locked) return RemoveLeftover();
  } else {
    (void)files_.Lock(taken.get());  // the run working in it ends
  }
  // Still there once no run holds it: a leftover.
  auto now = files_.Stat(path_);
  if (now.ok() && now->kind == EntryKind::kRegular && now->id == held->id) {
    return RemoveLeftover();
  }
  return Status::Ok();
}

Status WorkFile::RemoveLeftover() {
  Status removed = files_.Remove(path_);
  if (!removed.ok() && removed.error().kind() != ErrorKind::kNotFound) {
    return removed;
  }
  return Status::Ok();
}

bool WorkFile::LeadsElsewhere() {
  auto held = files_.StatHandle(handle_);
  auto now = files_.Stat(path_);
  return held.ok() && now.ok() &&
         (now->kind != EntryKind::kRegular || now->id != held->id);
}

bool WorkFile::StillNamed() {
  auto held = files_.StatHandle(handle_);
  auto now = files_.Stat(path_);
  return held.ok() && now.ok() && now->kind == EntryKind::kRegular &&
         now->id == held->id;
}

Status WorkFile::Fill(FileHandle data, SideDigest* digest, Progress* progress) {
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
  auto convert = [&](std::span<const char> block) {
    std::string& output = next_output();
    writer.Convert(block, output);
    return emit(output);
  };
  const auto room = MakeBlockRoom();
  // Read to the end as it is once the end is reached: bytes appended while
  // the file was read are rewritten too.
  std::uint64_t read = 0;
  for (;;) {
    auto reached =
        ReadBlocks(files_, data, room.get(), progress, convert, read);
    if (!reached.ok()) return reached.status();
    if (!written.ok()) return written;
    auto now = files_.StatHandle(data);
    if (!now.ok()) return now.status();
    if (now->size < *reached) return ChangedMeanwhile();
    read = *reached;
    if (now->size == read) {
      read_ = *now;
      break;
    }
  }
  std::string& output = next_output();
  writer.Finish(output);
  emit(output);
  written_ = offset;
  return written;
}

Expected<bool> WorkFile::CarryOver(FileHandle data, SideDigest* digest) {
  // The second look, once the new file is in place.
  if (looked_) std::this_thread::sleep_for(kWritesInFlight);
  looked_ = true;
  bool carried = false;
  for (;;) {
    auto old = files_.StatHandle(data);
    if (!old.ok()) return old.error();
    if (old->size == read_.size && old->modified_ns == read_.modified_ns) break;
    if (old->size <= read_.size) return ChangedMeanwhile();
    auto now = files_.StatHandle(handle_);
    if (!now.ok()) return now.error();
    // The new bytes go after the last ones read, or after any that reached
    // the new file first: kept either way, in order only in the first.
    const bool in_order = now->size == written_;
    LineEndWriter writer;
    std::string output;
    const auto room = MakeBlockRoom();
    auto reached = ReadBlocks(
        files_, data, room.get(), nullptr,
        [&](std::span<const char> block) {
          writer.Convert(block, output);
          return true;
        },
        read_.size);
    if (!reached.ok()) return reached.error();
    writer.Finish(output);
    if (Status added = files_.WriteAtEnd(handle_, output); !added.ok()) {
      return added.error();
    }
    carried = true;
    if (!in_order) return ChangedMeanwhile();
    if (digest != nullptr) digest->Add(output);
    written_ += output.size();
    auto after = files_.StatHandle(data);
    if (!after.ok()) return after.error();
    read_ = *after;
    read_.size = *reached;
  }
  return carried;
}

Status WorkFile::Replace(const std::string& target, const FileId& expected,
                         FileHandle data, SideDigest* digest) {
  Settle carry_over;
  if (data != kNoFile) {
    carry_over = [this, data, digest] { return CarryOver(data, digest); };
  }
  if (Status moved =
          files_.Replace(handle_, path_, target, expected, carry_over);
      !moved.ok()) {
    return moved;
  }
  replaced_ = true;
  return Status::Ok();
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
  CleanFileMemo* memo = services.clean_files;
  // What this run found in order, unchanged since, needs no work file.
  if (strategy == RewriteStrategy::kMinimal && memo != nullptr &&
      memo->Holds(*before_scan)) {
    return true;
  }
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

  // A sealing run digests the blocks of the held file as the scan reads
  // them, once they look in order, on the other core: a file that needs no
  // rewrite is then read only once. The blocks outlive their digest.
  const auto room = MakeBlockRoom();
  std::unique_ptr<SideDigest> digest;
  bool may_digest = strategy == RewriteStrategy::kMinimal && memo != nullptr;
  LineEndScanner scanner;
  std::uint64_t length = 0;
  Progress* const progress = services.progress;
  if (strategy == RewriteStrategy::kMinimal) {
    StartStretch(progress, before_scan->size);
    auto scanned = ReadBlocks(
        files, data, room.get(), progress, [&](std::span<const char> block) {
          if (!scanner.Feed(block)) return false;
          if (may_digest) {
            digest = StartDigest(services, before_scan->size);
            may_digest = false;
          }
          if (digest) digest->Add(block);
          return true;
        });
    if (!scanned.ok()) return false;
    length = *scanned;
    if (length == 0) return false;  // emptied since it was looked at
  }
  const LineEndChange change = strategy == RewriteStrategy::kMinimal
                                   ? scanner.Result()
                                   : LineEndChange::kRewrite;
  if (change != LineEndChange::kRewrite) {
    // Written to while it was read: what was read may be no moment of it.
    auto after_scan = files.StatHandle(data);
    const bool read_whole =
        after_scan.ok() && SameState(*before_scan, *after_scan);
    if (change == LineEndChange::kNone) {
      if (!read_whole) return false;
      if (memo != nullptr) {
        memo->Remember(*before_scan, DigestOfAll(digest.get(), length));
      }
      return true;
    }
    // Adds the missing end of the last line in place: two bytes at most,
    // so the file is never seen half changed.
    const std::string_view suffix = scanner.Suffix();
    // Where the scan gave no digest and a Progress may stop the digest that
    // follows, the file is digested first: a stop leaves it as it was.
    if (progress != nullptr && memo != nullptr && !(read_whole && digest) &&
        DigestsInPieces(services)) {
      return AppendDigested(services, data, suffix, length).ok();
    }
    if (!AppendInPlace(files, data, suffix, length).ok()) return false;
    // The file is what was read and the end written right after it at its
    // scanned length, unless another writer added bytes meanwhile.
    auto now = files.StatHandle(data);
    if (memo != nullptr && read_whole && now.ok() &&
        now->size == length + suffix.size()) {
      if (digest) digest->Add(suffix);
      memo->Remember(*now, DigestOfAll(digest.get(), now->size));
    }
    return true;
  }
  digest.reset();
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
  std::unique_ptr<SideDigest> side;
  if (memo != nullptr) side = StartDigest(services, before_scan->size);
  StartStretch(progress, before_scan->size);
  Status done = work.Fill(data, side.get(), progress);
  // Where open files cannot be replaced, their handles keep other runs out
  // as the lock did: a run holding the file makes the replacement fail.
  if (done.ok() && !files.ReplacesOpenFiles()) seal.Release();
  if (done.ok()) {
    done = work.Replace(target, before_scan->id,
                        files.ReplacesOpenFiles() ? data : kNoFile,
                        side ? &*side : nullptr);
  }
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
    memo->Remember(*now, DigestOfAll(side.get(), now->size));
  }
  return true;
}

}  // namespace korvik
