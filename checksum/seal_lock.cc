#include "checksum/seal_lock.h"

#include <thread>

namespace korvik {
namespace {

constexpr std::chrono::milliseconds kPollInterval{25};

}  // namespace

Expected<bool> LockWithin(FileSystem& files, FileHandle file,
                          std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    auto locked = files.TryLock(file);
    if (!locked.ok() || *locked) return locked;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
}

bool SameState(const EntryInfo& a, const EntryInfo& b) {
  return a.id == b.id && a.size == b.size && a.modified_ns == b.modified_ns &&
         a.changed_ns == b.changed_ns;
}

Expected<bool> SealLock::Take(const std::string& path, const FileId& expected) {
  Release();
  auto opened = files_.Open(path, OpenMode::kReadWrite);
  if (!opened.ok()) return opened.error();
  handle_ = *opened;
  auto held = files_.StatHandle(handle_);
  if (!held.ok()) return held.error();
  if (held->id != expected) {
    Release();
    return false;
  }
  auto locked = LockWithin(files_, handle_, wait_);
  if (!locked.ok()) return locked.error();
  if (!*locked) {
    Release();
    return Error(ErrorKind::kOther,
                 "'" + path + "' stays locked by another process");
  }
  // The run we waited for may have put a new file in this one's place.
  auto now = files_.Stat(path);
  if (!now.ok()) return now.error();
  if (now->kind != EntryKind::kRegular || now->id != held->id) {
    Release();
    return false;
  }
  held_ = *held;
  return true;
}

Expected<std::optional<EntryInfo>> SealLock::HeldState(
    const std::string& path) {
  if (!held_) return std::optional<EntryInfo>();
  auto named = files_.Stat(path);
  if (!named.ok()) return named.error();
  auto now = files_.StatHandle(handle_);
  if (!now.ok()) return now.error();
  if (named->id != now->id) return std::optional<EntryInfo>();
  return std::optional<EntryInfo>(*now);
}

void SealLock::HandOver(FileHandle replacement) {
  if (handle_ != kNoFile) (void)files_.Close(handle_);
  handle_ = replacement;
  held_.reset();
  digested_.reset();
  if (auto held = files_.StatHandle(handle_); held.ok()) held_ = *held;
}

void SealLock::Release() {
  if (handle_ != kNoFile) (void)files_.Close(handle_);
  handle_ = kNoFile;
  held_.reset();
  digested_.reset();
  names_.clear();
}

}  // namespace korvik
