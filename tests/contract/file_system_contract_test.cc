// What every FileSystem promises, whichever system it talks to: held on the
// test double and on this system's back end, each also through the
// fault-injecting wrapper. Where a system cannot keep a promise, its
// capabilities say so and the case checks what they say instead.
#include "tests/contract/file_system_contract.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <span>
#include <string>
#include <vector>

#include "system_world.h"  // this system's, from its own folder
#include "tests/contract/fake_world.h"

namespace korvik {
namespace {

using ::testing::ElementsAre;

template <typename World>
class FileSystemContractTest : public testing::Test {
 public:
  FileSystem& files() { return world_.files(); }
  std::string In(const std::string& name) { return world_.In(name); }
  FileSystemCapabilities can() { return files().capabilities(); }

 protected:
  // Held folders are let go first: Windows removes no folder still held.
  void TearDown() override { files().EndTrustedWalk(); }

  World world_;
};

struct WorldName {
  template <typename World>
  static std::string GetName(int) {
    return World::Name();
  }
};

using Worlds = testing::Types<FakeWorld, Faulty<FakeWorld>, SystemWorld,
                              Faulty<SystemWorld>>;
TYPED_TEST_SUITE(FileSystemContractTest, Worlds, WorldName);

std::span<const char> Bytes(const std::string& text) { return text; }

// Reads the whole open file through the interface.
std::string ReadAll(FileSystem& files, FileHandle file) {
  std::string content;
  char buffer[64];
  for (std::uint64_t at = 0;;) {
    auto got = files.ReadAt(file, buffer, at);
    if (!got.ok() || *got == 0) return content;
    content.append(buffer, *got);
    at += *got;
  }
}

TYPED_TEST(FileSystemContractTest, StatTellsWhatANameLeadsTo) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  this->world_.MakeFolder(this->In("d"));

  auto info = files.Stat(file);
  ASSERT_TRUE(info.ok()) << info.error().description();
  EXPECT_EQ(info->kind, EntryKind::kRegular);
  EXPECT_EQ(info->size, 3u);
  EXPECT_EQ(info->links, 1u);
  EXPECT_EQ(files.StatEntry(file)->id, info->id);
  EXPECT_EQ(files.Stat(this->In("d"))->kind, EntryKind::kDirectory);
  EXPECT_NE(files.Stat(this->In("d"))->id, info->id);
  for (const std::string& nothing :
       {this->In("missing"), this->In("missing/a.txt"),
        this->In(std::string(300, 'x'))}) {
    EXPECT_EQ(files.Stat(nothing)->kind, EntryKind::kMissing) << nothing;
    EXPECT_EQ(files.StatEntry(nothing)->kind, EntryKind::kMissing) << nothing;
  }
  // One file, two names.
  this->world_.MakeHardLink(this->In("b.txt"), file);
  EXPECT_EQ(files.Stat(file)->links, 2u);
  EXPECT_EQ(files.Stat(this->In("b.txt"))->id, info->id);
  auto opened = files.Open(file, OpenMode::kRead);
  ASSERT_TRUE(opened.ok());
  EXPECT_EQ(files.StatHandle(*opened)->id, info->id);
  EXPECT_TRUE(files.Close(*opened).ok());
}

TYPED_TEST(FileSystemContractTest, EachOpenModeKeepsItsPromise) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  this->world_.MakeFolder(this->In("d"));

  EXPECT_FALSE(files.Open(this->In("d"), OpenMode::kRead).ok());
  EXPECT_EQ(files.Open(this->In("missing"), OpenMode::kRead).error().kind(),
            ErrorKind::kNotFound);
  EXPECT_FALSE(files.Open(this->In("missing"), OpenMode::kReadWrite).ok());
  EXPECT_FALSE(files.Open(this->In("missing"), OpenMode::kInspect).ok());
  EXPECT_EQ(files.Stat(this->In("missing"))->kind, EntryKind::kMissing);
  EXPECT_EQ(files.Open(file, OpenMode::kCreateNew).error().kind(),
            ErrorKind::kAlreadyExists);
  // Nor through a link that leads nowhere.
  if (this->world_.MakeLink(this->In("dangling"), this->In("nowhere"))) {
    EXPECT_EQ(
        files.Open(this->In("dangling"), OpenMode::kCreateNew).error().kind(),
        ErrorKind::kAlreadyExists);
    EXPECT_EQ(files.Stat(this->In("nowhere"))->kind, EntryKind::kMissing);
  }

