#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <string>

#include "checksum/clean_file_memo.h"
#include "checksum/digest_route.h"
#include "checksum/line_ends.h"
#include "checksum/operations.h"
#include "checksum/rewrite.h"
#include "checksum/seal_lock.h"
#include "tests/fake_platform.h"

namespace korvik {
namespace {

constexpr char kData[] = "/data/orders.txt";
constexpr char kWork[] = "/work/~~~~MD5.TMP";
// The size of the blocks the rewrite reads.
constexpr std::size_t kBlock = std::size_t{1} << 20;

class RewriteAsTextTest : public testing::Test {
 protected:
  Expected<bool> Rewrite(RewriteStrategy strategy = RewriteStrategy::kMinimal) {
    return RewriteAsText(world_.services, kData, strategy);
  }
  bool RewriteOk() {
    auto result = Rewrite();
    return result.ok() && *result;
  }
  // Rewrites as a seal's step does: its digest made alongside where the
  // library takes pieces, what it learned kept in `memo`.
  Expected<Rewritten> RewriteInSeal(CleanFileMemo& memo,
                                    const std::string& name = kData) {
    SealLock lock(world_.services.files);
    return RewriteHeldFile(world_.services,
                           DigestRoute::ForSeal(world_.digest, nullptr), lock,
                           memo, name, RewriteStrategy::kMinimal);
  }
  bool RewriteInSealOk(CleanFileMemo& memo) {
    auto result = RewriteInSeal(memo);
    return result.ok() && result->done();
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
};

TEST_F(RewriteAsTextTest, EveryStrategyWritesTheSameBytes) {
  for (const std::string input : {"a\r\nb\r\n", "a\r\nb", "a\rb", "a\nb",
                                  "\r\n", "a\r", "\r\r\r", "x\ny\rz\r\n\n"}) {
    for (auto strategy :
         {RewriteStrategy::kMinimal, RewriteStrategy::kAlwaysWhole}) {
      SCOPED_TRACE(testing::PrintToString(input));
      files_.AddFile(kData, input);
      auto result = Rewrite(strategy);
      ASSERT_TRUE(result.ok());
      EXPECT_TRUE(*result);
      EXPECT_EQ(files_.Contents(kData), RewriteLines(input));
      EXPECT_FALSE(files_.Exists(kWork));
      EXPECT_EQ(files_.OpenHandleCount(), 0u);
    }
  }
}

TEST_F(RewriteAsTextTest, WritesNothingWhenTheBytesWouldNotChange) {
  files_.AddFile(kData, "a\r\nb\r\n");
  ASSERT_TRUE(RewriteOk());
  for (const std::string& call : files_.calls()) {
    EXPECT_TRUE(call.find(kData) == std::string::npos ||
                call.starts_with("Open") || call.starts_with("TryLock"))
        << call;
  }
}

TEST_F(RewriteAsTextTest, AppendsAMissingFinalLineEndInPlace) {
  files_.AddFile(kData, "a\nb");
  ASSERT_TRUE(RewriteOk());
  EXPECT_EQ(files_.Contents(kData), "a\nb\r\n");
  for (const std::string& call : files_.calls()) {
    EXPECT_FALSE(call.starts_with("Rename")) << call;
  }
}

TEST_F(RewriteAsTextTest, EmptyFileIsRefusedAndUntouched) {
  files_.AddFile(kData, "");
  auto result = Rewrite();
  ASSERT_TRUE(result.ok());
  EXPECT_FALSE(*result);
  EXPECT_EQ(files_.Contents(kData), "");
  EXPECT_FALSE(files_.Exists(kWork));
}

TEST_F(RewriteAsTextTest, MissingFileLeavesALeftoverWorkFileAlone) {
  files_.AddFile(kWork, "leftover");
  auto result = Rewrite();
  ASSERT_TRUE(result.ok());
  EXPECT_FALSE(*result);
  EXPECT_EQ(files_.Contents(kWork), "leftover");
}

TEST_F(RewriteAsTextTest, DirectoriesHiddenFilesAndSystemEntriesAreRefused) {
  files_.AddDirectory("/data/dir");
  files_.AddFile("/data/.hidden", "a\rb");
  files_.AddSystemEntry("/data/fifo");
  for (const char* name : {"/data/dir", "/data/.hidden", "/data/fifo", ""}) {
    auto result = RewriteAsText(world_.services, name);
    ASSERT_TRUE(result.ok());
    EXPECT_FALSE(*result) << name;
  }
  EXPECT_EQ(files_.Contents("/data/.hidden"), "a\rb");
}

TEST_F(RewriteAsTextTest, RemovesALeftoverWorkFile) {
  files_.AddFile(kWork, "leftover from a stopped run");
  files_.AddFile(kData, "a\rb");
  ASSERT_TRUE(RewriteOk());
  EXPECT_FALSE(files_.Exists(kWork));
}

TEST_F(RewriteAsTextTest, LeftoverThatCannotBeUsedNorRemovedIsAnError) {
  files_.AddFile(kWork, "leftover", 0400);
  files_.AddFile(kData, "a\rb");
  world_.faulty.FailAllMatching("Remove", EBUSY);
  auto result = Rewrite();
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().native_code(), EBUSY);
  EXPECT_EQ(files_.Contents(kData), "a\rb");
}

TEST_F(RewriteAsTextTest, ReadOnlyFileIsRefusedBeforeAnythingIsWritten) {
  files_.AddFile(kData, "a\rb", 0444);
  auto result = Rewrite();
  ASSERT_TRUE(result.ok());
  EXPECT_FALSE(*result);
  EXPECT_EQ(files_.Contents(kData), "a\rb");
  EXPECT_FALSE(files_.Exists(kWork));
}

TEST_F(RewriteAsTextTest, EveryRefusalSaysWhatWasRefusedAndWhy) {
  files_.AddFile("/data/empty.txt", "");
  files_.AddFile("/data/read-only.txt", "a\rb", 0444);
  files_.AddDirectory("/data/dir");
  files_.AddFile(kWork, "a\rb");
  // The work file first: the runs after it take it for a leftover.
  const std::pair<std::string, std::string> cases[] = {
      {kWork, "it is the work file itself"},
      {"/data/empty.txt", "it is empty"},
      {"/data/read-only.txt", "Permission denied"},
      {"/data/dir", "it names no ordinary file"},
  };
  for (const auto& [name, why] : cases) {
    SCOPED_TRACE(name);
    CleanFileMemo memo;
    auto result = RewriteInSeal(memo, name);
    ASSERT_TRUE(result.ok()) << result.error().description();
    ASSERT_FALSE(result->done());
    const std::string& refusal = result->refusal().description();
    EXPECT_TRUE(refusal.starts_with("'" + name + "' is not rewritten: "))
        << refusal;
    EXPECT_NE(refusal.find(why), std::string::npos) << refusal;
  }
  EXPECT_EQ(files_.Contents("/data/read-only.txt"), "a\rb");
}

TEST_F(RewriteAsTextTest, KeepsThePermissionsOfTheDataFile) {
  files_.AddFile(kData, "a\rb", 0600);
  ASSERT_TRUE(RewriteOk());
  EXPECT_EQ(files_.Mode(kData), 0600u);
}

TEST_F(RewriteAsTextTest, RewritesTheTargetOfASymbolicLink) {
  files_.AddFile("/data/real.txt", "a\rb");
  files_.AddSymlink(kData, "/data/real.txt");
  ASSERT_TRUE(RewriteOk());
  EXPECT_EQ(files_.Contents("/data/real.txt"), "a\r\nb\r\n");
  auto link = files_.RealPath(kData);
  ASSERT_TRUE(link.ok());
  EXPECT_EQ(*link, "/data/real.txt");
}

TEST_F(RewriteAsTextTest, RefusesTheWorkFileItselfAndKeepsItsContent) {
  files_.AddFile(kWork, "a\rb");
  auto result = RewriteAsText(world_.services, kWork);
  ASSERT_TRUE(result.ok());
  EXPECT_FALSE(*result);
  EXPECT_EQ(files_.Contents(kWork), "a\rb");
}

TEST_F(RewriteAsTextTest,
       WorksBesideTheDataFileWhenTheCurrentDirectoryIsReadOnly) {
  files_.SetMode("/work", 0555);
  files_.AddFile(kData, "a\rb");
  ASSERT_TRUE(RewriteOk());
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\n");
  EXPECT_EQ(files_.Files(),
            std::vector<std::string>({kData, "/opt/korvik/korvik.DLL"}));
}

TEST_F(RewriteAsTextTest, CopiesAcrossFileSystemsThroughAFileBesideTheData) {
  files_.AddDirectory("/data", 2);
  files_.AddFile(kData, "a\rb", 0640);
  ASSERT_TRUE(RewriteOk());
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\n");
  EXPECT_EQ(files_.Mode(kData), 0640u);
  EXPECT_EQ(files_.Files(),
            std::vector<std::string>({kData, "/opt/korvik/korvik.DLL"}));
}

TEST_F(RewriteAsTextTest, CleanFileIsNotReadAgainUntilItChanges) {
  CleanFileMemo memo;
  files_.AddFile(kData, "a\r\nb\r\n");
  ASSERT_TRUE(RewriteInSealOk(memo));

  world_.faulty.FailAllMatching("ReadAt", EIO);
  auto again = RewriteInSeal(memo);
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again->done()) << "a second read was made";
  world_.faulty.Reset();

