#include "checksum/block_reader.h"

#include <algorithm>

namespace korvik {

Expected<std::uint64_t> BlockReader::Read(FileHandle file,
                                          const Consume& consume,
                                          std::uint64_t offset,
                                          std::uint64_t end) {
  for (std::size_t turn = 0; offset < end; turn ^= 1) {
    if (progress_.StopRequested()) return StoppedByUser();
    const std::span<char> block(
        room_.get() + turn * block_size_,
        static_cast<std::size_t>(
            std::min<std::uint64_t>(block_size_, end - offset)));
    auto got = files_.ReadAt(file, block, offset);
    if (!got.ok()) return got.error();
    if (*got == 0) break;
    offset += *got;
    progress_.Advance(*got);
    if (!consume(std::span<const char>(block.data(), *got))) break;
  }
  return offset;
}

Error StoppedByUser() {
  return Error(ErrorKind::kOther, "stopped at the user's request");
}

}  // namespace korvik