  auto created = files.Open(this->In("new.txt"), OpenMode::kCreateNew);
  ASSERT_TRUE(created.ok());
  EXPECT_FALSE(files.StatHandle(*created)->open_to_others);
  EXPECT_TRUE(files.Write(*created, Bytes("new")).ok());
  EXPECT_TRUE(files.Close(*created).ok());
  EXPECT_EQ(this->world_.Contents(this->In("new.txt")), "new");

  auto inspected = files.Open(file, OpenMode::kInspect);
  ASSERT_TRUE(inspected.ok());
  EXPECT_EQ(ReadAll(files, *inspected), "abc");
  EXPECT_FALSE(files.Write(*inspected, Bytes("x")).ok());
  EXPECT_TRUE(files.Close(*inspected).ok());

  // Every write of an appending handle goes to the end, after what another
  // handle wrote meanwhile.
  auto appending = files.Open(file, OpenMode::kAppend);
  auto writing = files.Open(file, OpenMode::kCreate);
  ASSERT_TRUE(appending.ok() && writing.ok());
  EXPECT_TRUE(files.WriteAt(*writing, Bytes("def"), 3).ok());
  EXPECT_TRUE(files.Write(*appending, Bytes("g")).ok());
  EXPECT_TRUE(files.Close(*writing).ok());
  EXPECT_TRUE(files.Close(*appending).ok());
  EXPECT_EQ(this->world_.Contents(file), "abcdefg");
}

TYPED_TEST(FileSystemContractTest, ReadsWritesAndCopiesAtPositions) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  auto source = files.Open(file, OpenMode::kRead);
  auto target = files.Open(this->In("b.txt"), OpenMode::kCreate);
  ASSERT_TRUE(source.ok() && target.ok());

  char buffer[2];
  EXPECT_EQ(*files.Read(*source, buffer), 2u);
  EXPECT_EQ(*files.ReadAt(*source, buffer, 0), 2u);
  EXPECT_EQ(*files.Read(*source, buffer), 1u);
  EXPECT_EQ(buffer[0], 'c');
  EXPECT_EQ(*files.Read(*source, buffer), 0u);
  EXPECT_EQ(*files.ReadAt(*source, buffer, 10), 0u);
  // A gap reads as zeros.
  ASSERT_TRUE(files.WriteAt(*target, Bytes("z"), 2).ok());
  EXPECT_EQ(ReadAll(files, *target), std::string("\0\0z", 3));
  // A copy that runs out of source says so, after copying what there was.
  const Status copied = files.CopyRange(*source, 1, *target, 0, 5);
  EXPECT_EQ(copied.error().kind(), ErrorKind::kEndOfFile);
  EXPECT_EQ(ReadAll(files, *target), "bcz");
  ASSERT_TRUE(files.CopyRange(*source, 0, *target, 3, 3).ok());
  EXPECT_EQ(ReadAll(files, *target), "bczabc");
  // Another handle's writes at the end are never written over.
  auto other = files.Open(this->In("b.txt"), OpenMode::kReadWrite);
  ASSERT_TRUE(other.ok());
  ASSERT_TRUE(files.WriteAt(*other, Bytes("!"), 6).ok());
  ASSERT_TRUE(files.WriteAtEnd(*target, Bytes("?")).ok());
  EXPECT_EQ(ReadAll(files, *target), "bczabc!?");
  ASSERT_TRUE(files.Truncate(*other, 3).ok());
  ASSERT_TRUE(files.Sync(*other).ok());
  EXPECT_EQ(ReadAll(files, *target), "bcz");
  for (FileHandle open : {*source, *target, *other}) {
    EXPECT_TRUE(files.Close(open).ok());
  }
}

