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
    const bool wanted = failed_.ok();
    pending_ = false;
    digesting_ = true;
    changed_.notify_all();  // the block before is done: its buffer is free
    lock.unlock();
    Status added = wanted ? stream_->Update(block) : Status::Ok();
    lock.lock();
    if (failed_.ok()) failed_ = std::move(added);
    digesting_ = false;
    changed_.notify_all();
  }
}

void SideDigest::Wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !pending_ && !digesting_; });
}

void SideDigest::Add(std::span<const char> block) {
  std::unique_lock lock(mutex_);
  size_ += block.size();
  if (!failed_.ok()) return;
  if (!worker_.joinable()) {
    failed_ = stream_->Update(block);
    return;
  }
  // The block waits in line behind the one being digested, so the worker
  // goes on to it without waiting for this thread to wake up; this thread
  // waits until the worker has taken it up, the block before being done.
  block_ = block;
  pending_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !pending_; });
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
