// The fuzz targets' checks in every build: on the seed inputs kept beside
// them, and on inputs drawn from a fixed seed. Also the reference model of
// the line rules on examples worked by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "checksum/line_ends.h"
#include "fuzz_checks.h"
#include "reference_lines.h"

namespace korvik::fuzz {
namespace {

#ifdef KORVIK_SANITIZE_BUILD
constexpr int kRounds = 4000;
#else
constexpr int kRounds = 20000;
#endif

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> Seeds(const std::string& target) {
  std::vector<Bytes> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::string(KORVIK_FUZZ_SEEDS) + "/" + target)) {
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in),
                       std::istreambuf_iterator<char>());
  }
  return seeds;
}

std::string Printable(const Bytes& input) {
  return testing::PrintToString(std::string(input.begin(), input.end()));
}

TEST(ReferenceLinesTest, ReadsLinesByTheRules) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(reference::ReadLines(""), Lines{});
  EXPECT_EQ(reference::ReadLines("\r\n"), Lines{""});
  EXPECT_EQ(reference::ReadLines("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(reference::ReadLines("a\rb\n"), (Lines{"a", "b\n"}));
  EXPECT_EQ(reference::ReadLines("\n"), Lines{"\n"});
  EXPECT_EQ(reference::ReadLines("\r\r\n\r"), (Lines{"", "", ""}));
  EXPECT_EQ(reference::Rewrite("a\n\rb"), "a\n\r\nb\r\n");
  EXPECT_EQ(reference::TrimSpaces("  a \t "), "a \t");
}

TEST(LineRewriteFuzzReplayTest, SeedsPass) {
  const auto seeds = Seeds("line_rewrite");
  ASSERT_FALSE(seeds.empty());
  for (const Bytes& seed : seeds) {
    EXPECT_EQ(CheckLineRewrite(seed), "") << Printable(seed);
  }
}

TEST(LineRewriteFuzzReplayTest, DrawnInputsPass) {
  std::mt19937 random(20261207);
  const char alphabet[] = {'\r', '\n', 'a', '\0', '\r', '\n'};
  for (int round = 0; round < kRounds; ++round) {
    const std::size_t cuts = random() % 8;
    Bytes input{static_cast<std::uint8_t>(cuts)};
    for (std::size_t i = 0; i < 2 * cuts; ++i) {
      input.push_back(static_cast<std::uint8_t>(random()));
    }
    for (std::size_t n = random() % 100; n > 0; --n) {
      input.push_back(alphabet[random() % std::size(alphabet)]);
    }
    ASSERT_EQ(CheckLineRewrite(input), "") << Printable(input);
  }
}

TEST(CommandFuzzReplayTest, SeedsPass) {
  const auto seeds = Seeds("command");
  ASSERT_FALSE(seeds.empty());
  for (const Bytes& seed : seeds) {
    EXPECT_EQ(CheckCommand(seed), "") << Printable(seed);
  }
}

TEST(CommandFuzzReplayTest, DrawnCommandsPass) {
  std::mt19937 random(20261207);
  // "" stands for a zero byte, which ends an argument.
  const char* const pieces[] = {
      "-A",    "-V",          "-G",        "-a",     "-v",    "-x",    " ",
      " ",     "/work/",      "/data/",    "a.txt",  "b.txt", "s.txt", "c.txt",
      "e.txt", "a b.txt",     ".hidden",   "ro.txt", "x~@~",  "dir",   "fifo",
      "link",  "loop",        "gone",      "..",     "/",     "\"",    "\r",
      "\n",    "~~~~MD5.TMP", "ravlo.Out", ""};
  for (int round = 0; round < kRounds / 4; ++round) {
    Bytes input{static_cast<std::uint8_t>(round % 2 == 0 ? 0 : random() % 90)};
    if (input[0] != 0) input.push_back(static_cast<std::uint8_t>(random()));
    for (std::size_t n = random() % 6; n > 0; --n) {
      const char* piece = pieces[random() % std::size(pieces)];
      if (*piece == '\0') {
        input.push_back(0);
      } else {
        input.insert(input.end(), piece, piece + std::strlen(piece));
      }
    }
    ASSERT_EQ(CheckCommand(input), "") << Printable(input);
  }
}

// Data without any byte has no lines: nothing to change.
TEST(LineEndScannerRuleTest, ScannerCallsEmptyDataUnchanged) {
  EXPECT_EQ(RewriteLines(""), "");
  LineEndScanner never_fed;
  EXPECT_EQ(never_fed.Result(), LineEndChange::kNone);
  LineEndScanner fed_nothing;
  fed_nothing.Feed({});
  EXPECT_EQ(fed_nothing.Result(), LineEndChange::kNone);
}

}  // namespace
}  // namespace korvik::fuzz
