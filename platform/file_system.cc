#include "platform/file_system.h"

#include <algorithm>
#include <vector>

namespace korvik {
namespace {

// Large enough to keep call costs out of sight, small enough to keep memory
// flat.
constexpr std::size_t kCopyBufferSize = std::size_t{1} << 20;

}  // namespace

Error ReplacedMeanwhile(const std::string& name) {
  return Error(ErrorKind::kOther,
               "'" + name + "' was replaced by another entry meanwhile");
}

Status SettleReplacement(FileSystem& files, const Settle& settle,
                         FileHandle file) {
  if (!settle) return Status::Ok();
  auto wrote = settle();
  if (!wrote.ok()) return wrote.status();
  return *wrote ? files.Sync(file) : Status::Ok();
}

Status CopyInBlocks(FileSystem& files, FileHandle source,
                    std::uint64_t source_offset, FileHandle target,
                    std::uint64_t target_offset, std::uint64_t length) {
  std::vector<char> buffer(static_cast<std::size_t>(
      std::min<std::uint64_t>(length, kCopyBufferSize)));
  while (length > 0) {
    const auto want = static_cast<std::size_t>(
        std::min<std::uint64_t>(length, buffer.size()));
    auto got =
        files.ReadAt(source, std::span(buffer.data(), want), source_offset);
    if (!got.ok()) return got.status();
    if (*got == 0) {
      return Error(ErrorKind::kEndOfFile, "copy: the file ended early");
    }
    Status written =
        files.WriteAt(target, std::span(buffer.data(), *got), target_offset);
    if (!written.ok()) return written;
    source_offset += *got;
    target_offset += *got;
    length -= *got;
  }
  return Status::Ok();
}

}  // namespace korvik
