// The seal of a large file, killed with SIGKILL at random instants: the
// data file is always whole (as it was, completely rewritten, or rewritten
// and sealed), and the next run seals it and cleans up after the killed one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/fuzz/reference_lines.h"
#include "tests/reliability/program_runs.h"

namespace korvik::reliability {
namespace {

using Clock = std::chrono::steady_clock;

// Lines of varied length, each ended by a lone CR: a seal must write the
// whole file anew.
std::string LoneCrText(std::size_t size, std::mt19937_64& random) {
  std::string text;
  text.reserve(size + 100);
  std::uniform_int_distribution<int> length(0, 120);
  std::uniform_int_distribution<int> letter('a', 'z');
  while (text.size() < size) {
    const int n = length(random);
    for (int i = 0; i < n; ++i) text += static_cast<char>(letter(random));
    text += '\r';
  }
  return text;
}

std::uint64_t Seed() {
  if (const char* seed = std::getenv("KORVIK_KILL_SEED")) {
    return std::strtoull(seed, nullptr, 10);
  }
  return 20261207;
}

TEST(KillTest, SealKilledAtAnyInstantLosesNoFile) {
  // The sanitized program is about three times slower: a smaller file
  // keeps the same number of kills in time.
  const std::size_t size = (kSanitized ? 8 : 32) * cli::kMiB;
  constexpr int kKills = 40;
  const auto budget = std::chrono::seconds(kSanitized ? 90 : 60);
  const std::uint64_t seed = Seed();
  std::mt19937_64 random(seed);

  Workspace workspace;
  const std::string path = workspace.Data("large.txt");
  const std::string original = LoneCrText(size, random);
  const std::string rewritten = reference::Rewrite(original);
  const std::string sealed = rewritten + cli::Md5Hex(rewritten);
  const std::string resealed = sealed + "\r\n" + cli::Md5Hex(sealed + "\r\n");
  const std::string log = workspace.InRun("ravlo.log");

  // The lengths of whole runs, timed as the killed runs start: three
  // first, then each run that seals the original again, so that the kills
  // stay spread over a whole run when the load of the machine changes.
  std::vector<std::int64_t> lengths;  // microseconds
  auto timed_seal = [&] {
    const auto started = Clock::now();
    ExpectLoggedRun(cli::Run(workspace.Korvik({"-A", path}), 120));
    lengths.push_back(std::chrono::duration_cast<std::chrono::microseconds>(
                          Clock::now() - started)
                          .count());
  };
  auto full_run = [&] {
    std::vector<std::int64_t> sorted = lengths;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  };
  for (int i = 0; i < 3; ++i) {
    WriteWhole(path, original);
    timed_seal();
    ASSERT_TRUE(FileEquals(path, sealed));
  }

  int kills = 0;
  int lost = 0;
  int finished_first = 0;  // runs that had written their log before the kill
  const auto deadline = Clock::now() + budget;
  for (; kills < kKills && Clock::now() < deadline; ++kills) {
    SCOPED_TRACE("kill " + std::to_string(kills));
    WriteWhole(path, original);
    ::unlink(log.c_str());
    const auto wait = std::chrono::microseconds(
        std::uniform_int_distribution<std::int64_t>(0, full_run())(random));
    {
      cli::Child child(workspace.Korvik({"-A", path}));
      std::this_thread::sleep_for(wait);
    }  // killed with SIGKILL here, and waited for

    // The data file in one of its whole forms.
    const std::string* state = nullptr;
    const std::int64_t size = FileSize(path);
    for (const std::string* form : {&original, &rewritten, &sealed}) {
      if (size == static_cast<std::int64_t>(form->size()) &&
          FileEquals(path, *form)) {
        state = form;
      }
    }
    if (state == nullptr) {
      ++lost;
      ADD_FAILURE() << "killed after " << wait.count()
                    << " us: the data file has " << size
                    << " bytes and is neither the original (" << original.size()
                    << "), the rewrite (" << rewritten.size()
                    << ") nor the sealed file (" << sealed.size() << ")";
      continue;
    }
    // The log is written in one piece, or not at all.
    const auto logs = workspace.Logs();
    ASSERT_LE(logs.size(), 1u);
    if (logs.size() == 1) {
      ++finished_first;
      EXPECT_TRUE(ReadOutcome(logs.front()).successful) << logs.front().text;
      EXPECT_EQ(state, &sealed) << "logged before the file was sealed";
    }

    // The next run completes the seal and removes what the killed run
    // left; sealing a sealed file seals it once more.
    if (state == &original) {
      timed_seal();
    } else {
      ExpectLoggedRun(cli::Run(workspace.Korvik({"-A", path}), 120));
    }
    EXPECT_TRUE(FileEquals(path, state == &sealed ? resealed : sealed));
    ExpectLoggedRun(cli::Run(workspace.Korvik({"-V", path}), 120));
    const auto after = workspace.Logs();
    ASSERT_FALSE(after.empty());
    const RunOutcome verified = ReadOutcome(after.back());
    EXPECT_TRUE(verified.successful);
    EXPECT_EQ(verified.message, "Checksum Matches File Contents.");
    EXPECT_EQ(cli::ListDirectory(workspace.run()),
              std::vector<std::string>{"ravlo.log"});
    EXPECT_EQ(cli::ListDirectory(workspace.data()),
              std::vector<std::string>{"large.txt"});
    EXPECT_EQ(cli::ListDirectory(workspace.temp()), std::vector<std::string>{});
    if (HasFatalFailure()) break;
  }

  std::cout << "kills: " << kills << ", files lost: " << lost << " (seed "
            << seed << ", " << size / cli::kMiB << " MiB, a whole run "
            << full_run() / 1000 << " ms, " << finished_first
            << " runs had finished before the kill)" << std::endl;
  RecordProperty("kills", kills);
  RecordProperty("files_lost", lost);
  EXPECT_EQ(lost, 0);
  EXPECT_GE(kills, 10) << "too few kills in the time allowed";
  EXPECT_GE(kills - finished_first, kills / 4) << "too few kills hit a run";
}

// A run killed after its finished file took a hidden name beside the data
// file, and before it took the data file's place, leaves it there: the next
// seal of that file removes it, and passes by one that a run still holds or
// that has further names.
TEST(KillTest, AFileLeftOnItsWayIntoPlaceGoesWithTheNextSeal) {
  Workspace workspace;
  const std::string path = workspace.Data("data.txt");
  const std::string text = "first\rsecond\r";  // rewritten whole
  const std::string sealed =
      reference::Rewrite(text) + cli::Md5Hex(reference::Rewrite(text));
  const std::string first = workspace.Data(".data.txt.korvik-0");
  const std::string second = workspace.Data(".data.txt.korvik-1");

  WriteWhole(path, text);
  WriteWhole(first, "left by a killed run");
  ExpectLoggedRun(cli::Run(workspace.Korvik({"-A", path}), 120));
  EXPECT_TRUE(FileEquals(path, sealed));
  EXPECT_EQ(cli::ListDirectory(workspace.data()),
            std::vector<std::string>{"data.txt"});

  // Held by a run that is still placing it.
  WriteWhole(path, text);
  WriteWhole(first, "being placed");
  const int held = ::open(first.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  ExpectLoggedRun(cli::Run(workspace.Korvik({"-A", path}), 120));
  ::close(held);
  EXPECT_TRUE(FileEquals(path, sealed));
  EXPECT_TRUE(FileEquals(first, "being placed"));
  EXPECT_EQ(cli::ListDirectory(workspace.data()),
            (std::vector<std::string>{".data.txt.korvik-0", "data.txt"}));

  // A second name of a file elsewhere is nobody's leftover.
  const std::string elsewhere = workspace.InRun("kept.txt");
  WriteWhole(elsewhere, "kept");
  ASSERT_EQ(::unlink(first.c_str()), 0);
  ASSERT_EQ(::link(elsewhere.c_str(), first.c_str()), 0);
  WriteWhole(path, text);
  ExpectLoggedRun(cli::Run(workspace.Korvik({"-A", path}), 120));
  EXPECT_TRUE(FileEquals(path, sealed));
  EXPECT_TRUE(FileEquals(first, "kept"));
  EXPECT_FALSE(cli::ListDirectory(workspace.data()) ==
               std::vector<std::string>{"data.txt"});
  EXPECT_EQ(::access(second.c_str(), F_OK), -1);
}

}  // namespace
}  // namespace korvik::reliability
