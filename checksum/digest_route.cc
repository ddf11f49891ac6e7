#include "checksum/digest_route.h"

#include "checksum/block_reader.h"

namespace korvik {
namespace {

// Large enough that the hand-over to the other core costs little, small
// enough that a stop waits for no more than a few milliseconds of reading.
constexpr std::size_t kPieceSize = std::size_t{4} << 20;

Progress& Heard(Progress* watcher) {
  static SilentProgress silent;
  return watcher != nullptr ? *watcher : silent;
}

}  // namespace

std::optional<std::string> DigestSink::DigestOfAll(std::uint64_t size) {
  if (!side_) return std::nullopt;
  auto finished = side_->Finish();
  if (!finished.ok() || side_->size() != size) return std::nullopt;
  return std::move(*finished);
}

DigestRoute::DigestRoute(DigestLibrary& library, Kind kind, bool alongside,
                         Progress* watcher)
    : library_(&library),
      kind_(kind),
      alongside_(alongside),
      progress_(&Heard(watcher)) {}

DigestRoute DigestRoute::ForVerification(DigestLibrary& library,
                                         Progress* watcher) {
  Kind kind = Kind::kThroughWorkFile;
  if (watcher != nullptr && library.OffersStreamDigest()) {
    kind = Kind::kInPieces;
  } else if (library.OffersHeadDigest()) {
    kind = Kind::kInPlace;
  }
  return DigestRoute(library, kind, /*alongside=*/false, watcher);
}

DigestRoute DigestRoute::ForSeal(DigestLibrary& library, Progress* watcher) {
  const bool pieces = library.OffersStreamDigest();
  return DigestRoute(
      library, watcher != nullptr && pieces ? Kind::kInPieces : Kind::kInPlace,
      pieces, watcher);
}

DigestRoute DigestRoute::InPlace(DigestLibrary& library) {
  return DigestRoute(library, Kind::kInPlace, /*alongside=*/false, nullptr);
}

DigestSink DigestRoute::StartAlongside(std::uint64_t size) const {
  if (!alongside_) return DigestSink();
  auto stream = library_->StartStream();
  if (!stream.ok()) return DigestSink();
  // For a block or two a thread costs more than the overlap saves.
  return DigestSink(
      std::make_unique<SideDigest>(std::move(*stream), size > kRewriteBlock));
}

Expected<std::string> DigestRoute::DigestInPieces(
    FileSystem& files, FileHandle file, std::uint64_t length,
    std::string_view suffix) const {
  auto stream = library_->StartStream();
  if (!stream.ok()) return stream.error();
  progress_->Start(length);
  // The reader's room outlives the digest of its last block.
  BlockReader reader(files, *progress_, kPieceSize);
  SideDigest side(std::move(*stream), length > kPieceSize);
  auto reached = reader.Read(
      file,
      [&side](std::span<const char> block) {
        side.Add(block);
        return true;
      },
      0, length);
  if (!reached.ok()) return reached.error();
  if (*reached < length) {
    return Error(ErrorKind::kEndOfFile, "read: the file ended early");
  }
  side.Add(suffix);
  return side.Finish();
}

}  // namespace korvik
