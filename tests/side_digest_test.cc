// The digest fed on the other core: what it digests must be exactly the
// blocks handed over, although the caller reuses each buffer as soon as Add
// lets it.
#include "checksum/side_digest.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace korvik {
namespace {

// Keeps what it is given, slowly, so that a caller reusing a buffer too
// early changes bytes not yet taken. Fails at the block `fail_at`.
class SlowStream : public DigestStream {
 public:
  struct Seen {
    std::mutex mutex;
    std::string bytes;
    int updates = 0;
  };

  SlowStream(Seen& seen, int fail_at) : seen_(seen), fail_at_(fail_at) {}

  Status Update(std::span<const char> data) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::lock_guard lock(seen_.mutex);
    if (++seen_.updates == fail_at_) {
      return Error(ErrorKind::kOther, "read: the disk went away");
    }
    seen_.bytes.append(data.data(), data.size());
    return Status::Ok();
  }

  Status Finish(std::string& digest) override {
    std::lock_guard lock(seen_.mutex);
    digest = "digest of " + std::to_string(seen_.bytes.size()) + " bytes";
    return Status::Ok();
  }

 private:
  Seen& seen_;
  int fail_at_;
};

constexpr std::size_t kBlock = 4096;
constexpr int kBlocks = 24;

// Two buffers used by turns, as the block reader's room; they must outlive
// the digest of the last block.
using Halves = std::array<std::string, 2>;

// Feeds kBlocks blocks through `halves` and returns what was fed.
std::string FeedByTurns(SideDigest& side, Halves& halves) {
  std::string fed;
  for (int block = 0; block < kBlocks; ++block) {
    std::string& half = halves[block % 2];
    half.assign(kBlock, static_cast<char>('a' + block % 26));
    fed += half;
    side.Add(half);
  }
  return fed;
}

class SideDigestTest : public testing::TestWithParam<bool> {};

TEST_P(SideDigestTest, DigestsEveryBlockAsItWasHandedOver) {
  SlowStream::Seen seen;
  Halves halves;
  SideDigest side(std::make_unique<SlowStream>(seen, 0), GetParam());
  const std::string fed = FeedByTurns(side, halves);
  auto digest = side.Finish();
  ASSERT_TRUE(digest.ok()) << digest.error().description();
  EXPECT_EQ(*digest, "digest of " + std::to_string(fed.size()) + " bytes");
  EXPECT_EQ(side.size(), fed.size());
  std::lock_guard lock(seen.mutex);
  EXPECT_TRUE(seen.bytes == fed) << "a block changed before it was digested";
}

TEST_P(SideDigestTest, AFailureEndsTheDigestAndIsReported) {
  SlowStream::Seen seen;
  Halves halves;
  SideDigest side(std::make_unique<SlowStream>(seen, 3), GetParam());
  FeedByTurns(side, halves);
  auto digest = side.Finish();
  ASSERT_FALSE(digest.ok());
  EXPECT_EQ(digest.error().description(), "read: the disk went away");
  std::lock_guard lock(seen.mutex);
  // At most the block under way when the failure came is taken after it.
  EXPECT_LE(seen.updates, 4);
  EXPECT_EQ(seen.bytes.size(), 2 * kBlock);
}

INSTANTIATE_TEST_SUITE_P(BesideAndInline, SideDigestTest, testing::Bool());

}  // namespace
}  // namespace korvik
