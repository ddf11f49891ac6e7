// Reading an open file a block at a time, for the scan, the rewrite and the
// digest alike.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>

#include "checksum/progress.h"
#include "platform/file_system.h"
#include "platform/result.h"

namespace korvik {

// The block of the scan and the rewrite: a stop waits for no more than one.
inline constexpr std::size_t kRewriteBlock = std::size_t{1} << 20;

// Reads blocks by turns into the two halves of one room, so a block stays
// unchanged until its consumer returns from the next one: the other core
// may still be digesting it. Before each block the Progress may stop the
// read; after it, it hears the bytes.
class BlockReader {
 public:
  static constexpr std::uint64_t kToTheEnd =
      std::numeric_limits<std::uint64_t>::max();
  // Takes a block; false stops the read.
  using Consume = std::function<bool(std::span<const char>)>;

  // The room is left uninitialized: a small file touches a page of it.
  BlockReader(FileSystem& files, Progress& progress, std::size_t block_size)
      : files_(files),
        progress_(progress),
        block_size_(block_size),
        room_(std::make_unique_for_overwrite<char[]>(2 * block_size)) {}

  // Reads the file from `offset` until `end` or its end, whichever comes
  // first, through `consume`. Returns the offset reached.
  Expected<std::uint64_t> Read(FileHandle file, const Consume& consume,
                               std::uint64_t offset = 0,
                               std::uint64_t end = kToTheEnd);

 private:
  FileSystem& files_;
  Progress& progress_;
  std::size_t block_size_;
  std::unique_ptr<char[]> room_;
};

// The failure of an operation that its Progress stopped.
Error StoppedByUser();

}  // namespace korvik