TYPED_TEST(FileSystemContractTest, CreateUniqueMakesAFreshPrivateFile) {
  FileSystem& files = this->files();
  const PathSyntax paths = this->can().paths;
  const std::string folder = paths.DirectoryOf(this->In("a.txt"));
  auto first = files.CreateUnique(folder, "t~");
  auto second = files.CreateUnique(folder, "t~");
  ASSERT_TRUE(first.ok() && second.ok());
  EXPECT_NE(first->path, second->path);
  EXPECT_EQ(paths.DirectoryOf(first->path), folder);
  EXPECT_TRUE(paths.BaseName(first->path).starts_with("t~"));
  EXPECT_EQ(paths.BaseName(first->path).size(), 8u);
  EXPECT_FALSE(files.StatHandle(first->handle)->open_to_others);
  EXPECT_TRUE(files.Write(first->handle, Bytes("x")).ok());
  EXPECT_EQ(ReadAll(files, first->handle), "x");
  EXPECT_TRUE(files.Close(first->handle).ok());
  EXPECT_TRUE(files.Close(second->handle).ok());
  EXPECT_EQ(this->world_.Names().size(), 2u);
  EXPECT_FALSE(files.CreateUnique(this->In("missing"), "t~").ok());
}

TYPED_TEST(FileSystemContractTest, ALockKeepsOutLocksButNotReaders) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  auto first = files.Open(file, OpenMode::kReadWrite);
  auto second = files.Open(file, OpenMode::kReadWrite);
  ASSERT_TRUE(first.ok() && second.ok());
  ASSERT_TRUE(files.Lock(*first).ok());
  auto taken = files.TryLock(*second);
  ASSERT_TRUE(taken.ok());
  EXPECT_FALSE(*taken);
  EXPECT_EQ(ReadAll(files, *second), "abc");
  EXPECT_TRUE(files.WriteAtEnd(*second, Bytes("d")).ok());
  EXPECT_TRUE(files.Close(*first).ok());
  taken = files.TryLock(*second);
  ASSERT_TRUE(taken.ok());
  EXPECT_TRUE(*taken);
  EXPECT_TRUE(files.Close(*second).ok());
  EXPECT_EQ(this->world_.Contents(file), "abcd");
}

TYPED_TEST(FileSystemContractTest, ASoleHandleIsToldOnlyOnceOthersAreGone) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  auto mine = files.Open(file, OpenMode::kReadWrite);
  auto other = files.Open(file, OpenMode::kRead);
  ASSERT_TRUE(mine.ok() && other.ok());
  EXPECT_FALSE(files.AwaitSoleHandle(*mine, std::chrono::milliseconds(20)));
  EXPECT_TRUE(files.Close(*other).ok());
  EXPECT_EQ(files.AwaitSoleHandle(*mine, std::chrono::milliseconds(0)),
            files.capabilities().tells_sole_handle);
  EXPECT_TRUE(files.Close(*mine).ok());
}

TYPED_TEST(FileSystemContractTest, RemoveTakesTheNameOfAnOpenFile) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  auto open = files.Open(file, OpenMode::kRead);
  ASSERT_TRUE(open.ok());
  EXPECT_TRUE(files.Remove(file).ok());
  EXPECT_EQ(ReadAll(files, *open), "abc");
  EXPECT_TRUE(files.Close(*open).ok());
  EXPECT_EQ(files.Stat(file)->kind, EntryKind::kMissing);
  EXPECT_EQ(files.Remove(file).error().kind(), ErrorKind::kNotFound);
}

