#include <gtest/gtest.h>

#include "checksum/operations.h"
#include "tests/fake_platform.h"

namespace korvik {
namespace {

constexpr char kData[] = "/data/orders.txt";

class GenerateHashTest : public testing::Test {
 protected:
  bool Generate(std::string name = kData) {
    name_ = std::move(name);
    return GenerateHash(world_.services, name_, hash_, message_);
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
  std::string name_;
  std::string hash_ = "earlier hash";
  std::string message_ = "from the caller";
};

TEST_F(GenerateHashTest, HashesTheRewrittenFile) {
  files_.AddFile(kData, "a\r\nb");
  ASSERT_TRUE(Generate());
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\n");
  EXPECT_EQ(hash_, Md5Hex("a\r\nb\r\n"));
  EXPECT_EQ(message_, "from the caller");
  EXPECT_EQ(name_, kData);
}

TEST_F(GenerateHashTest, SameFileTwiceGivesTheSameHash) {
  files_.AddFile(kData, "a\rb");
  ASSERT_TRUE(Generate());
  const std::string first = hash_;
  ASSERT_TRUE(Generate());
  EXPECT_EQ(hash_, first);
}

TEST_F(GenerateHashTest, SealedFileGetsALineEndAfterItsTrailer) {
  const std::string sealed = "x\r\n" + Md5Hex("x\r\n");
  files_.AddFile(kData, sealed);
  ASSERT_TRUE(Generate());
  EXPECT_EQ(files_.Contents(kData), sealed + "\r\n");
  EXPECT_EQ(hash_, Md5Hex(sealed + "\r\n"));
}

TEST_F(GenerateHashTest, UnusableNamesEmptyTheHashAndTheName) {
  files_.AddFile("/work/relative.txt", "x");
  files_.AddDirectory("/data/dir");
  for (const char* name : {"relative.txt", "/data/missing", "/data/dir", ""}) {
    hash_ = "earlier hash";
    EXPECT_FALSE(Generate(name)) << name;
    EXPECT_EQ(message_, "Invalid/Missing File Name!");
    EXPECT_EQ(hash_, "");
  }
  EXPECT_EQ(name_, "");
  Generate("relative.txt");
  EXPECT_EQ(name_, "");
}

TEST_F(GenerateHashTest, MissingLibraryLeavesTheFileUntouched) {
  files_.AddFile(kData, "a\rb");
  ASSERT_TRUE(files_.Remove("/opt/korvik/korvik.DLL").ok());
  EXPECT_FALSE(Generate());
  EXPECT_EQ(
      message_,
      " Unexpected Error :  Checksum Library file korvik.DLL is missing.");
  EXPECT_EQ(hash_, "");
  EXPECT_EQ(files_.Contents(kData), "a\rb");
  EXPECT_FALSE(Generate("/data/missing"));
  EXPECT_EQ(message_, "Invalid/Missing File Name!");
}

TEST_F(GenerateHashTest, FailedRewriteNamesTheFileAndKeepsTheHash) {
  files_.AddFile(kData, "");
  EXPECT_FALSE(Generate());
  EXPECT_EQ(message_,
            std::string("Error occured while trying to open file : ") + kData);
  EXPECT_EQ(hash_, "earlier hash");
}

TEST_F(GenerateHashTest, FailuresRaisedOnTheWayAreDescribed) {
  files_.AddFile(kData, "x\r\n");
  world_.digest.fail = true;
  EXPECT_FALSE(Generate());
  EXPECT_TRUE(message_.starts_with("Error Generating Hash : \r\n")) << message_;
  EXPECT_EQ(hash_, "");

  world_.digest.fail = false;
  files_.AddFile("/work/~~~~MD5.TMP", "leftover", 0400);
  world_.faulty.FailAllMatching("Remove", EIO);
  EXPECT_FALSE(Generate());
  EXPECT_TRUE(message_.starts_with("Error Generating Hash : \r\n")) << message_;
}

}  // namespace
}  // namespace korvik
