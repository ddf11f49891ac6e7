#include "app/batch_run.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>

#include "app/command_line.h"
#include "app/run_log.h"
#include "checksum/line_ends.h"
#include "tests/fake_platform.h"

namespace korvik {
namespace {

const std::string kRule(80, '-');

class BatchRunTest : public testing::Test {
 protected:
  void Run(const std::string& command_text) {
    ASSERT_TRUE(Main(world_.batch, command_text).ok());
  }
  std::string Log() { return files_.Contents("/work/ravlo.log"); }
  bool MarkerExists() { return files_.Exists("/work/ravlo.Out"); }
  // Returns the sealed form of `body` in /work/<name>.
  void AddSealed(const std::string& name, const std::string& body) {
    files_.AddFile("/work/" + name, body + Md5Hex(body));
  }

  FakeWorld world_;
  FakeFileSystem& files_ = world_.files;
};

TEST_F(BatchRunTest, WorkedExampleByteForByte) {
  AddSealed("report.txt", "quarterly figures\r\n");
  Run("-v report.txt");
  EXPECT_EQ(Log(),
            "\r\n\r\n" + kRule +
                "\r\n"
                "Korvik Checksum Utility : Started : 06/12/2026 , 14:05:09\r\n"
                "Command Line Arguments : -v report.txt\r\n"
                "Operation : Verify Checksum.\r\n"
                "Result : Successful.\r\n"
                "Message : Checksum Matches File Contents.\r\n"
                "Korvik Checksum Utility : Ended : 06/12/2026 , 14:05:10\r\n" +
                kRule + "\r\n");
  EXPECT_FALSE(MarkerExists());
}

TEST_F(BatchRunTest, DateSeparatorComesFromTheLocale) {
  // A separator of several bytes is one character of a multibyte encoding.
  for (const std::string separator : {".", "\xc2\xb7"}) {
    (void)files_.Remove("/work/ravlo.log");
    world_.locale.separator = separator;
    Run("-V x");
    EXPECT_NE(
        Log().find("Started : 06" + separator + "12" + separator + "2026 , "),
        std::string::npos)
        << Log();
  }
}

TEST(RunLogTest, DateNumbersAreZeroPaddedAsPrintfWould) {
  const struct {
    int day, month, year;
  } kDates[] = {{1, 1, 2026},   {9, 12, 1999}, {31, 10, 999},
                {15, 6, 10000}, {28, 2, -45},  {0, 0, 1900}};
  for (const auto& d : kDates) {
    std::tm date{};
    date.tm_mday = d.day;
    date.tm_mon = d.month - 1;
    date.tm_year = d.year - 1900;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%02d-*-%02d-*-%04d", d.day,
                  d.month, d.year);
    EXPECT_EQ(FormatLogDate(date, "-*-"), expected);
  }
}

TEST_F(BatchRunTest, UnknownSwitchFailsWithAnEmptyMessageLine) {
  Run("-X report.txt");
  const std::string expected =
      "\r\n\r\n" + kRule +
      "\r\nKorvik Checksum Utility : Started : 06/12/2026 , 14:05:09\r\n"
      "Command Line Arguments : -X report.txt\r\n"
      "Invalid Command Line Arguments !\r\n"
      "Result : Failed!\r\n"
      "\r\n"
      "Korvik Checksum Utility : Ended : 06/12/2026 , 14:05:10\r\n" +
      kRule + "\r\n";
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(files_.Contents("/work/ravlo.Out"), expected);
}

TEST_F(BatchRunTest, CommandsTooShortToDecodeAreCaughtErrors) {
  for (const std::string command : {"   ", "V", " x "}) {
    (void)files_.Remove("/work/ravlo.log");
    Run(command);
    EXPECT_NE(Log().find("Command Line Arguments : " + command +
                         "\r\nInvalid Command Line Arguments : " + command +
                         "\r\nUnexpected Error : "),
              std::string::npos)
        << Log();
    EXPECT_NE(Log().find("\r\nResult : Failed!\r\n\r\nKorvik"),
              std::string::npos);
    EXPECT_TRUE(MarkerExists());
    EXPECT_EQ(world_.interactive.offers, 0);
  }
}

TEST_F(BatchRunTest, TwoCharacterCommandStillRuns) {
  Run("-V");
  EXPECT_NE(Log().find("Invalid Command Line Arguments : -V\r\n"
                       "Operation : Verify Checksum.\r\n"
                       "Result : Failed!\r\n"
                       "Message : Invalid/Missing File Name!"),
            std::string::npos)
      << Log();
  EXPECT_TRUE(MarkerExists());
}

TEST_F(BatchRunTest, SwitchesIgnoreLetterCaseAndNeedNoBlank) {
  for (const char* command : {"-a /work/a.txt", "-g /work/a.txt",
                              "-A/work/a.txt", "-G  /work/a.txt"}) {
    files_.AddFile("/work/a.txt", "line\n");
    Run(command);
    EXPECT_FALSE(MarkerExists()) << command;
    EXPECT_EQ(files_.Contents("/work/a.txt"),
              "line\n\r\n" + Md5Hex("line\n\r\n"));
  }
  Run("-v/work/a.txt");
  EXPECT_FALSE(MarkerExists());
  EXPECT_NE(Log().rfind("Message : Checksum Matches File Contents."),
            std::string::npos);
}

TEST_F(BatchRunTest, SuccessfulAppendLogsTheCanonicalName) {
  files_.AddFile("/work/a.txt", "x\r\n");
  Run("-A /work/a.txt");
  EXPECT_NE(Log().find("Operation : Append Checksum.\r\n"
                       "Result : Successful.\r\n"
                       "Message : Hash Appended successfully to : "
                       "/work/a.txt\r\n"),
            std::string::npos);
}

TEST_F(BatchRunTest, FailedRewriteIsLoggedAndGenerationStillRuns) {
  files_.AddFile("/work/empty.txt", "");
  Run("-A /work/empty.txt");
  EXPECT_NE(Log().find("Result : Error Occured while trying to open the file "
                       ":/work/empty.txt\r\n"
                       "Operation : Append Checksum.\r\n"
                       "Result : Failed!\r\n"
                       "Message : Error occured while trying to open file : "
                       "/work/empty.txt\r\n"),
            std::string::npos)
      << Log();
  EXPECT_TRUE(MarkerExists());
}

TEST_F(BatchRunTest, RelativeNameIsRewrittenButNotSealed) {
  files_.AddFile("/work/a.txt", "x");
  Run("-A a.txt");
  EXPECT_EQ(files_.Contents("/work/a.txt"), "x\r\n");
  EXPECT_NE(Log().find("Message : Invalid/Missing File Name!"),
            std::string::npos);
  EXPECT_TRUE(MarkerExists());
}

TEST_F(BatchRunTest, MismatchIsASuccessfulRun) {
  files_.AddFile("/work/a.txt", std::string(40, 'x'));
  Run("-V a.txt");
  EXPECT_NE(Log().find("Result : Successful.\r\n"
                       "Message : Checksum Does Not Match File Contents\r\n"),
            std::string::npos);
  EXPECT_FALSE(MarkerExists());
}

TEST_F(BatchRunTest, OldMarkerIsDeletedUnderBothOfItsNames) {
  files_.AddFile("/work/Ravlo.out", "old");
  files_.AddFile("/work/ravlo.Out", "old");
  // On a file system that tells letter case apart, another spelling is
  // someone else's file.
  files_.AddFile("/work/RAVLO.OUT", "not the program's");
  files_.AddFile("/work/ravlo.log", "earlier runs\r\n");
  AddSealed("a.txt", "x");
  Run("-V a.txt");
  EXPECT_FALSE(files_.Exists("/work/Ravlo.out"));
  EXPECT_FALSE(MarkerExists());
  EXPECT_EQ(files_.Contents("/work/RAVLO.OUT"), "not the program's");
  EXPECT_TRUE(Log().starts_with("earlier runs\r\n\r\n\r\n" + kRule));
}

TEST_F(BatchRunTest, EmptyCommandOffersInteractiveModeAndLogsNothing) {
  files_.AddFile("/work/Ravlo.out", "old");
  Run("");
  EXPECT_EQ(world_.interactive.offers, 1);
  EXPECT_FALSE(files_.Exists("/work/Ravlo.out"));
  EXPECT_FALSE(files_.Exists("/work/ravlo.log"));
}

TEST_F(BatchRunTest, UndeletableMarkerSkipsStraightToTheResult) {
  files_.AddFile("/work/ravlo.Out", "old");
  world_.faulty.FailAllMatching("Remove", EACCES);
  Run("");
  EXPECT_EQ(world_.interactive.offers, 0);
  EXPECT_TRUE(Log().starts_with("\r\nUnexpected Error : "));
  EXPECT_NE(Log().find("Permission denied\r\nResult : Failed!\r\n\r\n"
                       "Korvik Checksum Utility : Ended : "),
            std::string::npos)
      << Log();
}

TEST_F(BatchRunTest, UnwritableLogIsReportedToTheCaller) {
  world_.faulty.FailAllMatching("Open", EROFS);
  const Status written = Main(world_.batch, "-V a.txt");
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().native_code(), EROFS);
}

