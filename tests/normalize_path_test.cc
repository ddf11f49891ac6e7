#include <gtest/gtest.h>

#include "checksum/operations.h"
#include "tests/fake_platform.h"

namespace korvik {
namespace {

class NormalizePathTest : public testing::Test {
 protected:
  std::string Normalize(std::string& path) {
    return NormalizePath(world_.services, path);
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
};

TEST_F(NormalizePathTest, TrimsTheArgumentButNeverUpperCasesIt) {
  files_.AddFile("/data/File.txt", "x");
  std::string path = "  /data/File.txt ";
  EXPECT_EQ(Normalize(path), "");  // the untrimmed name names nothing
  EXPECT_EQ(path, "  /data/File.txt ");

  files_.AddFile("  /data/File.txt ", "x");
  EXPECT_EQ(Normalize(path), "/data/File.txt");
  EXPECT_EQ(path, "/data/File.txt");
}

TEST_F(NormalizePathTest, UpperCaseOnlyWhereItNamesTheSameEntry) {
  files_.AddFile("/data/file.txt", "x");
  std::string path = "/data/file.txt";
  EXPECT_EQ(Normalize(path), "/data/file.txt");

  // A file system that ignores letter case: both spellings, one file.
  files_.AddSymlink("/DATA", "/data");
  files_.AddSymlink("/data/FILE.TXT", "/data/file.txt");
  EXPECT_EQ(Normalize(path), "/DATA/FILE.TXT");
}

TEST_F(NormalizePathTest, RemovesOneTrailingSeparatorButKeepsTheRoot) {
  files_.AddDirectory("/data");
  std::string directory = "/data/";
  EXPECT_EQ(Normalize(directory), "/data");
  std::string root = "/";
  EXPECT_EQ(Normalize(root), "/");
}

TEST_F(NormalizePathTest, UnusablePathsGiveTheEmptyText) {
  files_.AddFile("/work/a.txt", "x");
  files_.AddFile("/data/.hidden", "x");
  for (std::string path : {"a.txt", "", "/data/missing", "/data/.hidden"}) {
    const std::string before = path;
    EXPECT_EQ(Normalize(path), "") << before;
  }
}

TEST_F(NormalizePathTest, NetworkDriveIsReplacedByItsShare) {
  files_.AddFile("/mnt/z/dir/f.txt", "x");
  world_.drives.network_drive = "/mnt/z";
  world_.drives.share_name = "//srv/pub";
  std::string path = "/mnt/z/dir/f.txt";
  EXPECT_EQ(Normalize(path), "//srv/pub/dir/f.txt");
  std::string root = "/mnt/z/";
  EXPECT_EQ(Normalize(root), "//srv/pub");

  world_.drives.fail_lookup = true;
  EXPECT_EQ(Normalize(path), "");
}

TEST_F(NormalizePathTest, SameArgumentSameResult) {
  files_.AddFile("/data/f", "x");
  std::string first = "/data/f";
  std::string second = "/data/f";
  EXPECT_EQ(Normalize(first), Normalize(second));
}

}  // namespace
}  // namespace korvik