  // The same file and size with one byte changed is read again.
  auto opened = files_.Open(kData, OpenMode::kReadWrite);
  ASSERT_TRUE(opened.ok());
  ASSERT_TRUE(files_.WriteAt(*opened, std::string_view("x"), 5).ok());
  ASSERT_TRUE(files_.Close(*opened).ok());
  ASSERT_TRUE(RewriteInSealOk(memo));
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\nx\r\n");
}

// A sealing run's rewrite digests the bytes it writes, block by block on the
// other core, where the library can be fed piece by piece; the memo then
// holds the new file with that digest, and nothing reads the file again.
class RewriteDigestTest : public RewriteAsTextTest,
                          public testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { world_.digest.offers_stream = GetParam(); }

  CleanFileMemo memo_;
};

TEST_P(RewriteDigestTest, RewrittenFileIsRememberedWithTheDigestOfItsBytes) {
  // Several blocks, with line ends of every kind across their borders.
  std::string original;
  for (int i = 0; original.size() < 3 * kBlock + 5; ++i) {
    original += "line " + std::to_string(i) + "\r\r\n\n"[i % 3] +
                std::string(i % 7, 'x');
  }
  files_.AddFile(kData, original);
  ASSERT_TRUE(RewriteInSealOk(memo_));
  const std::string rewritten = RewriteLines(original);
  ASSERT_EQ(files_.Contents(kData), rewritten);

  auto info = files_.Stat(kData);
  ASSERT_TRUE(info.ok());
  EXPECT_TRUE(memo_.Holds(*info));
  if (GetParam()) {
    EXPECT_EQ(memo_.DigestOf(*info), Md5Hex(rewritten));
  } else {
    EXPECT_EQ(memo_.DigestOf(*info), std::nullopt);
  }
  EXPECT_EQ(world_.digest.streams, GetParam() ? 1 : 0);
  EXPECT_EQ(world_.digest.calls, 0);

  world_.faulty.FailAllMatching("ReadAt", EIO);
  auto again = RewriteInSeal(memo_);
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again->done()) << "the rewritten file was read again";
}

