// A seal from its rewrite to its trailer, with files that change hands,
// names and content on the way: each step works on the file the checks saw.
#include <gtest/gtest.h>

#include <algorithm>

#include "checksum/append_in_place.h"
#include "checksum/operations.h"
#include "checksum/seal_session.h"
#include "tests/fake_platform.h"
#include "tests/md5_hex.h"

namespace korvik {
namespace {

constexpr char kData[] = "/data/orders.txt";
constexpr char kWork[] = "/work/~~~~MD5.TMP";

class SealTest : public testing::Test {
 protected:
  SealTest() { world_.InstallDigestLibrary(); }

  // Rewrites, digests and appends as a sealing run does, in one session.
  bool Seal(const std::string& name = kData) {
    SealSession seal(world_.services,
                     {.lock_wait = std::chrono::milliseconds(0)});
    std::string file_name = name;
    std::string hash;
    return GenerateHash(seal, file_name, hash, message_) &&
           AppendHash(seal, file_name, hash, message_);
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
  std::string message_;
};

TEST_F(SealTest, AFileWithFurtherNamesIsSealedInPlaceOrNotAtAll) {
  files_.AddFile(kData, "a\rb");
  files_.AddHardLink("/data/other.txt", kData);
  EXPECT_FALSE(Seal());
  EXPECT_NE(message_.find("hard links"), std::string::npos) << message_;
  EXPECT_EQ(files_.Contents("/data/other.txt"), "a\rb");

  files_.AddFile(kData, "a\r\nb");
  files_.AddHardLink("/data/other.txt", kData);
  ASSERT_TRUE(Seal()) << message_;
  EXPECT_EQ(files_.Contents("/data/other.txt"),
            "a\r\nb\r\n" + Md5Hex("a\r\nb\r\n"));
}

TEST_F(SealTest, AnotherUsersWorkFileIsRemovedNotWaitedOn) {
  files_.AddFile(kWork, "theirs");
  files_.SetForeignOwner(kWork);
  files_.AddFile(kData, "a\rb");
  ASSERT_TRUE(Seal()) << message_;
  const auto calls = files_.calls();
  const auto removed =
      std::find(calls.begin(), calls.end(), std::string("Remove ") + kWork);
  const auto locked =
      std::find(calls.begin(), calls.end(), std::string("Lock ") + kWork);
  EXPECT_LT(removed, locked);
  EXPECT_FALSE(files_.Exists(kWork));
}

TEST_F(SealTest, NoLinkOfAnotherUserIsFollowed) {
  files_.AddFile(kData, "a\r\n");
  files_.AddSymlink("/data/link", kData);
  files_.SetForeignOwner("/data/link");
  EXPECT_FALSE(Seal("/data/link"));
  EXPECT_NE(message_.find("symbolic link of another user"), std::string::npos)
      << message_;
  std::string message;
  EXPECT_FALSE(AppendHash(world_.services, "/data/link", "hash", message));
  EXPECT_EQ(files_.Contents(kData), "a\r\n");

  // A link of this user's is followed, and stays a link.
  files_.AddSymlink("/data/mine", kData);
  ASSERT_TRUE(Seal("/data/mine")) << message_;
  EXPECT_EQ(files_.Contents(kData), "a\r\n" + Md5Hex("a\r\n"));
}

TEST_F(SealTest, AFileWrittenToDuringTheSealGetsNoTrailer) {
  // The library digests the file by its name, after the rewrite.
  world_.digest.offers_stream = false;
  files_.AddFile(kData, "a\r\n");
  // Another process adds a line while the digest library reads.
  world_.digest.before_digest = [&] {
    const FileHandle writer = *files_.Open(kData, OpenMode::kAppend);
    (void)files_.Write(writer, std::string("b\r\n"));
    (void)files_.Close(writer);
    world_.digest.before_digest = nullptr;
  };
  EXPECT_FALSE(Seal());
  EXPECT_NE(message_.find("changed while it was read"), std::string::npos)
      << message_;
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\n");
}

TEST_F(SealTest, AnotherHoldersLockIsWaitedForOnlyAWhile) {
  files_.AddFile(kData, "a\r\n");
  const FileHandle other = *files_.Open(kData, OpenMode::kRead);
  ASSERT_TRUE(files_.Lock(other).ok());
  EXPECT_FALSE(Seal());
  EXPECT_NE(message_.find("locked by another process"), std::string::npos)
      << message_;
  ASSERT_TRUE(files_.Close(other).ok());
  EXPECT_TRUE(Seal()) << message_;
}

// A seal holds its file from the rewrite until the session ends; a hash
// alone holds it for its rewrite only.
TEST_F(SealTest, TheFileAndItsFolderAreHeldFromTheRewriteUntilTheSessionEnds) {
  files_.AddFile(kData, "a\r\n");
  auto held_by_another = [&] {
    const FileHandle mine = *files_.Open(kData, OpenMode::kRead);
    const bool locked = !*files_.TryLock(mine);
    EXPECT_TRUE(files_.Close(mine).ok());
    return locked;
  };
  std::string name = kData;
  std::string hash;
  SealSession seal(world_.services);
  ASSERT_TRUE(GenerateHash(seal, name, hash, message_)) << message_;
  EXPECT_TRUE(held_by_another());
  EXPECT_TRUE(files_.HoldsAWalk());
  seal.End();
  EXPECT_FALSE(held_by_another());
  EXPECT_FALSE(files_.HoldsAWalk());
  EXPECT_EQ(files_.OpenHandleCount(), 0u);

  SealSession hash_only(world_.services, {.hold = SealHold::kForTheRewrite});
  ASSERT_TRUE(GenerateHash(hash_only, name, hash, message_)) << message_;
  EXPECT_FALSE(held_by_another());
  EXPECT_FALSE(files_.HoldsAWalk());
  EXPECT_EQ(files_.OpenHandleCount(), 0u);
}

TEST_F(SealTest, BytesGoAfterTheEndOnlyAtTheLengthThatWasRead) {
  files_.AddFile(kData, "abc");
  const FileHandle file = *files_.Open(kData, OpenMode::kReadWrite);
  EXPECT_FALSE(AppendInPlace(files_, file, "\r\n", 2).ok());
  EXPECT_EQ(files_.Contents(kData), "abc");
  EXPECT_TRUE(AppendInPlace(files_, file, "\r\n", 3).ok());
  EXPECT_EQ(files_.Contents(kData), "abc\r\n");
  ASSERT_TRUE(files_.Close(file).ok());
}

}  // namespace
}  // namespace korvik