// A sealed file is digested once: where the library can be fed piece by
// piece, as the rewrite's scan reads it (a file in order, or one short of
// its last line end) or as the rewrite writes it (a new file); otherwise by
// name, once the rewrite is done.
TEST_F(BatchRunTest, FileIsDigestedOnceWhenSealed) {
  for (const bool piece_by_piece : {true, false}) {
    world_.digest.offers_stream = piece_by_piece;
    for (const std::string text : {"a\r\nb\r\n", "a\nb", "a\r", "a\rb\r\n"}) {
      SCOPED_TRACE(testing::PrintToString(text) +
                   (piece_by_piece ? " piece by piece" : " by name"));
      files_.AddFile("/data/sealed.txt", text);
      world_.digest.calls = 0;
      world_.digest.streams = 0;
      Run("-A /data/sealed.txt");
      const std::string rewritten = RewriteLines(text);
      EXPECT_EQ(files_.Contents("/data/sealed.txt"),
                rewritten + Md5Hex(rewritten));
      EXPECT_EQ(world_.digest.streams, piece_by_piece ? 1 : 0);
      EXPECT_EQ(world_.digest.calls + world_.digest.streams, 1);
      EXPECT_FALSE(MarkerExists());
    }
  }
}

TEST_F(BatchRunTest, TwoRunsLeaveTwoLogsInOrder) {
  Run("-X first");
  Run("-X second");
  const std::string log = Log();
  EXPECT_LT(log.find("-X first"), log.find("-X second"));
  EXPECT_EQ(files_.Contents("/work/ravlo.Out").find("-X first"),
            std::string::npos);
}

TEST(CommandLineTest, KeepsQuotesAndTrimsTheName) {
  auto decoded = DecodeCommand("-A  \"/a.txt\" ");
  ASSERT_TRUE(decoded.ok());
  EXPECT_EQ(decoded->switch_text, "-A");
  EXPECT_EQ(decoded->file_name, "\"/a.txt\"");
}

}  // namespace
}  // namespace korvik
