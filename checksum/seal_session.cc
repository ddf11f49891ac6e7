#include "checksum/seal_session.h"

#include <optional>

#include "checksum/append_in_place.h"
#include "checksum/entries.h"

namespace korvik {
namespace {

// Appends `hash` to the file `file_name` leads to, created where missing:
// never through another user's link.
Status AppendToNamedFile(FileSystem& files, const std::string& file_name,
                         const std::string& hash) {
  if (Status trusted = RequireTrustedLinks(files, file_name); !trusted.ok()) {
    return trusted;
  }
  auto opened = files.Open(file_name, OpenMode::kCreate);
  if (!opened.ok()) return opened.status();
  ScopedFile file(files, *opened);
  auto info = files.StatHandle(file.get());
  if (!info.ok()) return info.status();
  if (Status written = AppendInPlace(files, file.get(), hash, info->size);
      !written.ok()) {
    return written;
  }
  return file.Close();
}

}  // namespace

SealSession::SealSession(const Services& services, SealOptions options)
    : services_(services),
      route_(DigestRoute::ForSeal(services.digest, options.watcher)),
      hold_(options.hold),
      lock_(services.files, options.lock_wait) {}

Expected<Rewritten> SealSession::Rewrite(const std::string& file_name,
                                         RewriteStrategy strategy) {
  auto rewritten =
      RewriteHeldFile(services_, route_, lock_, memo_, file_name, strategy);
  if (hold_ == SealHold::kForTheRewrite) {
    lock_.Release();
    services_.files.EndTrustedWalk();
  }
  return rewritten;
}

Expected<std::string> SealSession::Digest(const std::string& file_name) {
  FileSystem& files = services_.files;
  // The held file's state, noted for its trailer.
  auto before = lock_.HeldState(file_name);
  if (!before.ok()) return before.error();
  // The held file as it is now, or else what the name leads to.
  auto info = *before ? Expected<EntryInfo>(**before) : files.Stat(file_name);
  std::optional<std::string> digest;
  if (info.ok()) digest = memo_.DigestOf(*info);
  if (!digest) {
    auto read = ReadDigest(file_name);
    if (!read.ok()) return read.error();
    digest = std::move(*read);
  }
  if (*before) {
    auto after = lock_.HeldState(file_name);
    if (!after.ok()) return after.error();
    if (!*after || !SameState(**before, **after)) {
      return Error(ErrorKind::kOther,
                   "'" + file_name + "' changed while it was read");
    }
    lock_.NoteDigested(**after);
  }
  return std::move(*digest);
}

Expected<std::string> SealSession::ReadDigest(const std::string& file_name) {
  FileSystem& files = services_.files;
  if (route_.kind() == DigestRoute::Kind::kInPieces) {
    std::optional<ScopedFile> opened;
    FileHandle file = lock_.handle();
    if (!lock_.holding()) {
      auto named = files.Open(file_name, OpenMode::kRead);
      if (!named.ok()) return named.error();
      file = opened.emplace(files, *named).get();
    }
    auto info = files.StatHandle(file);
    if (!info.ok()) return info.error();
    return route_.DigestInPieces(files, file, info->size);
  }
  std::string digest(kDigestLength, ' ');
  // The file the session holds, not what the name leads to.
  if (Status digested = services_.digest.MDFile(
          lock_.holding() ? files.HandlePath(lock_.handle()) : file_name,
          digest);
      !digested.ok()) {
    return digested.error();
  }
  return digest;
}

Status SealSession::AppendTrailer(const std::string& file_name,
                                  const std::string& hash) {
  if (lock_.holding()) {
    auto held = lock_.HeldState(file_name);
    if (!held.ok()) return held.status();
    if (*held) {
      const auto& digested = lock_.digested();
      if (digested && !SameState(*digested, **held)) {
        return Error(ErrorKind::kOther,
                     "'" + file_name + "' changed after its hash was computed");
      }
      return AppendInPlace(services_.files, lock_.handle(), hash,
                           (*held)->size);
    }
    // The name the seal checked leads to another file by now: swapped.
    if (lock_.Named(file_name)) {
      return Error(ErrorKind::kOther,
                   "'" + file_name + "' leads to another file by now");
    }
  }
  // Another file, by a name of its own.
  return AppendToNamedFile(services_.files, file_name, hash);
}

void SealSession::End() {
  // Every handle and lock the seal took goes with the lock; the folders the
  // walk held (on Windows none of them can be renamed meanwhile) go too.
  lock_.Release();
  services_.files.EndTrustedWalk();
  memo_ = CleanFileMemo();
}

}  // namespace korvik
