#include "checksum/rewrite_work_file.h"

#include <chrono>
#include <thread>

#include "checksum/block_reader.h"
#include "checksum/line_ends.h"
#include "checksum/seal_lock.h"

namespace korvik {
namespace {

// Another run may remove the work file between our open and our lock; past
// this many such turns something else is at play.
constexpr int kWorkFileAttempts = 100;
// How long the second look waits for writers that opened the old data file
// before the new one took its place to let it go; what they wrote is
// carried over.
constexpr std::chrono::milliseconds kWritersWait{500};
// How many times the first look waits for writers to let go of the old file
// while they keep adding to it; past that, its last line is ended as read.
constexpr int kWritersWaits = 100;
// Where the system cannot tell who holds the old file, a write begun on it
// just before the new one took its place lands within this time.
constexpr std::chrono::milliseconds kWritesInFlight{2};
// How long a run waits for another run to take its work file, once open to
// others, into the data file's place.
constexpr std::chrono::milliseconds kLastStepsWait{5'000};

}  // namespace

Error ChangedMeanwhile() {
  return Error(ErrorKind::kOther,
               "the file was written to while it was rewritten");
}

RewriteWorkFile::~RewriteWorkFile() {
  if (handle_ == kNoFile) return;
  if (!replaced_ && !LeadsElsewhere()) (void)files_.Remove(path_);
  (void)files_.Close(handle_);
}

Expected<bool> RewriteWorkFile::Acquire(const std::string& path,
                                        const FileId& data) {
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

Status RewriteWorkFile::ClearTaken() {
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

Status RewriteWorkFile::RemoveLeftover() {
  Status removed = files_.Remove(path_);
  if (!removed.ok() && removed.error().kind() != ErrorKind::kNotFound) {
    return removed;
  }
  return Status::Ok();
}

bool RewriteWorkFile::LeadsElsewhere() {
  auto held = files_.StatHandle(handle_);
  auto now = files_.Stat(path_);
  return held.ok() && now.ok() &&
         (now->kind != EntryKind::kRegular || now->id != held->id);
}

bool RewriteWorkFile::StillNamed() {
  auto held = files_.StatHandle(handle_);
  auto now = files_.Stat(path_);
  return held.ok() && now.ok() && now->kind == EntryKind::kRegular &&
         now->id == held->id;
}

Status RewriteWorkFile::Fill(FileHandle data, DigestSink& digest,
                             Progress& progress) {
  // Two by turns: the other core digests one while the next is made.
  std::string outputs[2];
  for (std::string& output : outputs) output.reserve(2 * kRewriteBlock + 2);
  // The last block handed over is digested before its buffer goes.
  struct WaitForDigest {
    DigestSink& digest;
    ~WaitForDigest() { digest.Wait(); }
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
    digest.Add(output);
    written = files_.WriteAt(handle_, output, offset);
    // The device takes the blocks while the rest is made, so the flush at
    // the end has little left to wait for.
    if (written.ok()) files_.StartSync(handle_, offset, output.size());
    offset += output.size();
    return written.ok();
  };
  BlockReader reader(files_, progress, kRewriteBlock);
  const BlockReader::Consume convert = [&](std::span<const char> block) {
    std::string& output = next_output();
    lines_.Convert(block, output);
    return emit(output);
  };
  // Read to the end as it is once the end is reached: bytes appended while
  // the file was read are rewritten too.
  std::uint64_t read = 0;
  for (;;) {
    auto reached = reader.Read(data, convert, read);
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
  // The last line's end is added once no writer can be part-way through
  // that line (FinishLines).
  written_ = offset;
  return written;
}

Status RewriteWorkFile::FinishLines(DigestSink& digest) {
  std::string output;
  lines_.Finish(output);
  if (output.empty()) return Status::Ok();
  auto now = files_.StatHandle(handle_);
  if (!now.ok()) return now.status();
  if (now->size != written_) return ChangedMeanwhile();
  if (Status added = files_.WriteAtEnd(handle_, output); !added.ok()) {
    return added;
  }
  digest.Add(output);
  digest.Wait();  // `output` goes with this call
  written_ += output.size();
  return Status::Ok();
}

Expected<bool> RewriteWorkFile::CarryOver(FileHandle data, DigestSink& digest) {
  // The second look, once the new file is in place.
  const bool last = looked_;
  if (last && !files_.AwaitSoleHandle(data, kWritersWait)) {
    std::this_thread::sleep_for(kWritesInFlight);
  }
  looked_ = true;
  bool carried = false;
  bool may_wait = !last;
  int waits = 0;
  // The old file as the rewrite last read it to its end.
  auto as_read = [this](const EntryInfo& old) {
    return old.size == read_.size && old.modified_ns == read_.modified_ns;
  };
  for (;;) {
    auto old = files_.StatHandle(data);
    if (!old.ok()) return old.error();
    if (as_read(*old)) {
      // A read may end inside a write still under way, and so inside a line,
      // which must not be ended there: before the new file takes the data
      // file's place, the end is added once the writers have let go of the
      // old file (where the system tells) and it has not grown meanwhile.
      if (may_wait) {
        may_wait = files_.AwaitSoleHandle(data, kWritersWait) &&
                   ++waits < kWritersWaits;
        auto settled = files_.StatHandle(data);
        if (!settled.ok()) return settled.error();
        if (!as_read(*settled)) continue;
      }
      const std::uint64_t before = written_;
      if (Status ended = FinishLines(digest); !ended.ok()) return ended.error();
      carried = carried || written_ != before;
      break;
    }
    if (old->size <= read_.size) return ChangedMeanwhile();
    auto now = files_.StatHandle(handle_);
    if (!now.ok()) return now.error();
    // The new bytes go after the last ones read, or after any that reached
    // the new file first: kept either way, in order only in the first.
    const bool in_order = now->size == written_;
    std::string output;
    SilentProgress unwatched;  // a step too short to stop
    BlockReader reader(files_, unwatched, kRewriteBlock);
    auto reached = reader.Read(
        data,
        [&](std::span<const char> block) {
          lines_.Convert(block, output);
          return true;
        },
        read_.size);
    if (!reached.ok()) return reached.error();
    if (Status added = files_.WriteAtEnd(handle_, output); !added.ok()) {
      return added.error();
    }
    carried = true;
    if (!in_order) return ChangedMeanwhile();
    digest.Add(output);
    digest.Wait();  // `output` goes with this turn
    written_ += output.size();
    auto after = files_.StatHandle(data);
    if (!after.ok()) return after.error();
    read_ = *after;
    read_.size = *reached;
  }
  return carried;
}

Status RewriteWorkFile::Replace(const std::string& target,
                                const FileId& expected, FileHandle data,
                                DigestSink& digest) {
  Settle carry_over;
  if (data != kNoFile) {
    carry_over = [this, data, &digest] { return CarryOver(data, digest); };
  } else if (Status ended = FinishLines(digest); !ended.ok()) {
    return ended;  // nobody writes to a file held this way
  }
  if (Status moved =
          files_.Replace(handle_, path_, target, expected, carry_over);
      !moved.ok()) {
    return moved;
  }
  replaced_ = true;
  return Status::Ok();
}

}  // namespace korvik
