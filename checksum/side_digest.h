// A digest fed on the other core, one block behind its caller: digesting a
// block overlaps the caller's work on the next. For a block or two it is fed
// on the caller's thread instead: a thread costs more than the overlap saves.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "checksum/digest_library.h"
#include "platform/result.h"

namespace korvik {

class SideDigest {
 public:
  // Digests on the other core where `beside` is true, otherwise in Add.
  SideDigest(std::unique_ptr<DigestStream> stream, bool beside);
  SideDigest(const SideDigest&) = delete;
  SideDigest& operator=(const SideDigest&) = delete;
  ~SideDigest();  // waits for the block under way

  // Hands `block` over and waits until the block handed over before is
  // digested. `block` must stay unchanged until the next call returns (or
  // Wait or Finish does). After a failure the blocks are no longer digested.
  void Add(std::span<const char> block);

  // Returns the number of bytes handed over.
  std::uint64_t size() const { return size_; }

  // Waits for the block under way, so that its buffer may change.
  void Wait();

  // Waits for the last block and returns the digest of all blocks, as
  // MDFile writes a file's, or the first failure.
  Expected<std::string> Finish();

 private:
  // Digests each block handed over until told to stop.
  void Work();

  std::unique_ptr<DigestStream> stream_;
  std::uint64_t size_ = 0;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::span<const char> block_;  // guarded by mutex_, with the fields below
  bool pending_ = false;         // block_ waits for the worker
  bool digesting_ = false;       // the worker is digesting a block
  bool stopping_ = false;
  Status failed_;
  std::thread worker_;  // last: starts once the fields above are made, where
                        // the digest is made beside
};

}  // namespace korvik
