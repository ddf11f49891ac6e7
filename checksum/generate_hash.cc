#include "checksum/clean_file_memo.h"
#include "checksum/digest_in_pieces.h"
#include "checksum/digest_library.h"
#include "checksum/entries.h"
#include "checksum/operations.h"
#include "checksum/seal_lock.h"

namespace korvik {
namespace {

constexpr char kLibraryMissing[] =
    " Unexpected Error :  Checksum Library file korvik.DLL is missing.";
constexpr char kRewriteFailed[] = "Error occured while trying to open file : ";
constexpr char kFailure[] = "Error Generating Hash : ";

// Digests the file the seal holds, or else the named one, a block at a time.
Status DigestWholeInPieces(const Services& services,
                           const std::string& file_name, std::string& hash) {
  std::optional<ScopedFile> opened;
  FileHandle file = kNoFile;
  if (services.seal != nullptr && services.seal->holding()) {
    file = services.seal->handle();
  } else {
    auto named = services.files.Open(file_name, OpenMode::kRead);
    if (!named.ok()) return named.status();
    file = opened.emplace(services.files, *named).get();
  }
  auto info = services.files.StatHandle(file);
  if (!info.ok()) return info.status();
  return DigestInPieces(services, file, info->size, hash);
}

}  // namespace

bool GenerateHash(const Services& services, std::string& file_name,
                  std::string& hash, std::string& message) {
  auto fail = [&](std::string text) {
    message = std::move(text);
    hash.clear();
    return false;
  };
  auto failure = [&](const Error& error) {
    return fail(std::string(kFailure) + std::string(kCrLf) +
                error.description());
  };

  file_name = NormalizePath(services, file_name);
  if (file_name.empty()) return fail(kInvalidFileName);
  auto ordinary = IsOrdinaryFile(services.files, TrimBlanks(file_name));
  if (!ordinary.ok()) return failure(ordinary.error());
  if (!*ordinary) return fail(kInvalidFileName);

  auto present = DigestLibraryPresent(services);
  if (!present.ok()) return failure(present.error());
  if (!*present) return fail(kLibraryMissing);

  auto rewritten = RewriteAsText(services, file_name);
  if (!rewritten.ok()) return failure(rewritten.error());
  if (!*rewritten) {
    message = std::string(kRewriteFailed) + file_name;
    return false;
  }

  // A seal notes the state of the file it digested, for its trailer.
  SealLock* seal = services.seal;
  std::optional<EntryInfo> before;
  if (seal != nullptr) {
    auto held = seal->HeldState(file_name);
    if (!held.ok()) return failure(held.error());
    before = *held;
  }
  hash.assign(kDigestLength, ' ');
  std::optional<std::string> known;
  // Where this run's rewrite digested the file already, unchanged since.
  if (services.clean_files != nullptr) {
    // The held file as it is now, or else what the name leads to.
    auto info =
        before ? Expected<EntryInfo>(*before) : services.files.Stat(file_name);
    if (info.ok()) known = services.clean_files->DigestOf(*info);
  }
  if (known) {
    hash = *known;
  } else if (DigestsInPieces(services)) {
    if (Status digested = DigestWholeInPieces(services, file_name, hash);
        !digested.ok()) {
      return failure(digested.error());
    }
  } else if (Status digested = services.digest.MDFile(
                 // The file the seal holds, not what the name leads to.
                 before ? services.files.HandlePath(seal->handle()) : file_name,
                 hash);
             !digested.ok()) {
    return failure(digested.error());
  }
  if (before) {
    auto after = seal->HeldState(file_name);
    if (!after.ok()) return failure(after.error());
    if (!*after || !SameState(*before, **after)) {
      return failure(Error(ErrorKind::kOther,
                           "'" + file_name + "' changed while it was read"));
    }
    seal->NoteDigested(**after);
  }
  return true;
}

}  // namespace korvik
