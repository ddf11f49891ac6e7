#include <gtest/gtest.h>

#include <cerrno>

#include "checksum/operations.h"
#include "tests/fake_platform.h"

namespace korvik {
namespace {

constexpr char kData[] = "/data/orders.txt";
const std::string kHash = "0123456789abcdef0123456789abcdef";

class AppendHashTest : public testing::Test {
 protected:
  bool Append(const std::string& name = kData,
              const std::string& hash = kHash) {
    return AppendHash(world_.services, name, hash, message_);
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
  std::string message_ = "from an earlier step";
};

TEST_F(AppendHashTest, WritesTheHashRightAfterTheLastByte) {
  files_.AddFile(kData, "a\r\nb\r\n");
  EXPECT_TRUE(Append());
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\n" + kHash);
  EXPECT_EQ(message_, std::string("Hash Appended successfully to : ") + kData);
}

TEST_F(AppendHashTest, EmptyAndMissingFilesHoldTheHashAlone) {
  files_.AddFile(kData, "");
  EXPECT_TRUE(Append());
  EXPECT_EQ(files_.Contents(kData), kHash);
  EXPECT_TRUE(Append("/data/new.txt"));
  EXPECT_EQ(files_.Contents("/data/new.txt"), kHash);
}

TEST_F(AppendHashTest, SecondCallAppendsASecondTrailer) {
  files_.AddFile(kData, "x");
  EXPECT_TRUE(Append());
  EXPECT_TRUE(Append());
  EXPECT_EQ(files_.Contents(kData), "x" + kHash + kHash);
}

TEST_F(AppendHashTest, EmptyHashOrNameTouchesNothing) {
  files_.AddFile(kData, "x");
  EXPECT_FALSE(Append(kData, ""));
  EXPECT_FALSE(Append("", kHash));
  EXPECT_EQ(message_, "from an earlier step");
  EXPECT_EQ(files_.Contents(kData), "x");
}

TEST_F(AppendHashTest, ReadOnlyFileFailsWithTheNameAndDescription) {
  files_.AddFile(kData, "x", 0444);
  EXPECT_FALSE(Append());
  EXPECT_EQ(message_.rfind(std::string("Error Occured while Adding Checksum "
                                       "to the File : ") +
                               kData + "\r\n",
                           0),
            0u)
      << message_;
  EXPECT_EQ(files_.Contents(kData), "x");
}

TEST_F(AppendHashTest, FailureAtEveryCallLeavesTheFileWholeOrSealed) {
  for (std::size_t k = 1;; ++k) {
    files_.AddFile(kData, "x");
    world_.faulty.Reset();
    world_.faulty.FailCall(k, ENOSPC);
    const bool appended = Append();
    const std::string now = files_.Contents(kData);
    EXPECT_TRUE(now == "x" || now == "x" + kHash) << k;
    if (appended) {
      EXPECT_EQ(now, "x" + kHash);
    }
    EXPECT_EQ(files_.OpenHandleCount(), 0u);
    if (world_.faulty.call_count() < k) break;  // no call was failed
  }
}

}  // namespace
}  // namespace korvik
