#include "checksum/line_ends.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace korvik {
namespace {

struct LineCase {
  const char* name;
  std::string input;
  std::string output;
  LineEndChange change;
};

const LineCase kCases[] = {
    {"CrLfLines", "a\r\nb\r\n", "a\r\nb\r\n", LineEndChange::kNone},
    {"NoFinalLineEnd", "a\r\nb", "a\r\nb\r\n", LineEndChange::kAppend},
    {"LoneCr", "a\rb", "a\r\nb\r\n", LineEndChange::kRewrite},
    {"LoneLfIsNoLineEnd", "a\nb", "a\nb\r\n", LineEndChange::kAppend},
    {"OnlyCrLf", "\r\n", "\r\n", LineEndChange::kNone},
    {"EmptyLastLine", "a\r\n\r\n", "a\r\n\r\n", LineEndChange::kNone},
    {"FinalLoneCr", "a\r", "a\r\n", LineEndChange::kAppend},
    {"OnlyLf", "\n", "\n\r\n", LineEndChange::kAppend},
    {"LfAfterCrLf", "a\r\n\n", "a\r\n\n\r\n", LineEndChange::kAppend},
    {"CrCrLf", "a\r\r\n", "a\r\n\r\n", LineEndChange::kRewrite},
    {"LfCr", "a\n\rb", "a\n\r\nb\r\n", LineEndChange::kRewrite},
    {"BinaryBytes", std::string("\0\xff\x1a", 3),
     std::string("\0\xff\x1a\r\n", 5), LineEndChange::kAppend},
    {"SealedTrailer", "x\r\n0123456789abcdef0123456789abcdef",
     "x\r\n0123456789abcdef0123456789abcdef\r\n", LineEndChange::kAppend},
};

class LineEndsTest : public testing::TestWithParam<LineCase> {};

TEST_P(LineEndsTest, RewritesByTheLineRules) {
  EXPECT_EQ(RewriteLines(GetParam().input), GetParam().output);
}

TEST_P(LineEndsTest, RewritingTwiceChangesNothingMore) {
  const std::string once = RewriteLines(GetParam().input);
  EXPECT_EQ(RewriteLines(once), once);
}

// The scanner must agree with the writer wherever the blocks are cut, and
// its suffix must turn the input into the writer's output.
TEST_P(LineEndsTest, ScannerAgreesWithWriterAtEveryBlockCut) {
  const std::string& input = GetParam().input;
  for (std::size_t cut = 0; cut <= input.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    LineEndScanner scanner;
    const std::string_view data(input);
    if (scanner.Feed(data.substr(0, cut))) scanner.Feed(data.substr(cut));
    EXPECT_EQ(scanner.Result(), GetParam().change);
    if (scanner.Result() == LineEndChange::kAppend) {
      EXPECT_EQ(input + std::string(scanner.Suffix()), GetParam().output);
    }

    LineEndWriter writer;
    std::string output;
    writer.Convert(data.substr(0, cut), output);
    writer.Convert(data.substr(cut), output);
    writer.Finish(output);
    EXPECT_EQ(output, GetParam().output);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LineEndsTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });

TEST(LineEndWriterTest, CrLfSplitAcrossManyBlocksStaysOneLineEnd) {
  LineEndWriter writer;
  std::string output;
  for (const char* block : {"a", "\r", "\n", "\r", "", "\n", "b"}) {
    writer.Convert(std::string_view(block), output);
  }
  writer.Finish(output);
  EXPECT_EQ(output, "a\r\n\r\nb\r\n");
}

// Long random texts drawn from a few bytes, so that CR and LF meet in every
// arrangement, also across the 16-byte steps of the vectorised scan.
TEST(LineEndScannerTest, AgreesWithTheWriterOnLongRandomTexts) {
  std::mt19937 random(20261207);
  const char alphabet[] = {'\r', '\n', 'a', '\r'};
  for (int round = 0; round < 2000; ++round) {
    std::string text(1 + random() % 200, ' ');
    for (char& c : text) c = alphabet[random() % 4];
    if (round % 2 == 0) text = RewriteLines(text);  // mostly clean input
    if (round % 4 == 0 && text.size() > 40) text[random() % 40] = '\r';

    LineEndScanner scanner;
    const std::size_t cut = random() % (text.size() + 1);
    const std::string_view data(text);
    if (scanner.Feed(data.substr(0, cut))) scanner.Feed(data.substr(cut));
    const std::string rewritten = RewriteLines(text);
    switch (scanner.Result()) {
      case LineEndChange::kNone:
        EXPECT_EQ(rewritten, text);
        break;
      case LineEndChange::kAppend:
        EXPECT_EQ(rewritten, text + std::string(scanner.Suffix()));
        break;
      case LineEndChange::kRewrite:
        EXPECT_NE(rewritten.substr(0, text.size()), text);
        break;
    }
  }
}

}  // namespace
}  // namespace korvik
