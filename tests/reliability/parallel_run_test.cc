// Many runs at once from one shared current directory, as `xargs -P` makes
// them: eight at a time seal hundreds of small files, then eight at a time
// verify them, several verifying one file at the same moment. Every run
// keeps to its own file and writes its own whole run log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/fuzz/reference_lines.h"
#include "tests/reliability/program_runs.h"

namespace korvik::reliability {
namespace {

constexpr std::size_t kWidth = 8;  // runs at a time

// Runs every command, at most `width` at a time, and returns their
// outcomes in the order of the commands.
std::vector<cli::Outcome> RunAll(
    const Workspace& workspace,
    const std::vector<std::vector<std::string>>& runs, std::size_t width) {
  std::vector<cli::Outcome> outcomes(runs.size());
  std::deque<std::pair<std::size_t, std::unique_ptr<cli::Child>>> running;
  auto finish_oldest = [&] {
    outcomes[running.front().first] = running.front().second->Wait(60);
    running.pop_front();
  };
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (running.size() == width) finish_oldest();
    running.emplace_back(
        i, std::make_unique<cli::Child>(workspace.Korvik(runs[i])));
  }
  while (!running.empty()) finish_oldest();
  return outcomes;
}

// Small texts with every kind of line end: some already in order, some
// missing only the last line end, most with lone CRs and LFs.
std::string MixedText(std::mt19937& random, int kind) {
  static const char* const kPieces[] = {"words", " ",          "\r\n", "\r",
                                        "\n",    "0123456789", "\t",   "x"};
  std::uniform_int_distribution<int> count(1, 200);
  std::uniform_int_distribution<int> piece(0, 7);
  std::string text;
  for (int n = count(random); n > 0; --n) text += kPieces[piece(random)];
  switch (kind) {
    case 0:
      return reference::Rewrite(text);
    case 1: {
      std::string clean = reference::Rewrite(text + "end");
      clean.resize(clean.size() - 2);
      return clean;
    }
    default:
      return text + "\r" + text;
  }
}

std::string Joined(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    text += (text.empty() ? "" : " ") + argument;
  }
  return text;
}

TEST(ParallelRunTest, RunsFromOneDirectoryKeepFilesAndLogsApart) {
  const int files = kSanitized ? 200 : 400;
  constexpr int kHotFiles = 5;  // each verified by kWidth runs at once

  Workspace workspace;
  std::mt19937 random(20261207);
  std::vector<std::string> paths;
  std::vector<std::string> contents;
  std::vector<std::vector<std::string>> seals;
  for (int i = 0; i < files; ++i) {
    paths.push_back(workspace.Data("file-" + std::to_string(i) + ".txt"));
    contents.push_back(MixedText(random, i % 3));
    cli::WriteFile(paths.back(), contents.back());
    seals.push_back({"-A", paths.back()});
  }
  // Every file once, by absolute or relative name, and between them the
  // hot files, each by kWidth runs in a row.
  std::vector<std::vector<std::string>> verifications;
  const int spacing = files / kHotFiles;
  for (int i = 0; i < files; ++i) {
    const std::string relative = "../data/file-" + std::to_string(i) + ".txt";
    verifications.push_back({"-V", i % 2 == 0 ? paths[i] : relative});
    if (i % spacing == spacing / 2) {
      for (std::size_t k = 0; k < kWidth; ++k) {
        verifications.push_back({"-v", paths[i]});
      }
    }
  }

  const auto sealed = RunAll(workspace, seals, kWidth);
  for (const auto& outcome : sealed) ExpectLoggedRun(outcome);
  const auto verified = RunAll(workspace, verifications, kWidth);
  for (const auto& outcome : verified) ExpectLoggedRun(outcome);

  // Every run log whole and in the layout of its run.
  const std::vector<RunLogRecord> logs = workspace.Logs();
  const std::size_t runs = seals.size() + verifications.size();
  EXPECT_EQ(logs.size(), runs);
  std::map<std::string, int> logged;
  for (const RunLogRecord& log : logs) {
    ASSERT_EQ(log.lines.size(), 6u) << log.text;
    EXPECT_TRUE(IsStamp(log.lines[0], "Korvik Checksum Utility : Started : "))
        << log.text;
    EXPECT_TRUE(IsStamp(log.lines[5], "Korvik Checksum Utility : Ended : "))
        << log.text;
    const std::string prefix = "Command Line Arguments : ";
    ASSERT_TRUE(log.lines[1].starts_with(prefix)) << log.text;
    const std::string command = log.lines[1].substr(prefix.size());
    ++logged[command];
    std::vector<std::string> expected;
    if (command.starts_with("-A ")) {
      expected = {
          "Operation : Append Checksum.", "Result : Successful.",
          "Message : Hash Appended successfully to : " + command.substr(3)};
    } else {
      expected = {"Operation : Verify Checksum.", "Result : Successful.",
                  "Message : Checksum Matches File Contents."};
    }
    EXPECT_EQ(
        std::vector<std::string>(log.lines.begin() + 2, log.lines.begin() + 5),
        expected)
        << log.text;
  }
  std::map<std::string, int> issued;
  for (const auto& run : seals) ++issued[Joined(run)];
  for (const auto& run : verifications) ++issued[Joined(run)];
  EXPECT_EQ(logged, issued) << "the logs are not those of the runs made";

  // Every file sealed, and nothing else left.
  for (int i = 0; i < files; ++i) {
    const std::string rewritten = reference::Rewrite(contents[i]);
    EXPECT_EQ(cli::ReadFile(paths[i]), rewritten + cli::Md5Hex(rewritten))
        << paths[i];
  }
  EXPECT_EQ(cli::ListDirectory(workspace.run()),
            std::vector<std::string>{"ravlo.log"});
  EXPECT_EQ(cli::ListDirectory(workspace.data()).size(),
            static_cast<std::size_t>(files));
  EXPECT_EQ(WorkFilesUnder(workspace.root()), std::vector<std::string>{});

  std::cout << "parallel runs: " << runs << " (" << seals.size() << " seals, "
            << verifications.size() << " verifications, " << kHotFiles * kWidth
            << " of them " << kWidth
            << " at once on one file), run logs checked: " << logs.size()
            << std::endl;
  RecordProperty("parallel_runs", static_cast<int>(runs));
  RecordProperty("run_logs_checked", static_cast<int>(logs.size()));
}

// A writer appending to a file while it is rewritten: a line the rewrite
// met half written is kept whole, not ended where the rewrite stopped
// reading and continued after.
TEST(ParallelRunTest, ALineHalfWrittenDuringARewriteStaysWhole) {
  Workspace workspace;
  const std::string path = workspace.Data("journal.txt");
  WriteWhole(path, "one\rtwo\r");  // lone CRs: rewritten whole
  const int writer = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "thr", 3), 3);

  cli::Child seal(workspace.Korvik({"-A", path}));
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(::write(writer, "ee\r", 3), 3);
  ::close(writer);
  ExpectLoggedRun(seal.Wait(60));

  const std::string rewritten = "one\r\ntwo\r\nthree\r\n";
  EXPECT_TRUE(FileEquals(path, rewritten + cli::Md5Hex(rewritten)))
      << cli::ReadFile(path);
}

}  // namespace
}  // namespace korvik::reliability
