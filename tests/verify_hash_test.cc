#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

#include "checksum/operations.h"
#include "tests/fake_platform.h"

namespace korvik {
namespace {

constexpr char kData[] = "/data/report.txt";
constexpr char kLibrary[] = "/opt/korvik/korvik.DLL";
constexpr char kFailurePrefix[] = "Error Verifying Hash : \r\n";

std::string Sealed(const std::string& body) { return body + Md5Hex(body); }

// How the body is digested: in place through MDFileHead, or through a copy
// in a work file where the library offers MDFile alone.
enum class Route { kInPlace, kWorkFile };

class VerifyHashBase : public testing::Test {
 protected:
  VerificationResult Verify(const std::string& name = kData) {
    message_ = "left by the caller";
    return VerifyHash(world_.services, name, message_);
  }
  // No file but the data file and the library is left behind.
  void ExpectNothingLeft() {
    EXPECT_EQ(files_.Files(), std::vector<std::string>({kData, kLibrary}));
    EXPECT_EQ(files_.OpenHandleCount(), 0u);
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
  std::string message_;
};

class VerifyHashTest : public VerifyHashBase,
                       public testing::WithParamInterface<Route> {
 protected:
  VerifyHashTest() {
    world_.digest.offers_head = GetParam() == Route::kInPlace;
  }
};

INSTANTIATE_TEST_SUITE_P(Routes, VerifyHashTest,
                         testing::Values(Route::kInPlace, Route::kWorkFile),
                         [](const testing::TestParamInfo<Route>& info) {
                           return info.param == Route::kInPlace ? "InPlace"
                                                                : "WorkFile";
                         });

TEST_P(VerifyHashTest, SealedFileMatches) {
  files_.AddFile(kData, Sealed("a\r\nb\r\n"));
  EXPECT_EQ(Verify(), VerificationResult::kMatch);
  EXPECT_EQ(message_, "Checksum Matches File Contents.");
  ExpectNothingLeft();
}

TEST_P(VerifyHashTest, AnyChangedByteIsAMismatch) {
  const std::string sealed = Sealed("a\r\nb\r\n");
  for (std::size_t i = 0; i < sealed.size(); ++i) {
    std::string changed = sealed;
    changed[i] ^= 0x01;
    files_.AddFile(kData, changed);
    EXPECT_EQ(Verify(), VerificationResult::kMismatch) << i;
    EXPECT_EQ(message_, "Checksum Does Not Match File Contents");
  }
  ExpectNothingLeft();
}

TEST_P(VerifyHashTest, TrailerInUpperCaseIsAMismatch) {
  std::string sealed = Sealed("body");
  for (char& c : sealed) c = static_cast<char>(std::toupper(c));
  files_.AddFile(kData, "body" + sealed.substr(4));
  EXPECT_EQ(Verify(), VerificationResult::kMismatch);
}

TEST_P(VerifyHashTest, UnsealedTextOfMoreThan32BytesIsAMismatch) {
  files_.AddFile(kData, std::string(40, 'x'));
  EXPECT_EQ(Verify(), VerificationResult::kMismatch);
}

TEST_P(VerifyHashTest, ThirtyTwoBytesHoldNoHashButThirtyThreeDo) {
  files_.AddFile(kData, std::string(32, 'a'));
  EXPECT_EQ(Verify(), VerificationResult::kNotChecked);
  EXPECT_EQ(message_, "File Does not Contain any Hash.");
  ExpectNothingLeft();

  files_.AddFile(kData, Sealed("x"));
  EXPECT_EQ(Verify(), VerificationResult::kMatch);
}

TEST_P(VerifyHashTest, UnusableNamesAreInvalid) {
  files_.AddDirectory("/data/dir");
  files_.AddFile("/data/.hidden", Sealed("x"));
  files_.AddSystemEntry("/data/fifo");
  for (const char* name :
       {"", "/data/missing", "/data/dir", "/data/.hidden", "/data/fifo"}) {
    EXPECT_EQ(Verify(name), VerificationResult::kNotChecked) << name;
    EXPECT_EQ(message_, "Invalid/Missing File Name!");
  }
}

TEST_P(VerifyHashTest, MissingLibraryIsReportedAfterAMissingName) {
  ASSERT_TRUE(files_.Remove(kLibrary).ok());
  EXPECT_EQ(Verify("/data/missing"), VerificationResult::kNotChecked);
  EXPECT_EQ(message_, "Invalid/Missing File Name!");

  files_.AddFile(kData, Sealed("x"));
  EXPECT_EQ(Verify(), VerificationResult::kNotChecked);
  EXPECT_EQ(message_,
            " Unexpected Error :  Checksum Library files korvik.DLL) are "
            "missing.");
  EXPECT_EQ(world_.digest.calls, 0);
}

TEST_P(VerifyHashTest, UnreadableFileIsAFailureWithItsDescription) {
  files_.AddFile(kData, Sealed("x"), 0200);
  EXPECT_EQ(Verify(), VerificationResult::kNotChecked);
  EXPECT_TRUE(message_.starts_with(kFailurePrefix)) << message_;
  EXPECT_NE(message_.find("Permission denied"), std::string::npos);
  ExpectNothingLeft();
}

TEST_P(VerifyHashTest, FailingDigestLibraryIsAFailure) {
  files_.AddFile(kData, Sealed("x"));
  world_.digest.fail = true;
  EXPECT_EQ(Verify(), VerificationResult::kNotChecked);
  EXPECT_TRUE(message_.starts_with(kFailurePrefix)) << message_;
  ExpectNothingLeft();
}

TEST_P(VerifyHashTest, ReadOnlyDirectoryUsesTheTemporaryDirectory) {
  files_.AddFile(kData, Sealed("x"));
  files_.SetMode("/data", 0555);
  EXPECT_EQ(Verify(), VerificationResult::kMatch);
  ExpectNothingLeft();
}

using WorkFileRouteTest = VerifyHashBase;

TEST_F(WorkFileRouteTest, TakenWorkFileNameIsNeverOpened) {
  world_.digest.offers_head = false;
  const std::string taken = std::string(kData) + "~@~";
  files_.AddFile(kData, Sealed("x"));
  files_.AddFile(taken, std::string(1000, 'z'));
  EXPECT_EQ(Verify(), VerificationResult::kMatch);
  EXPECT_EQ(files_.Contents(taken), std::string(1000, 'z'));
  EXPECT_EQ(files_.Files(), std::vector<std::string>({kData, taken, kLibrary}));
  EXPECT_THAT(files_.calls(),
              testing::Contains("CreateUnique /data/report.txt~@~000001"));
}

TEST_P(VerifyHashTest, RelativeNameIsUsedAsGiven) {
  files_.AddFile("/work/local.txt", Sealed("x"));
  EXPECT_EQ(Verify("local.txt"), VerificationResult::kMatch);
}

TEST_P(VerifyHashTest, DataFileIsNeverChanged) {
  const std::string sealed = Sealed("a\rb\nc");
  files_.AddFile(kData, sealed);
  Verify();
  EXPECT_EQ(files_.Contents(kData), sealed);
}

using InPlaceRouteTest = VerifyHashBase;

TEST_F(InPlaceRouteTest, CreatesNoFileAndDigestsTheBodyOnly) {
  files_.AddFile(kData, Sealed("a\r\nb\r\n"));
  EXPECT_EQ(Verify(), VerificationResult::kMatch);
  for (const std::string& call : files_.calls()) {
    EXPECT_TRUE(call == "Open /data/report.txt") << call;
  }
}

TEST_F(InPlaceRouteTest, FileSwappedWhileDigestedIsNoVerdict) {
  files_.AddFile(kData, Sealed("original"));
  // Someone else's file takes the name between the read of the trailer and
  // the library's read of the body.
  world_.digest.before_digest = [this] {
    files_.AddFile("/data/other.txt", Sealed("forged!!"));
    ASSERT_TRUE(files_.Rename("/data/other.txt", kData).ok());
  };
  EXPECT_EQ(Verify(), VerificationResult::kNotChecked);
  EXPECT_EQ(message_, std::string(kFailurePrefix) + "'" + kData +
                          "' changed while it was verified");
}

// A failure of any call is reported with its description and leaves the
// data file as it was and no work file behind.
class VerifyFailureTest
    : public VerifyHashBase,
      public testing::WithParamInterface<std::tuple<Route, int>> {
 protected:
  VerifyFailureTest() {
    world_.digest.offers_head = std::get<0>(GetParam()) == Route::kInPlace;
  }
};

TEST_P(VerifyFailureTest, FailureAtEveryCallIsReportedAndCleanedUp) {
  const std::string sealed = Sealed("a\r\nb\r\n");
  files_.AddFile(kData, sealed);
  ASSERT_EQ(Verify(), VerificationResult::kMatch);
  const std::size_t calls = world_.faulty.call_count();

  for (std::size_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k));
    world_.faulty.Reset();
    world_.faulty.FailCall(k, std::get<1>(GetParam()));
    const VerificationResult result = Verify();
    if (result == VerificationResult::kNotChecked) {
      EXPECT_TRUE(message_.starts_with(kFailurePrefix) ||
                  message_ == "Invalid/Missing File Name!" ||
                  message_.starts_with(" Unexpected Error"))
          << message_;
    } else {
      EXPECT_EQ(result, VerificationResult::kMatch);
    }
    EXPECT_EQ(files_.Contents(kData), sealed);
    // Only a failed removal of the work file itself leaves it behind; the
    // next verification empties and removes it.
    const std::string work = std::string(kData) + "~@~";
    if (world_.faulty.injected().starts_with("remove '" + work + "'")) {
      ASSERT_TRUE(files_.Remove(work).ok());
    }
    ExpectNothingLeft();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Failures, VerifyFailureTest,
    testing::Combine(testing::Values(Route::kInPlace, Route::kWorkFile),
                     testing::Values(EIO, EACCES, ENOSPC)));

}  // namespace
}  // namespace korvik
