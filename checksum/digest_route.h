// How one run digests its data file, chosen once at the run's start from
// what the digest library exports and whether anybody watches the run.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "checksum/digest_library.h"
#include "checksum/progress.h"
#include "checksum/side_digest.h"
#include "platform/file_system.h"
#include "platform/result.h"

namespace korvik {

// Where a rewrite hands the bytes it reads or writes: to a digest on the
// other core, or nowhere.
class DigestSink {
 public:
  DigestSink() = default;
  explicit DigestSink(std::unique_ptr<SideDigest> side)
      : side_(std::move(side)) {}

  explicit operator bool() const { return side_ != nullptr; }
  // Hands over `bytes`, which must stay unchanged until the next call.
  void Add(std::span<const char> bytes) {
    if (side_) side_->Add(bytes);
  }
  // Waits for the bytes under way, so that their buffer may change.
  void Wait() {
    if (side_) side_->Wait();
  }
  // Returns the digest of all bytes handed over, where they are exactly
  // `size` bytes and the digest took them all.
  std::optional<std::string> DigestOfAll(std::uint64_t size);

 private:
  std::unique_ptr<SideDigest> side_;
};

class DigestRoute {
 public:
  // How a whole file, or a sealed file's body, is digested.
  enum class Kind {
    kInPlace,   // the library reads the file by its name
    kInPieces,  // the run reads it a block at a time, counted and stoppable,
                // and the library digests each block on the other core
    kThroughWorkFile,  // a verification copies the body to a work file, and
                       // the library reads that by its name
  };

  // A verification's route: in pieces where `watcher` is given and the
  // library takes pieces, in place where it digests a file's head, through
  // a work file otherwise.
  static DigestRoute ForVerification(DigestLibrary& library, Progress* watcher);
  // A seal's or a hash's route: in pieces where `watcher` is given and the
  // library takes pieces, in place otherwise. Where the library takes
  // pieces, the rewrite also digests the bytes it reads or writes alongside,
  // so that a file it leaves unchanged since is not read again.
  static DigestRoute ForSeal(DigestLibrary& library, Progress* watcher);
  // The route of a rewrite on its own: in place, nothing alongside.
  static DigestRoute InPlace(DigestLibrary& library);

  Kind kind() const { return kind_; }
  // Hears how far the run is and may stop it; silent where nobody watches.
  Progress& progress() const { return *progress_; }

  // Starts the digest of a rewrite's `size` bytes alongside it, where the
  // route has one; an empty sink otherwise.
  DigestSink StartAlongside(std::uint64_t size) const;

  // Returns the MD5 digest of the first `length` bytes of the open `file`
  // followed by `suffix`, read from offset 0 a block at a time. Fails where
  // the file ends early or the Progress asks to stop.
  Expected<std::string> DigestInPieces(FileSystem& files, FileHandle file,
                                       std::uint64_t length,
                                       std::string_view suffix = {}) const;

 private:
  DigestRoute(DigestLibrary& library, Kind kind, bool alongside,
              Progress* watcher);

  DigestLibrary* library_;
  Kind kind_;
  bool alongside_;
  Progress* progress_;
};

}  // namespace korvik