TYPED_TEST(FileSystemContractTest, MayWriteTellsAReadOnlyFile) {
  FileSystem& files = this->files();
  const std::string file = this->In("a.txt");
  this->world_.MakeFile(file, "abc");
  EXPECT_TRUE(files.MayWrite(file));
  EXPECT_TRUE(files.MayWrite(this->In("")));
  if (!this->world_.MakeReadOnly(file)) GTEST_SKIP() << "writes anything";
  EXPECT_FALSE(files.MayWrite(file));
}

TYPED_TEST(FileSystemContractTest, AppendingRefusesAFilePlantedForIt) {
  FileSystem& files = this->files();
  const std::string folder = this->In("shared");
  this->world_.MakeFolder(folder);
  const std::string log = this->In("shared/ravlo.log");
  this->world_.MakeFile(log, "");
  auto own = files.Open(log, OpenMode::kAppend);
  ASSERT_TRUE(own.ok());
  EXPECT_TRUE(files.Close(*own).ok());
  if (!this->can().tells_owners || !this->world_.OpenToOthers(folder)) {
    GTEST_SKIP() << "owners and permissions are not told";
  }
  this->world_.MakeFile(this->In("victim"), "keep");
  this->world_.MakeHardLink(this->In("shared/planted.log"), this->In("victim"));
  EXPECT_FALSE(
      files.Open(this->In("shared/planted.log"), OpenMode::kAppend).ok());
  EXPECT_EQ(this->world_.Contents(this->In("victim")), "keep");
}

// A work file made as the seal makes it, holding `content`.
template <typename World>
UniqueFile MakeWorkFile(FileSystemContractTest<World>& test,
                        const std::string& content) {
  FileSystem& files = test.files();
  const std::string folder = test.can().paths.DirectoryOf(test.In("a.txt"));
  auto work = files.CreateUnique(folder, "~work");
  EXPECT_TRUE(work.ok());
  if (!work.ok()) return UniqueFile{kNoFile, ""};
  EXPECT_TRUE(files.Write(work->handle, Bytes(content)).ok());
  return *work;
}

TYPED_TEST(FileSystemContractTest, ReplacePutsTheNewContentInPlace) {
  FileSystem& files = this->files();
  const std::string target = this->In("a.txt");
  this->world_.MakeFile(target, "old");
  this->world_.SetDistinctAttributes(target);
  const std::uint32_t attributes = this->world_.AttributesOf(target);
  const FileId expected = files.Stat(target)->id;
  const UniqueFile work = MakeWorkFile(*this, "new");
  // The run's lock on the data file, kept through the replacement where
  // open files can be replaced.
  auto data = files.Open(target, OpenMode::kReadWrite);
  ASSERT_TRUE(data.ok());
  ASSERT_TRUE(files.TryLock(*data).ok());
  if (!this->can().replaces_open_files) {
    ASSERT_TRUE(files.Close(*data).ok());
  }
  int settled = 0;
  const Settle settle = [&]() -> Expected<bool> {
    if (++settled > 1) return false;
    if (Status added = files.WriteAtEnd(work.handle, Bytes("+")); !added.ok()) {
      return added.error();
    }
    return true;
  };

  Status replaced =
      files.Replace(work.handle, work.path, target, expected, settle);
  ASSERT_TRUE(replaced.ok()) << replaced.error().description();
  EXPECT_EQ(settled, 2);
  EXPECT_EQ(this->world_.Contents(target), "new+");
  EXPECT_EQ(this->world_.AttributesOf(target), attributes);
  EXPECT_THAT(this->world_.Names(), ElementsAre("a.txt"));
  // The handle holds the data file now.
  EXPECT_TRUE(files.WriteAtEnd(work.handle, Bytes("er")).ok());
  EXPECT_EQ(files.StatHandle(work.handle)->id, files.Stat(target)->id);
  EXPECT_TRUE(files.Close(work.handle).ok());
  if (this->can().replaces_open_files) {
    EXPECT_EQ(ReadAll(files, *data), "old");
    EXPECT_TRUE(files.Close(*data).ok());
  }
  EXPECT_EQ(this->world_.Contents(target), "new+er");
}

