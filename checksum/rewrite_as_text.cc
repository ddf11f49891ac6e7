#include "checksum/append_in_place.h"
#include "checksum/block_reader.h"
#include "checksum/entries.h"
#include "checksum/line_ends.h"
#include "checksum/operations.h"
#include "checksum/rewrite.h"
#include "checksum/rewrite_work_file.h"

namespace korvik {
namespace {

// Another seal may put a new file in the data file's place while this one
// waits for its lock; past this many such turns something else is at play.
constexpr int kDataFileAttempts = 100;

bool RefusesNewFiles(const Error& error) {
  return error.kind() == ErrorKind::kAccessDenied ||
         error.kind() == ErrorKind::kReadOnly;
}

// The refusal to rewrite `path`, because of `why`.
Rewritten Refusal(const std::string& path, const std::string& why) {
  return Rewritten::Refused(
      Error(ErrorKind::kOther, "'" + path + "' is not rewritten: " + why));
}
Rewritten Refusal(const std::string& path, const Error& cause) {
  return Rewritten::Refused(Error(
      cause.kind(), "'" + path + "' is not rewritten: " + cause.description(),
      cause.native_code()));
}

// One rewrite: the line rule applied to the held data file, its bytes
// handed to the digest the route makes alongside.
class Rewrite {
 public:
  Rewrite(const Services& services, const DigestRoute& route, SealLock& lock,
          CleanFileMemo& memo)
      : services_(services),
        files_(services.files),
        route_(route),
        lock_(lock),
        memo_(memo) {}

  Expected<Rewritten> Run(const std::string& file_name,
                          RewriteStrategy strategy);

 private:
  // Opens and locks the data file that the existence test saw under `name`:
  // the file at its real path, never a link put there since. Links on the
  // way are followed only where they belong to this user or the
  // administrator.
  Expected<Rewritten> HoldDataFile(const std::string& name);
  // Scans the held file by the line rules, its blocks handed to the digest
  // alongside once they look in order, then does what the scan found
  // needed: nothing, the last line end, or a new file.
  Expected<Rewritten> ScanThenFinish(RewriteWorkFile& work,
                                     const std::string& file_name);
  // Takes the work file in the current directory; where that takes no new
  // files (a read-only program directory, say), beside the data file.
  Expected<Rewritten> AcquireWorkFile(RewriteWorkFile& work);
  // Adds the missing end of the last line, `suffix`, in place after the
  // `length` bytes scanned: two bytes at most, so the file is never seen
  // half changed. `digest` took the bytes scanned, all of them where
  // `read_whole`.
  Rewritten AddLineEnd(std::string_view suffix, std::uint64_t length,
                       bool read_whole, DigestSink& digest);
  // Digests the file as it will be with `suffix` added, then adds it: where
  // a Progress may stop the work, the file is changed only once its digest
  // is known.
  Rewritten AddLineEndDigested(std::string_view suffix, std::uint64_t length);
  // Writes the new content to the work file, which then takes the data
  // file's place: the data file's other names would keep the old content.
  Expected<Rewritten> WriteAnew(RewriteWorkFile& work,
                                const std::string& file_name);

