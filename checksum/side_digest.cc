#include "checksum/side_digest.h"

namespace korvik {

SideDigest::SideDigest(std::unique_ptr<DigestStream> stream, bool beside)
    : stream_(std::move(stream)) {
  if (beside) worker_ = std::thread([this] { Work(); });
}

SideDigest::~SideDigest() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void SideDigest::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return pending_ || stopping_; });
    if (!pending_) return;
    const std::span<const char> block = block_;
    lock.unlock();
    Status added = stream_->Update(block);
    lock.lock();
    if (failed_.ok()) failed_ = std::move(added);
    pending_ = false;
    changed_.notify_all();
  }
}

void SideDigest::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !pending_; });
}

void SideDigest::Add(std::span<const char> block) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !pending_; });
  size_ += block.size();
  if (!failed_.ok()) return;
  if (!worker_.joinable()) {
    failed_ = stream_->Update(block);
    return;
  }
  block_ = block;
  pending_ = true;
  lock.unlock();
  changed_.notify_all();
}

Expected<std::string> SideDigest::Finish() {
  Wait();
  std::lock_guard lock(mutex_);
  if (!failed_.ok()) return failed_.error();
  std::string digest;
  if (Status finished = stream_->Finish(digest); !finished.ok()) {
    return finished.error();
  }
  return digest;
}

}  // namespace korvik
