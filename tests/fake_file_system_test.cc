#include "tests/fake_file_system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <span>
#include <string>

#include "tests/faulty_file_system.h"

namespace korvik {
namespace {

using ::testing::ElementsAre;

std::span<const char> Bytes(const std::string& text) { return text; }

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

TEST(FakeFileSystemTest, ReplaceKeepsTheTargetsRightsAndCrossesDevices) {
  FakeFileSystem fs;
  fs.AddFile("/d/new", "new", 0600);
  fs.AddFile("/d/old", "old", 0640);
  fs.AddDirectory("/mnt", 2);
  fs.AddFile("/mnt/x", "x", 0604);
  fs.AddFile("/d/dir/y", "y");
  const auto replace = [&](const std::string& from, const std::string& to) {
    const FileHandle held = *fs.Open(from, OpenMode::kRead);
    Status done = fs.Replace(held, from, to, fs.Stat(to)->id, {});
    (void)fs.Close(held);
    return done;
  };

  ASSERT_TRUE(replace("/d/new", "/mnt/x").ok());
  EXPECT_EQ(fs.Contents("/mnt/x"), "new");
  EXPECT_EQ(fs.Mode("/mnt/x"), 0604u);
  EXPECT_EQ(fs.Stat("/mnt/x")->id.volume, 2u);
  fs.AddFile("/d/new", "newer", 0600);
  ASSERT_TRUE(replace("/d/new", "/d/old").ok());
  EXPECT_EQ(fs.Contents("/d/old"), "newer");
  EXPECT_EQ(fs.Mode("/d/old"), 0640u);
  EXPECT_FALSE(replace("/d/old", "/d/dir").ok());
  EXPECT_THAT(fs.Files(), ElementsAre("/d/dir/y", "/d/old", "/mnt/x"));
}

TEST(FakeFileSystemTest, ReplaceRefusesNamesThatLeadElsewhereByNow) {
  FakeFileSystem fs;
  fs.AddFile("/d/new", "new");
  fs.AddFile("/d/data", "data");
  fs.AddFile("/d/other", "other");
  const FileId data = fs.Stat("/d/data")->id;
  const FileHandle held = *fs.Open("/d/new", OpenMode::kRead);
  fs.AddSymlink("/d/link", "/d/data");
  // A link where the data file was, and another file under the new name.
  EXPECT_FALSE(fs.Replace(held, "/d/new", "/d/link", data, {}).ok());
  fs.AddFile("/d/new", "planted");
  EXPECT_FALSE(fs.Replace(held, "/d/new", "/d/data", data, {}).ok());
  EXPECT_EQ(fs.Contents("/d/data"), "data");
  EXPECT_EQ(fs.Contents("/d/new"), "planted");
}

TEST(FakeFileSystemTest, CreateNewRefusesAnyTakenName) {
  FakeFileSystem fs;
  fs.AddFile("/d/a", "a");
  fs.AddSymlink("/d/dangling", "/d/nowhere");
  EXPECT_EQ(fs.Open("/d/a", OpenMode::kCreateNew).error().kind(),
            ErrorKind::kAlreadyExists);
  EXPECT_EQ(fs.Open("/d/dangling", OpenMode::kCreateNew).error().kind(),
            ErrorKind::kAlreadyExists);
  EXPECT_FALSE(fs.Exists("/d/nowhere"));
  auto created = fs.Open("/d/b", OpenMode::kCreateNew);
  ASSERT_TRUE(created.ok());
  EXPECT_EQ(fs.Mode("/d/b"), 0600u);
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

TEST(FakeFileSystemTest, ReadsWritesAndCopiesLikeTheKernel) {
  FakeFileSystem fs;
  fs.AddFile("/d/a", "abc");
  const FileHandle source = *fs.Open("/d/a", OpenMode::kRead);
  const auto target = *fs.CreateUnique("/d", "t");
  EXPECT_EQ(target.path, "/d/t000001");

  char buffer[2];
  EXPECT_EQ(*fs.Read(source, buffer), 2u);
  EXPECT_EQ(*fs.ReadAt(source, buffer, 0), 2u);
  EXPECT_EQ(*fs.Read(source, buffer), 1u);
  EXPECT_EQ(buffer[0], 'c');
  ASSERT_TRUE(fs.WriteAt(target.handle, Bytes("z"), 2).ok());
  EXPECT_EQ(fs.Contents(target.path), std::string("\0\0z", 3));
  const Status copied = fs.CopyRange(source, 1, target.handle, 0, 5);
  EXPECT_EQ(copied.error().kind(), ErrorKind::kEndOfFile);
  EXPECT_EQ(fs.Contents(target.path), "bcz");
  EXPECT_TRUE(fs.Close(source).ok());
  EXPECT_TRUE(fs.Close(target.handle).ok());
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
