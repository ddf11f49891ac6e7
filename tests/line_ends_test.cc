#include "checksum/line_ends.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace korvik