// A file that needs no new file is digested as the scan reads it: the memo
// then holds it, its last line end added where it lacked one, with the
// digest of its bytes.
TEST_P(RewriteDigestTest, FileInOrderIsRememberedWithTheDigestOfWhatWasRead) {
  std::string lines;
  for (int i = 0; lines.size() < 2 * kBlock + 5; ++i) {
    lines += "line " + std::to_string(i) + std::string(i % 7, 'x') + "\r\n";
  }
  for (const std::string& original :
       {lines, lines + "last", lines + "last\r", std::string("a\nb")}) {
    SCOPED_TRACE(original.size());
    files_.AddFile(kData, original);
    world_.digest.streams = 0;
    ASSERT_TRUE(RewriteInSealOk(memo_));
    const std::string rewritten = RewriteLines(original);
    ASSERT_EQ(files_.Contents(kData), rewritten);

    auto info = files_.Stat(kData);
    ASSERT_TRUE(info.ok());
    EXPECT_TRUE(memo_.Holds(*info));
    EXPECT_EQ(memo_.DigestOf(*info),
              GetParam() ? std::optional(Md5Hex(rewritten)) : std::nullopt);
    EXPECT_EQ(world_.digest.streams, GetParam() ? 1 : 0);
    EXPECT_EQ(world_.digest.calls, 0);

    world_.faulty.FailAllMatching("ReadAt", EIO);
    auto again = RewriteInSeal(memo_);
    world_.faulty.Reset();
    ASSERT_TRUE(again.ok());
    EXPECT_TRUE(again->done()) << "the file was read again";
    EXPECT_EQ(files_.Contents(kData), rewritten);
  }
}