TYPED_TEST(FileSystemContractTest, ReplaceRefusesATargetNoLongerExpected) {
  FileSystem& files = this->files();
  const std::string target = this->In("a.txt");
  this->world_.MakeFile(target, "old");
  this->world_.MakeFolder(this->In("d"));
  const FileId expected = files.Stat(target)->id;
  const UniqueFile work = MakeWorkFile(*this, "new");

  EXPECT_FALSE(
      files.Replace(work.handle, work.path, target, FileId{}, {}).ok());
  EXPECT_FALSE(files
                   .Replace(work.handle, work.path, this->In("d"),
                            files.Stat(this->In("d"))->id, {})
                   .ok());
  // A link in the file's place, leading to the file itself.
  const std::string link = this->In("link.txt");
  if (this->world_.MakeLink(link, target)) {
    EXPECT_EQ(files.StatEntry(link)->kind, EntryKind::kLink);
    EXPECT_FALSE(
        files.Replace(work.handle, work.path, link, expected, {}).ok());
  }
  EXPECT_EQ(this->world_.Contents(target), "old");
  EXPECT_EQ(this->world_.Contents(work.path), "new");
  EXPECT_TRUE(files.Close(work.handle).ok());
}

TYPED_TEST(FileSystemContractTest, ReplaceNeverMovesWhatTakesTheWorkName) {
  FileSystem& files = this->files();
  const std::string target = this->In("a.txt");
  this->world_.MakeFile(target, "old");
  const FileId expected = files.Stat(target)->id;
  const UniqueFile work = MakeWorkFile(*this, "new");
  ASSERT_TRUE(this->world_.Rename(work.path, this->In("aside")));
  this->world_.MakeFile(work.path, "planted");

  Status replaced = files.Replace(work.handle, work.path, target, expected, {});
  // Where open files have names, the held file itself goes in place;
  // elsewhere the swap is refused.
  EXPECT_EQ(replaced.ok(), this->can().names_open_files);
  EXPECT_EQ(this->world_.Contents(target),
            this->can().names_open_files ? "new" : "old");
  EXPECT_EQ(this->world_.Contents(work.path), "planted");
  EXPECT_TRUE(files.Close(work.handle).ok());
}

TYPED_TEST(FileSystemContractTest, ReplaceCopiesAcrossVolumes) {
  FileSystem& files = this->files();
  const auto other = this->world_.OtherVolume();
  if (!other) GTEST_SKIP() << "no other volume";
  const std::string target = this->can().paths.Join(*other, "a.txt");
  this->world_.MakeFile(target, "old");
  this->world_.SetDistinctAttributes(target);
  const std::uint32_t attributes = this->world_.AttributesOf(target);
  const UniqueFile work = MakeWorkFile(*this, "new");

  Status replaced =
      files.Replace(work.handle, work.path, target, files.Stat(target)->id, {});
  ASSERT_TRUE(replaced.ok()) << replaced.error().description();
  EXPECT_EQ(this->world_.Contents(target), "new");
  EXPECT_EQ(this->world_.AttributesOf(target), attributes);
  EXPECT_EQ(files.Stat(work.path)->kind, EntryKind::kMissing);
  EXPECT_TRUE(this->world_.Names().empty());
  EXPECT_TRUE(files.Close(work.handle).ok());
}

