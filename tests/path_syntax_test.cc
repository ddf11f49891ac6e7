#include <gtest/gtest.h>

#include "platform/path.h"

namespace korvik {
namespace {

TEST(PathSyntaxTest, PosixPathsStartAtTheRoot) {
  const PathSyntax posix = PathSyntax::Posix();
  EXPECT_TRUE(posix.IsAbsolute("/data/a.txt"));
  EXPECT_FALSE(posix.IsAbsolute("a.txt"));
  EXPECT_FALSE(posix.IsAbsolute("C:\\data"));
  EXPECT_EQ(posix.WithoutTrailingSeparator("/data/"), "/data");
  EXPECT_EQ(posix.WithoutTrailingSeparator("/data//"), "/data/");
  EXPECT_EQ(posix.WithoutTrailingSeparator("/"), "/");
  EXPECT_EQ(posix.BaseName("/data/a.txt/"), "a.txt");
  EXPECT_EQ(posix.DirectoryOf("/data//a.txt"), "/data");
  EXPECT_EQ(posix.DirectoryOf("/a.txt"), "/");
  EXPECT_EQ(posix.DirectoryOf("a.txt"), ".");
  EXPECT_EQ(posix.Join("/data", "a.txt"), "/data/a.txt");
  EXPECT_EQ(posix.Join("/", "a.txt"), "/a.txt");
  // A backslash is an ordinary character of a POSIX name.
  EXPECT_EQ(posix.BaseName("/data/a\\b"), "a\\b");
}

TEST(PathSyntaxTest, WindowsPathsNameADriveOrAShare) {
  const PathSyntax windows = PathSyntax::Windows();
  EXPECT_TRUE(windows.IsAbsolute("c:\\data\\File.txt"));
  EXPECT_TRUE(windows.IsAbsolute("C:"));
  EXPECT_TRUE(windows.IsAbsolute("\\\\srv\\pub\\f.txt"));
  EXPECT_FALSE(windows.IsAbsolute("a.txt"));
  EXPECT_FALSE(windows.IsAbsolute("\\data\\a.txt"));

  // One trailing backslash goes, so the root of a drive becomes "C:";
  // forward slashes stay as they are.
  EXPECT_EQ(windows.WithoutTrailingSeparator("C:\\"), "C:");
  EXPECT_EQ(windows.WithoutTrailingSeparator("C:\\Data\\"), "C:\\Data");
  EXPECT_EQ(windows.WithoutTrailingSeparator("\\\\srv\\pub\\"), "\\\\srv\\pub");
  EXPECT_EQ(windows.WithoutTrailingSeparator("C:\\Data/"), "C:\\Data/");
}

TEST(PathSyntaxTest, WindowsPathsSplitAtEitherSlash) {
  const PathSyntax windows = PathSyntax::Windows();
  EXPECT_EQ(windows.BaseName("C:\\data/sub\\a.txt"), "a.txt");
  EXPECT_EQ(windows.DirectoryOf("C:\\data/sub\\a.txt"), "C:\\data/sub");
  EXPECT_EQ(windows.DirectoryOf("C:\\a.txt"), "C:\\");
  EXPECT_EQ(windows.DirectoryOf("C:a.txt"), "C:");
  EXPECT_EQ(windows.DirectoryOf("\\\\srv\\pub\\a.txt"), "\\\\srv\\pub\\");
  EXPECT_EQ(windows.BaseName("\\\\srv\\pub\\"), "");
  EXPECT_EQ(windows.Join("C:\\data", "a.txt"), "C:\\data\\a.txt");
  EXPECT_EQ(windows.Join("C:\\", "a.txt"), "C:\\a.txt");
}

}  // namespace
}  // namespace korvik
