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

// Windows paths, on an in-memory file system that ignores letter case: every
// spelling a test uses is a link to the one entry.
class WindowsNormalizePathTest : public NormalizePathTest {
 protected:
  WindowsNormalizePathTest() {
    world_.services.paths = PathSyntax::Windows();
    world_.drives.network_drive = "z:";
    world_.drives.share_name = "\\\\srv\\pub";
  }

  // Adds a file, or a directory where `directory`, under the first name,
  // and the other names as further spellings of it.
  void Add(std::initializer_list<std::string> names, bool directory = false) {
    const std::string entry = "/work/" + *names.begin();
    if (directory) {
      files_.AddDirectory(entry);
    } else {
      files_.AddFile(entry, "x");
    }
    for (const std::string& name : names) {
      if (name != *names.begin()) files_.AddSymlink("/work/" + name, entry);
    }
  }
};

TEST_F(WindowsNormalizePathTest, LocalDrivePathIsUpperCased) {
  Add({"c:\\data\\File.txt", "C:\\DATA\\FILE.TXT"});
  std::string path = " c:\\data\\File.txt";
  Add({" c:\\data\\File.txt"});
  EXPECT_EQ(Normalize(path), "C:\\DATA\\FILE.TXT");
  EXPECT_EQ(path, "c:\\data\\File.txt");
}

TEST_F(WindowsNormalizePathTest, MappedDriveBecomesItsShare) {
  Add({"z:\\dir\\f.txt", "\\\\srv\\pub\\dir\\f.txt",
       "\\\\SRV\\PUB\\DIR\\F.TXT"});
  std::string path = "z:\\dir\\f.txt";
  EXPECT_EQ(Normalize(path), "\\\\SRV\\PUB\\DIR\\F.TXT");

  Add({"z:\\", "\\\\srv\\pub", "\\\\SRV\\PUB"}, /*directory=*/true);
  std::string root = "z:\\";
  EXPECT_EQ(Normalize(root), "\\\\SRV\\PUB");

  world_.drives.fail_lookup = true;
  EXPECT_EQ(Normalize(path), "");
}

TEST_F(WindowsNormalizePathTest, OneTrailingBackslashGoes) {
  Add({"C:\\Data\\", "C:\\Data", "C:\\DATA"}, /*directory=*/true);
  std::string directory = "C:\\Data\\";
  EXPECT_EQ(Normalize(directory), "C:\\DATA");
  Add({"C:\\", "C:"}, /*directory=*/true);
  std::string root = "C:\\";
  EXPECT_EQ(Normalize(root), "C:");
}

TEST_F(WindowsNormalizePathTest, NetworkPathNeedsNoDrive) {
  Add({"\\\\srv\\pub\\f.txt", "\\\\SRV\\PUB\\F.TXT"});
  world_.drives.fail_lookup = true;
  std::string path = "\\\\srv\\pub\\f.txt";
  EXPECT_EQ(Normalize(path), "\\\\SRV\\PUB\\F.TXT");
}

TEST_F(WindowsNormalizePathTest, RelativeNameIsUnusable) {
  Add({"a.txt"});
  std::string path = "a.txt";
  EXPECT_EQ(Normalize(path), "");
}

}  // namespace
}  // namespace korvik