// As SQLite's test VFS does: every call Replace makes fails once, in turn.
TYPED_TEST(FileSystemContractTest, ReplaceFailingAtAnyCallLeavesOneWhole) {
  FaultyFileSystem* faulty = this->world_.faulty();
  if (faulty == nullptr) GTEST_SKIP() << "not through the fault wrapper";
  FileSystem& files = this->files();
  const std::string target = this->In("a.txt");
  for (std::size_t k = 1;; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k));
    this->world_.MakeFile(target, "old");
    const FileId expected = files.Stat(target)->id;
    const UniqueFile work = MakeWorkFile(*this, "new");
    faulty->Reset();
    faulty->FailCall(k, EIO);
    Status replaced =
        files.Replace(work.handle, work.path, target, expected, {});
    const std::size_t calls = faulty->call_count();
    faulty->Reset();
    const std::string now = this->world_.Contents(target);
    EXPECT_TRUE(now == "old" || now == "new") << now;
    if (replaced.ok()) {
      EXPECT_EQ(now, "new");
    }
    EXPECT_TRUE(files.Close(work.handle).ok());
    if (files.Stat(work.path)->kind != EntryKind::kMissing) {
      EXPECT_TRUE(files.Remove(work.path).ok());
    }
    EXPECT_THAT(this->world_.Names(), ElementsAre("a.txt"));
    if (calls < k) break;  // no call was failed: all were
  }
}

TYPED_TEST(FileSystemContractTest, TrustedWalkFollowsOnlyTrustedLinks) {
  FileSystem& files = this->files();
  const std::string file = this->In("d/f.txt");
  this->world_.MakeFolder(this->In("d"));
  this->world_.MakeFile(file, "abc");

  auto walked = files.StatTrusted(file);
  ASSERT_TRUE(walked.ok()) << walked.error().description();
  ASSERT_TRUE(walked->has_value());
  EXPECT_EQ((*walked)->id, files.Stat(file)->id);
  EXPECT_TRUE(files.RealPath(file).ok());
  EXPECT_EQ(files.StatTrusted(this->In("d/missing"))->value().kind,
            EntryKind::kMissing);
  files.EndTrustedWalk();
  if (this->world_.MakeLink(this->In("own"), this->In("d"))) {
    auto own =
        files.StatTrusted(this->can().paths.Join(this->In("own"), "f.txt"));
    ASSERT_TRUE(own.ok() && own->has_value());
    EXPECT_EQ((*own)->id, files.Stat(file)->id);
  }
  if (this->world_.MakeForeignLink(this->In("theirs"), this->In("d"))) {
    auto theirs =
        files.StatTrusted(this->can().paths.Join(this->In("theirs"), "f.txt"));
    ASSERT_TRUE(theirs.ok());
    EXPECT_FALSE(theirs->has_value());
  }
}

// A folder on the path swapped for another during a seal: later calls by
// name act in the folder the walk checked, or the swap cannot happen.
TYPED_TEST(FileSystemContractTest, TrustedWalkHoldsItsFoldersUntilItEnds) {
  if (!this->can().holds_folders) GTEST_SKIP() << "holds no folder";
  if (this->can().hold_pins_folders && !this->world_.PinsHeldFolders()) {
    GTEST_SKIP() << "this system renames held folders all the same";
  }
  FileSystem& files = this->files();
  const std::string file = this->In("d/f.txt");
  this->world_.MakeFolder(this->In("d"));
  this->world_.MakeFile(file, "checked");
  auto walked = files.StatTrusted(file);
  ASSERT_TRUE(walked.ok() && walked->has_value());

  const bool swapped = this->world_.Rename(this->In("d"), this->In("aside"));
  EXPECT_EQ(swapped, !this->can().hold_pins_folders);
  if (swapped) {
    this->world_.MakeFolder(this->In("d"));
    this->world_.MakeFile(file, "decoy");
  }
  auto opened = files.Open(file, OpenMode::kReadWrite);
  ASSERT_TRUE(opened.ok());
  EXPECT_EQ(ReadAll(files, *opened), "checked");
  EXPECT_TRUE(files.Close(*opened).ok());
  EXPECT_EQ(files.Stat(file)->id, (*walked)->id);

  // Once the walk ends, names lead where they lead now.
  files.EndTrustedWalk();
  if (!swapped) {
    ASSERT_TRUE(this->world_.Rename(this->In("d"), this->In("aside")));
    this->world_.MakeFolder(this->In("d"));
    this->world_.MakeFile(file, "decoy");
  }
  EXPECT_NE(files.Stat(file)->id, (*walked)->id);
}

}  // namespace
}  // namespace korvik