  const Services& services_;
  FileSystem& files_;
  const DigestRoute& route_;
  SealLock& lock_;
  CleanFileMemo& memo_;
  std::string target_;  // the data file's real path
  EntryInfo before_;    // the held file before the scan
};

Expected<Rewritten> Rewrite::Run(const std::string& file_name,
                                 RewriteStrategy strategy) {
  auto held = HoldDataFile(file_name);
  if (!held.ok() || !held->done()) return held;
  const FileHandle data = lock_.handle();

  // The state before the scan: any write during it makes the memo miss.
  auto before_scan = files_.StatHandle(data);
  if (!before_scan.ok()) return Refusal(target_, before_scan.error());
  before_ = *before_scan;
  // What this run found in order, unchanged since, needs no work file.
  if (strategy == RewriteStrategy::kMinimal && memo_.Holds(before_)) {
    return Rewritten::Done();
  }
  RewriteWorkFile work(files_);
  auto acquired = AcquireWorkFile(work);
  if (!acquired.ok() || !acquired->done()) return acquired;

  // A file the process may not write is refused before anything is written.
  if (!files_.MayWrite(target_)) {
    return Refusal(target_, "the program may not write it");
  }
  if (before_.size == 0) return Refusal(target_, "it is empty");
  if (strategy == RewriteStrategy::kAlwaysWhole) {
    return WriteAnew(work, file_name);
  }
  return ScanThenFinish(work, file_name);
}

Expected<Rewritten> Rewrite::ScanThenFinish(RewriteWorkFile& work,
                                            const std::string& file_name) {
  const FileHandle data = lock_.handle();
  // The scan hands the blocks to the digest alongside once they look in
  // order: a file that needs no rewrite is then read only once. The blocks
  // outlive their digest.
  Progress& progress = route_.progress();
  BlockReader reader(files_, progress, kRewriteBlock);
  DigestSink digest;
  bool digest_started = false;
  LineEndScanner scanner;
  progress.Start(before_.size);
  auto scanned = reader.Read(data, [&](std::span<const char> block) {
    if (!scanner.Feed(block)) return false;
    if (!digest_started) {
      digest = route_.StartAlongside(before_.size);
      digest_started = true;
    }
    digest.Add(block);
    return true;
  });
  if (!scanned.ok()) return Refusal(target_, scanned.error());
  const std::uint64_t length = *scanned;
  if (length == 0) return Refusal(target_, "it was emptied meanwhile");
  const LineEndChange change = scanner.Result();
  if (change == LineEndChange::kRewrite) {
    digest = DigestSink();
    return WriteAnew(work, file_name);
  }
  // Written to while it was read: what was read may be no moment of it.
  auto after_scan = files_.StatHandle(data);
  const bool read_whole = after_scan.ok() && SameState(before_, *after_scan);
  if (change == LineEndChange::kAppend) {
    return AddLineEnd(scanner.Suffix(), length, read_whole, digest);
  }
  if (!read_whole) return Refusal(target_, "it was written to while read");
  memo_.Remember(before_, digest.DigestOfAll(length));
  return Rewritten::Done();
}

Expected<Rewritten> Rewrite::HoldDataFile(const std::string& name) {
  for (int attempt = 0; attempt < kDataFileAttempts; ++attempt) {
    auto ordinary = IsOrdinaryFile(files_, name);
    if (!ordinary.ok()) return Refusal(name, ordinary.error());
    if (!*ordinary) return Refusal(name, "it names no ordinary file");
    // The file the walk through trusted links found is the one held: any
    // link put in place since leads to another file, which is refused.
    auto info = files_.StatTrusted(name);
    if (!info.ok()) return info.error();
    if (!*info) return UntrustedLinkError(name);
    if ((*info)->kind != EntryKind::kRegular) {
      return Refusal(name, "it is no regular file by now");
    }
    // A data file named through links is rewritten where they lead.
    auto real = files_.RealPath(name);
    if (!real.ok()) return Refusal(name, real.error());
    target_ = *real;
    if (!lock_.Holds((*info)->id)) {
      auto taken = lock_.Take(target_, (*info)->id);
      if (!taken.ok()) {
        // Where the file cannot be opened for writing, it is not rewritten.
        if (taken.error().kind() == ErrorKind::kOther) return taken.error();
        return Refusal(target_, taken.error());
      }
      if (!*taken) continue;
    }
    lock_.AddName(name);
    return Rewritten::Done();
  }
  return Error(ErrorKind::kOther, "'" + name + "' keeps changing");
}

Expected<Rewritten> Rewrite::AcquireWorkFile(RewriteWorkFile& work) {
  const PathSyntax& paths = services_.paths;
  auto current = services_.process.CurrentDirectory();
  Expected<bool> acquired =
      current.ok()
          ? work.Acquire(paths.Join(*current, kRewriteWorkFileName), before_.id)
          : Expected<bool>(current.error());
  if (!acquired.ok() && RefusesNewFiles(acquired.error())) {
    acquired = work.Acquire(
        paths.Join(paths.DirectoryOf(target_), kRewriteWorkFileName),
        before_.id);
  }
  if (!acquired.ok()) {
    if (RefusesNewFiles(acquired.error())) {
      return Refusal(target_, acquired.error());
    }
    return acquired.error();
  }
  if (!*acquired) return Refusal(target_, "it is the work file itself");
  return Rewritten::Done();
}

Rewritten Rewrite::AddLineEnd(std::string_view suffix, std::uint64_t length,
                              bool read_whole, DigestSink& digest) {
  // Where the scan gave no digest and a Progress may stop the digest that
  // follows, the file is digested first: a stop leaves it as it was.
  if (route_.kind() == DigestRoute::Kind::kInPieces &&
      !(read_whole && digest)) {
    return AddLineEndDigested(suffix, length);
  }
  const FileHandle data = lock_.handle();
  if (Status added = AppendInPlace(files_, data, suffix, length); !added.ok()) {
    return Refusal(target_, added.error());
  }
  // The file is what was read and the end written right after it at its
  // scanned length, unless another writer added bytes meanwhile.
  auto now = files_.StatHandle(data);
  if (read_whole && now.ok() && now->size == length + suffix.size()) {
    digest.Add(suffix);
    memo_.Remember(*now, digest.DigestOfAll(now->size));
  }
  return Rewritten::Done();
}

Rewritten Rewrite::AddLineEndDigested(std::string_view suffix,
                                      std::uint64_t length) {
  const FileHandle data = lock_.handle();
  auto digest = route_.DigestInPieces(files_, data, length, suffix);
  if (!digest.ok()) return Refusal(target_, digest.error());
  if (Status added = AppendInPlace(files_, data, suffix, length); !added.ok()) {
    return Refusal(target_, added.error());
  }
  auto now = files_.StatHandle(data);
  if (now.ok()) memo_.Remember(*now, std::move(*digest));
  return Rewritten::Done();
}

Expected<Rewritten> Rewrite::WriteAnew(RewriteWorkFile& work,
                                       const std::string& file_name) {
  if (before_.links > 1) {
    return Error(ErrorKind::kOther,
                 "'" + target_ +
                     "' has further names (hard links), which a rewrite "
                     "would part from it; it is left as it is");
  }
  const FileHandle data = lock_.handle();
  // The new bytes are digested alongside as they are written: the rewritten
  // file is then not read again.
  DigestSink digest = route_.StartAlongside(before_.size);
  route_.progress().Start(before_.size);
  Status done = work.Fill(data, digest, route_.progress());
  // Where open files cannot be replaced, their handles keep other runs out
  // as the lock did: a run holding the file makes the replacement fail.
  const bool replaces_open = files_.ReplacesOpenFiles();
  if (done.ok() && !replaces_open) lock_.Release();
  if (done.ok()) {
    done = work.Replace(target_, before_.id, replaces_open ? data : kNoFile,
                        digest);
  }
  if (!done.ok()) return Refusal(target_, done.error());
  // The new file is this run's data file now, still locked; a copy made
  // across volumes is locked anew.
  const FileHandle replaced = work.TakeReplaced();
  auto placed = files_.Stat(target_);
  auto moved = files_.StatHandle(replaced);
  // Where open files cannot be replaced, the work file's handle is let go at
  // once, as other runs may wait on its name, and the file is locked anew.
  if (placed.ok() && moved.ok() && placed->id == moved->id && replaces_open) {
    lock_.HandOver(replaced);
  } else {
    (void)files_.Close(replaced);
    if (!placed.ok()) return Refusal(target_, placed.error());
    auto taken = lock_.Take(target_, placed->id);
    if (!taken.ok()) return Refusal(target_, taken.error());
    if (!*taken) return Refusal(target_, "it was replaced meanwhile");
    lock_.AddName(file_name);
  }
  auto now = files_.StatHandle(lock_.handle());
  if (now.ok()) memo_.Remember(*now, digest.DigestOfAll(now->size));
  return Rewritten::Done();
}

}  // namespace

Expected<Rewritten> RewriteHeldFile(const Services& services,
                                    const DigestRoute& route, SealLock& lock,
                                    CleanFileMemo& memo,
                                    const std::string& file_name,
                                    RewriteStrategy strategy) {
  return Rewrite(services, route, lock, memo).Run(file_name, strategy);
}

Expected<bool> RewriteAsText(const Services& services,
                             const std::string& file_name,
                             RewriteStrategy strategy) {
  SealLock lock(services.files);
  CleanFileMemo memo;
  auto rewritten =
      RewriteHeldFile(services, DigestRoute::InPlace(services.digest), lock,
                      memo, file_name, strategy);
  if (!rewritten.ok()) return rewritten.error();
  return rewritten->done();
}

}  // namespace korvik