TEST_P(RewriteDigestTest, FailedDigestLeavesTheRewriteDoneAndTheDigestUnknown) {
  world_.digest.fail_stream_updates = true;
  files_.AddFile(kData, "a\rb");
  ASSERT_TRUE(RewriteInSealOk(memo_));
  EXPECT_EQ(files_.Contents(kData), "a\r\nb\r\n");
  auto info = files_.Stat(kData);
  ASSERT_TRUE(info.ok());
  EXPECT_EQ(memo_.DigestOf(*info), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Routes, RewriteDigestTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "PieceByPiece" : "FileAfter";
                         });

// A failure of any file call leaves the data file as it was or completely
// rewritten, and no work file behind.
class RewriteFailureTest
    : public RewriteAsTextTest,
      public testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(RewriteFailureTest, DataFileIsWholeAfterAFailureAtEveryCall) {
  const auto [other_device, code] = GetParam();
  const std::string original = "first\rsecond\r\nthird";
  const std::string rewritten = RewriteLines(original);
  if (other_device) files_.AddDirectory("/data", 2);
  files_.AddFile(kData, original);
  ASSERT_TRUE(RewriteOk());
  const std::size_t calls = world_.faulty.call_count();
  ASSERT_GT(calls, 5u);

  for (std::size_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k));
    files_.AddFile(kData, original);
    CleanFileMemo memo;
    world_.faulty.Reset();
    world_.faulty.FailCall(k, code);
    auto result = RewriteInSeal(memo);
    const std::string now = files_.Contents(kData);
    EXPECT_TRUE(now == original || now == rewritten);
    if (result.ok() && result->done()) {
      EXPECT_EQ(now, rewritten);
    }
    // What the memo holds after a failure is still true of the file.
    auto info = files_.Stat(kData);
    ASSERT_TRUE(info.ok());
    if (memo.Holds(*info)) {
      EXPECT_EQ(now, rewritten);
      EXPECT_EQ(memo.DigestOf(*info).value_or(Md5Hex(now)), Md5Hex(now));
    }
    // Only a failed removal of the work file itself leaves it behind; the
    // next run removes it.
    if (world_.faulty.injected().starts_with("remove '/work/~~~~MD5.TMP'")) {
      ASSERT_TRUE(files_.Remove(kWork).ok());
    }
    EXPECT_EQ(files_.Files(),
              std::vector<std::string>({kData, "/opt/korvik/korvik.DLL"}));
    EXPECT_EQ(files_.OpenHandleCount(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RewriteFailureTest,
    testing::Combine(testing::Bool(), testing::Values(EIO, ENOSPC, EACCES)));

}  // namespace
}  // namespace korvik
