#include "checksum/side_digest.h"

namespace korvik {

SideDigest::SideDigest(std::unique_ptr<DigestStream> stream)
    : stream_(std::move(stream)) {}

SideDigest::~SideDigest() { Wait(); }

void SideDigest::Wait() {
  if (!pending_.valid()) return;
  Status done = pending_.get();
  if (failed_.ok()) failed_ = done;
}

void SideDigest::Add(std::span<const char> block) {
  Wait();
  size_ += block.size();
  if (!failed_.ok()) return;
  pending_ = std::async(std::launch::async,
                        [this, block] { return stream_->Update(block); });
}

Expected<std::string> SideDigest::Finish() {
  Wait();
  if (!failed_.ok()) return failed_.error();
  std::string digest;
  if (Status finished = stream_->Finish(digest); !finished.ok()) {
    return finished.error();
  }
  return digest;
}

}  // namespace korvik
