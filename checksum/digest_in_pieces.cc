#include "checksum/digest_in_pieces.h"

#include <algorithm>
#include <vector>

#include "checksum/digest_library.h"
#include "checksum/progress.h"
#include "checksum/side_digest.h"

namespace korvik {
namespace {

// Large enough that the hand-over to the other core costs little, small
// enough that a stop waits for no more than a few milliseconds of reading.
constexpr std::size_t kBlockSize = std::size_t{4} << 20;

}  // namespace

bool DigestsInPieces(const Services& services) {
  return services.progress != nullptr && services.digest.OffersStreamDigest();
}

Status DigestInPieces(const Services& services, FileHandle file,
                      std::uint64_t length, std::string& digest,
                      std::string_view suffix) {
  auto stream = services.digest.StartStream();
  if (!stream.ok()) return stream.status();
  Progress& progress = *services.progress;
  progress.Start(length);
  // Two buffers by turns: the other core digests one while the next is read.
  std::vector<char> buffers[2] = {std::vector<char>(kBlockSize),
                                  std::vector<char>(kBlockSize)};
  SideDigest side(std::move(*stream), length > kBlockSize);
  int turn = 0;
  for (std::uint64_t offset = 0; offset < length;) {
    if (progress.StopRequested()) {
      return Error(ErrorKind::kOther, "stopped at the user's request");
    }
    std::vector<char>& buffer = buffers[turn];
    auto got = services.files.ReadAt(
        file,
        std::span<char>(buffer.data(),
                        std::min<std::uint64_t>(kBlockSize, length - offset)),
        offset);
    if (!got.ok()) return got.status();
    if (*got == 0) {
      return Error(ErrorKind::kEndOfFile, "read: the file ended early");
    }
    side.Add(std::span<const char>(buffer.data(), *got));
    offset += *got;
    progress.Advance(*got);
    turn ^= 1;
  }
  side.Add(suffix);
  auto finished = side.Finish();
  if (!finished.ok()) return finished.status();
  digest = std::move(*finished);
  return Status::Ok();
}

}  // namespace korvik
