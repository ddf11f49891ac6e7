#include "tests/fake_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <span>
#include <string>

#include "tests/faulty_file_system.h"

namespace korvik {
namespace {

TEST(FakeFileSystemTest, FollowsLinksAndReportsLoops) {
  FakeFileSystem fs;
  fs.AddFile("/d/a.txt", "abc");
  fs.AddSymlink("/d/link", "a.txt");
  fs.AddSymlink("/d/dangling", "/nowhere");
  fs.AddSymlink("/d/loop1", "loop2");
  fs.AddSymlink("/d/loop2", "loop1");

  EXPECT_EQ(fs.Stat("/d/link")->size, 3u);
  EXPECT_EQ(*fs.RealPath("/d/./link"), "/d/a.txt");
  EXPECT_EQ(fs.Stat("/d/dangling")->kind, EntryKind::kMissing);
  EXPECT_EQ(fs.Stat("/d/loop1")->kind, EntryKind::kMissing);
  EXPECT_EQ(fs.Open("/d/loop1", OpenMode::kRead).error().native_code(), ELOOP);
  EXPECT_EQ(fs.RealPath("/d/loop1").error().native_code(), ELOOP);
  EXPECT_EQ(fs.Open("/d/link", OpenMode::kInspect).error().native_code(),
            ELOOP);
  fs.set_current_directory("/d");
  EXPECT_EQ(fs.Contents("link"), "abc");
}

TEST(FakeFileSystemTest, RefusesToOpenDirectoriesAndSystemEntries) {
  FakeFileSystem fs;
  fs.AddDirectory("/d");
  fs.AddSystemEntry("/dev/fifo");
  EXPECT_EQ(fs.Stat("/dev/fifo")->kind, EntryKind::kDevice);
  EXPECT_TRUE(fs.Stat("/dev/fifo")->system);
  fs.AddFile("/d/.hidden", "");
  EXPECT_TRUE(fs.Stat("/d/.hidden")->hidden);
  EXPECT_EQ(fs.Open("/d", OpenMode::kRead).error().native_code(), EISDIR);
  EXPECT_EQ(fs.Open("/dev/fifo", OpenMode::kRead).error().native_code(), ENXIO);
  EXPECT_EQ(fs.Stat("/d/missing")->kind, EntryKind::kMissing);
  EXPECT_EQ(fs.Remove("/d/missing").error().native_code(), ENOENT);
}

TEST(FakeFileSystemTest, ChecksPermissionsUnlessRoot) {
  FakeFileSystem fs;
  fs.AddFile("/d/ro", "x", 0444);
  fs.AddFile("/locked/f", "x");
  fs.SetMode("/locked", 0555);

  EXPECT_FALSE(fs.MayWrite("/d/ro"));
  EXPECT_EQ(fs.Open("/d/ro", OpenMode::kReadWrite).error().description(),
            "open '/d/ro': Permission denied");
  EXPECT_EQ(fs.Remove("/locked/f").error().native_code(), EACCES);
  EXPECT_EQ(fs.CreateUnique("/locked", "t").error().native_code(), EACCES);
  fs.set_root(true);
  EXPECT_TRUE(fs.MayWrite("/d/ro"));
  EXPECT_TRUE(fs.Remove("/locked/f").ok());
}

TEST(FakeFileSystemTest, CatchesASecondLockOnOneFile) {
  FakeFileSystem fs;
  fs.AddFile("/d/log", "");
  const FileHandle first = *fs.Open("/d/log", OpenMode::kAppend);
  const FileHandle second = *fs.Open("/d/log", OpenMode::kAppend);
  ASSERT_TRUE(fs.Lock(first).ok());
  EXPECT_EQ(fs.Lock(second).error().native_code(), EDEADLK);
  ASSERT_TRUE(fs.Close(first).ok());
  EXPECT_TRUE(fs.Lock(second).ok());
  EXPECT_TRUE(fs.Close(second).ok());
  EXPECT_EQ(fs.OpenHandleCount(), 0u);
}

TEST(FaultyFileSystemTest, FailsExactlyTheChosenCall) {
  FakeFileSystem fake;
  fake.AddFile("/d/a", "abc");
  FaultyFileSystem fs(fake);
  fs.FailCall(2, EIO);

  EXPECT_TRUE(fs.Stat("/d/a").ok());
  EXPECT_EQ(fs.Open("/d/a", OpenMode::kRead).error().description(),
            "open '/d/a': Input/output error");
  const auto file = fs.Open("/d/a", OpenMode::kRead);
  ASSERT_TRUE(file.ok());
  EXPECT_EQ(fs.call_count(), 3u);

  fs.FailAllMatching("Close", EIO);
  EXPECT_EQ(fs.Close(*file).error().description(),
            "close '/d/a': Input/output error");
  EXPECT_EQ(fake.OpenHandleCount(), 0u);
  fs.Reset();
  EXPECT_TRUE(fs.Remove("/d/a").ok());
  EXPECT_EQ(fs.call_count(), 1u);
}

}  // namespace
}  // namespace korvik
