// The program run by the administrator in folders that another user
// (nobody) owns or shares, with that user doing what an attacker would: links
// and hard links planted under the names the program writes, locks held for
// ever, the data file swapped for a link, lines appended during a seal, and
// seals of its own. The program writes no file it did not mean to, never
// waits without end, and never reports a success that is none.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/program_runs.h"

namespace korvik::reliability {
namespace {

constexpr char kMatches[] = "Checksum Matches File Contents.";
const std::string kAppended = "Hash Appended successfully to : ";

struct stat Look(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

class SharedFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0 || !cli::CanSwitchUser() ||
        !cli::MayRunProgramAs(kNobodyUser, kNobodyGroup)) {
      GTEST_SKIP() << "runs the program as root beside the user nobody";
    }
    nob_ = w_.root() + "/nob";
    ASSERT_EQ(::mkdir(nob_.c_str(), 0755), 0);
    ASSERT_EQ(::chown(nob_.c_str(), kNobodyUser, kNobodyGroup), 0);
    secret_ = w_.Data("secret");
    cli::WriteFile(secret_, "root's own\nlines\n");
    ASSERT_EQ(::chmod(secret_.c_str(), 0600), 0);
  }

  // A shell script run as nobody in `directory`.
  cli::Command AsNobody(const std::string& script,
                        const std::string& directory) const {
    cli::Command command;
    command.program = "/bin/sh";
    command.arguments = {"-c", script};
    command.directory = directory;
    command.environment = cli::PlainEnvironment(w_.temp());
    command.identity = {kNobodyUser, kNobodyGroup};
    return command;
  }
  void Nobody(const std::string& script, const std::string& directory) {
    const cli::Outcome done = cli::Run(AsNobody(script, directory), 60);
    ASSERT_EQ(done.exit_status, 0) << script << "\n" << done.standard_error;
  }
  // Starts `script` as nobody, and waits until it has made `ready`.
  std::unique_ptr<cli::Child> StartNobody(const std::string& script,
                                          const std::string& directory,
                                          const std::string& ready) {
    auto child = std::make_unique<cli::Child>(AsNobody(script, directory));
    for (int i = 0; i < 500 && !Exists(ready); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(Exists(ready)) << "the other user's script did not start";
    return child;
  }

  cli::Command Korvik(std::vector<std::string> arguments,
                      const std::string& directory) const {
    cli::Command command = w_.Korvik(std::move(arguments));
    command.directory = directory;
    return command;
  }
  // Runs the program as root in `directory` and returns its last run log.
  cli::RunOutcome Seal(const std::string& file, const std::string& directory,
                       int limit_seconds = 30) {
    return Logged({"-A", file}, directory, limit_seconds);
  }
  cli::RunOutcome Logged(std::vector<std::string> arguments,
                         const std::string& directory, int limit_seconds = 30) {
    const cli::Outcome done =
        cli::Run(Korvik(std::move(arguments), directory), limit_seconds);
    ExpectLoggedRun(done);
    return LastOutcome(directory + "/ravlo.log");
  }
  static cli::RunOutcome LastOutcome(const std::string& log) {
    std::string problem;
    auto records = SplitRunLogs(cli::ReadFile(log), problem);
    EXPECT_EQ(problem, "") << log;
    if (records.empty()) return {};
    return ReadOutcome(records.back());
  }

  void ExpectSecretUntouched() {
    EXPECT_TRUE(FileEquals(secret_, "root's own\nlines\n"));
    const struct stat st = Look(secret_);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }

  Workspace w_;
  std::string nob_;     // a folder of nobody's
  std::string secret_;  // a file only root may read
};

TEST_F(SharedFolderTest, VerificationNeverWritesIntoAPlantedWorkFile) {
  const std::string body = "orders\r\n";
  const std::string data = nob_ + "/orders.txt";
  cli::WriteFile(data, body + cli::Md5Hex(body));
  ASSERT_EQ(::chmod(data.c_str(), 0600), 0);
  // The work file's name, linked to a file of nobody's and locked for ever.
  auto holder = StartNobody(
      "touch 'orders.txt~@~' && ln 'orders.txt~@~' loot && "
      "exec flock 'orders.txt~@~' sh -c 'touch ready; sleep 60'",
      nob_, nob_ + "/ready");

  const cli::RunOutcome verified = Logged({"-V", data}, w_.run(), 20);
  EXPECT_EQ(verified.message, kMatches);
  EXPECT_EQ(FileSize(nob_ + "/loot"), 0);
  EXPECT_EQ(FileSize(nob_ + "/orders.txt~@~"), 0);
}

TEST_F(SharedFolderTest, ADataFileSwappedForALinkLeadsNowhereElse) {
  const std::string data = nob_ + "/report.txt";
  // A link of nobody's there from the start is not followed.
  Nobody("ln -s '" + secret_ + "' report.txt", nob_);
  cli::RunOutcome refused = Seal(data, w_.run());
  EXPECT_FALSE(refused.successful);
  EXPECT_NE(refused.unexpected_description.find("symbolic link of another"),
            std::string::npos)
      << refused.unexpected_description;
  ExpectSecretUntouched();

  // Swapped back and forth between a file and that link while runs go on.
  auto swapper = StartNobody(
      "touch ready; while [ ! -e stop ]; do "
      "printf 'x\\nmore\\n' > t; mv -f t report.txt; "
      "ln -sf '" +
          secret_ + "' l; mv -f l report.txt; done",
      nob_, nob_ + "/ready");
  int sealed = 0;
  for (int i = 0; i < 40; ++i) sealed += Seal(data, w_.run()).successful;
  cli::WriteFile(nob_ + "/stop", "");
  EXPECT_EQ(swapper->Wait(30).exit_status, 0);
  ExpectSecretUntouched();
  std::cout << "runs that sealed nobody's own file: " << sealed << " of 40\n";
}

TEST_F(SharedFolderTest, AnotherUsersLocksNeverStallASeal) {
  const std::string data = nob_ + "/data.txt";
  cli::WriteFile(data, "lone\rcarriage returns\r");  // needs a rewrite
  // Nobody's own "~~~~MD5.TMP" and the folder, locked for ever.
  auto holder = StartNobody(
      "touch '~~~~MD5.TMP' && exec flock '~~~~MD5.TMP' flock . "
      "sh -c 'touch ready; sleep 60'",
      nob_, nob_ + "/ready");
  const auto start = std::chrono::steady_clock::now();
  const cli::RunOutcome sealed = Seal(data, nob_, 20);
  EXPECT_TRUE(sealed.successful) << sealed.message;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(Logged({"-V", data}, w_.run()).message, kMatches);

  // A lock on the data file itself is waited for a while, then reported.
  const std::string content = cli::ReadFile(data) + "more\r";
  cli::WriteFile(data, content);
  auto data_holder =
      StartNobody("exec flock -s data.txt sh -c 'touch ready2; sleep 60'", nob_,
                  nob_ + "/ready2");
  const cli::RunOutcome refused = Seal(data, w_.run(), 60);
  EXPECT_FALSE(refused.successful);
  EXPECT_NE(refused.unexpected_description.find("locked by another process"),
            std::string::npos)
      << refused.unexpected_description;
  EXPECT_TRUE(FileEquals(data, content));
}

TEST_F(SharedFolderTest, TheRunLogAndMarkerFollowNoPlantedLink) {
  const std::string created = w_.Data("created-by-root");
  Nobody(
      "ln -s '" + secret_ + "' ravlo.log && ln -s '" + created + "' ravlo.Out",
      nob_);
  const cli::Outcome logged = cli::Run(Korvik({"-V", "missing.txt"}, nob_), 30);
  EXPECT_EQ(logged.exit_status, 1);
  EXPECT_NE(logged.standard_error.find("cannot write the run log"),
            std::string::npos)
      << logged.standard_error;
  ExpectSecretUntouched();
  EXPECT_FALSE(Exists(created));

  // The log itself in order, the marker still a link: refused too.
  Nobody("rm ravlo.log", nob_);
  const cli::Outcome marked = cli::Run(Korvik({"-V", "missing.txt"}, nob_), 30);
  EXPECT_EQ(marked.exit_status, 1);
  EXPECT_FALSE(Exists(created));
  EXPECT_FALSE(LastOutcome(nob_ + "/ravlo.log").successful);
}

TEST_F(SharedFolderTest, LinesAppendedDuringSealsAreNeverOverwritten) {
  const std::string data = nob_ + "/growing.txt";
  constexpr int kLines = 4000;
  Nobody("printf 'L%06d\\n' 0 > growing.txt", nob_);
  auto writer = StartNobody(
      "touch ready; i=1; while [ $i -lt " + std::to_string(kLines) +
          " ]; do printf 'L%06d\\n' $i >> growing.txt; i=$((i+1)); done",
      nob_, nob_ + "/ready");
  char last[16];
  std::snprintf(last, sizeof last, "L%06d\n", kLines - 1);
  int runs = 0;
  for (; runs < 200; ++runs) {
    (void)Seal(data, w_.run());
    if (cli::ReadFile(data).find(last) != std::string::npos) break;
  }
  EXPECT_EQ(writer->Wait(60).exit_status, 0);
  // What the seals added: line ends and trailers, each after a whole line.
  const std::string text = std::regex_replace(
      cli::ReadFile(data), std::regex("\r\n|[0-9a-f]{32}"), "");
  std::string expected;
  char line[16];
  for (int i = 0; i < kLines; ++i) {
    std::snprintf(line, sizeof line, "L%06d\n", i);
    expected += line;
  }
  const auto differ =
      std::mismatch(text.begin(), text.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(differ.first - text.begin());
  EXPECT_TRUE(text == expected)
      << "after " << runs << " seals, at byte " << at << ": \""
      << text.substr(at >= 20 ? at - 20 : 0, 60) << "\"";
}

TEST_F(SharedFolderTest, TwoSealsOfOneFileTakeTurns) {
  const std::string data = w_.Data("shared.txt");
  const std::string own = w_.root() + "/own";
  ASSERT_EQ(::mkdir(own.c_str(), 0755), 0);
  for (int round = 0; round < 17; ++round) {
    cli::WriteFile(data, round % 2 == 0 ? "one\r\ntwo\r\n" : "one\r\ntwo");
    ASSERT_EQ(::chmod(data.c_str(), 0666), 0);
    cli::Command theirs = Korvik({"-A", data}, w_.run());
    theirs.identity = {kNobodyUser, kNobodyGroup};
    cli::Child other(theirs);
    ExpectLoggedRun(cli::Run(Korvik({"-A", data}, own), 30));
    ExpectLoggedRun(other.Wait(30));
    EXPECT_TRUE(LastOutcome(own + "/ravlo.log").successful) << round;
    EXPECT_TRUE(LastOutcome(w_.run() + "/ravlo.log").successful) << round;
    EXPECT_EQ(Logged({"-V", data}, own).message, kMatches) << round;
  }
}

// A POSIX access list as the kernel stores it: the owner and nobody get
// `shared`, the group and the mask `group`, the others `others`.
std::string AccessList(std::uint16_t shared = 6, std::uint16_t group = 4,
                       std::uint16_t others = 6) {
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  };
  const std::uint32_t version = 2;
  const Entry entries[] = {{0x01, shared, ~0u},
                           {0x02, shared, kNobodyUser},
                           {0x04, group, ~0u},
                           {0x10, shared, ~0u},
                           {0x20, others, ~0u}};
  std::string bytes(reinterpret_cast<const char*>(&version), sizeof version);
  bytes.append(reinterpret_cast<const char*>(entries), sizeof entries);
  return bytes;
}

std::string Attribute(const std::string& path, const char* name) {
  char value[256];
  const ssize_t size = ::lgetxattr(path.c_str(), name, value, sizeof value);
  return size < 0 ? std::string() : std::string(value, size);
}

TEST_F(SharedFolderTest, ARewriteKeepsOwnerAccessListsAndAttributesOrWaits) {
  // Nobody may write root's file but not make it nobody's.
  const std::string shared = w_.InRun("shared.txt");
  cli::WriteFile(shared, "a\rb\r\n");
  ASSERT_EQ(::chmod(shared.c_str(), 0666), 0);
  cli::Command theirs = Korvik({"-A", shared}, w_.run());
  theirs.identity = {kNobodyUser, kNobodyGroup};
  ExpectLoggedRun(cli::Run(theirs, 30));
  EXPECT_FALSE(LastOutcome(w_.InRun("ravlo.log")).successful);
  EXPECT_TRUE(FileEquals(shared, "a\rb\r\n"));
  EXPECT_EQ(Look(shared).st_uid, 0u);
  EXPECT_EQ(Look(shared).st_mode & 07777, 0666u);

  const std::string listed = w_.Data("listed.txt");
  cli::WriteFile(listed, "a\rb\r\n");
  const std::string list = AccessList();
  if (::setxattr(listed.c_str(), "system.posix_acl_access", list.data(),
                 list.size(), 0) != 0) {
    GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
  }
  const bool attributes =
      ::setxattr(listed.c_str(), "user.origin", "test", 4, 0) == 0;
  const struct stat before = Look(listed);
  const std::string list_before = Attribute(listed, "system.posix_acl_access");
  // Not from "run": nobody's run log there takes no run of root's.
  const std::string own = w_.root() + "/own";
  ASSERT_EQ(::mkdir(own.c_str(), 0755), 0);
  EXPECT_TRUE(Seal(listed, own).successful);
  const struct stat after = Look(listed);
  EXPECT_NE(after.st_ino, before.st_ino) << "not rewritten";
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(Attribute(listed, "system.posix_acl_access"), list_before);
  if (attributes) {
    EXPECT_EQ(Attribute(listed, "user.origin"), "test");
  }
}

TEST_F(SharedFolderTest, HardLinkedFilesAreNeverParted) {
  const std::string data = nob_ + "/linked.txt";
  const std::string other = nob_ + "/other.txt";
  Nobody("printf 'a\\rb\\r\\n' > linked.txt && ln linked.txt other.txt", nob_);
  const cli::RunOutcome refused = Seal(data, w_.run());
  EXPECT_FALSE(refused.successful);
  EXPECT_NE(refused.unexpected_description.find("hard links"),
            std::string::npos)
      << refused.unexpected_description;
  EXPECT_TRUE(FileEquals(data, "a\rb\r\n"));
  EXPECT_EQ(Look(data).st_ino, Look(other).st_ino);

  // Where only a line end is missing, the file is sealed in place, under
  // both names.
  Nobody("printf 'a\\r\\nb' > linked.txt", nob_);
  EXPECT_TRUE(Seal(data, w_.run()).successful);
  EXPECT_EQ(Look(data).st_ino, Look(other).st_ino);
  EXPECT_EQ(Logged({"-V", other}, w_.run()).message, kMatches);
}

// Root's file that nobody may write but not read as root's secret: the
// kernel lets nobody link to it.
struct Board {
  std::string path;
  std::string content = "the board\n";
};

TEST_F(SharedFolderTest, AWorkFilePlantedAsAHardLinkIsNeverWritten) {
  Board board{w_.Data("board.txt")};
  cli::WriteFile(board.path, board.content);
  ASSERT_EQ(::chmod(board.path.c_str(), 0666), 0);
  const std::string secret = w_.Data("full-rewrite");
  cli::WriteFile(secret, "root's\rsecret\r");
  ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
  // Linked under the work file's name and held open, to read what lands.
  auto holder = StartNobody("ln '" + board.path +
                                "' '~~~~MD5.TMP' && exec 3<'~~~~MD5.TMP' && "
                                "touch ready && sleep 60",
                            nob_, nob_ + "/ready");
  EXPECT_TRUE(Seal(secret, nob_).successful);
  EXPECT_TRUE(FileEquals(board.path, board.content));
  EXPECT_EQ(Look(board.path).st_mode & 07777, 0666u);
  EXPECT_NE(Look(board.path).st_ino, Look(secret).st_ino);
  EXPECT_EQ(Look(secret).st_mode & 07777, 0600u);
  EXPECT_EQ(Logged({"-V", secret}, w_.run()).message, kMatches);
}

TEST_F(SharedFolderTest, ALockOnAPlantedWorkFileNeverStallsASeal) {
  Board board{w_.Data("board.txt")};
  cli::WriteFile(board.path, board.content);
  ASSERT_EQ(::chmod(board.path.c_str(), 0666), 0);
  const std::string data = w_.Data("lone-cr.txt");
  cli::WriteFile(data, "a\rb\r");
  auto holder = StartNobody("ln '" + board.path +
                                "' '~~~~MD5.TMP' && exec flock '~~~~MD5.TMP' "
                                "sh -c 'touch ready; sleep 60'",
                            nob_, nob_ + "/ready");
  // Within the run's time limit, far below the 20 s a lock is waited for.
  EXPECT_TRUE(Seal(data, nob_, 15).successful);
  EXPECT_TRUE(FileEquals(board.path, board.content));
  EXPECT_TRUE(FileEquals(data, "a\r\nb\r\n" + cli::Md5Hex("a\r\nb\r\n")));
}

// Root's file, open to all, moved under the work file's name by the owner of
// the folder: one name, root's own, yet no work file of a run.
TEST_F(SharedFolderTest, ALockOnARootFileMovedInAsTheWorkFileNeverStallsASeal) {
  const std::string board = nob_ + "/board.txt";
  cli::WriteFile(board, "the board\n");
  ASSERT_EQ(::chmod(board.c_str(), 0666), 0);
  const std::string data = w_.Data("lone-cr.txt");
  cli::WriteFile(data, "a\rb\r");
  auto holder = StartNobody(
      "mv board.txt '~~~~MD5.TMP' && exec flock '~~~~MD5.TMP' "
      "sh -c 'touch ready; sleep 60'",
      nob_, nob_ + "/ready");
  EXPECT_TRUE(Seal(data, nob_, 15).successful);
  EXPECT_TRUE(FileEquals(data, "a\r\nb\r\n" + cli::Md5Hex("a\r\nb\r\n")));
}

TEST_F(SharedFolderTest, AFolderSwappedForALinkLeadsNoStepElsewhere) {
  const std::string closed = w_.Data("closed");
  ASSERT_EQ(::mkdir(closed.c_str(), 0700), 0);
  const std::string own = closed + "/passwd";
  const std::string own_content = "root\rentry\r";
  cli::WriteFile(own, own_content);
  const struct stat before = Look(own);
  // nob/sub, a folder of nobody's, and by turns a link to root's folder.
  auto swapper = StartNobody(
      "mkdir sub && printf 'n\\rn\\r' > sub/passwd && touch ready && "
      "while [ ! -e stop ]; do printf 'n\\rn\\r' > sub/passwd; mv sub d; "
      "ln -s '" +
          closed + "' sub; rm sub; mv d sub; done",
      nob_, nob_ + "/ready");
  constexpr int kSeals = 150;
  int sealed = 0;
  for (int i = 0; i < kSeals; ++i) {
    sealed += Seal(nob_ + "/sub/passwd", w_.run()).successful;
  }
  cli::WriteFile(nob_ + "/stop", "");
  EXPECT_EQ(swapper->Wait(30).exit_status, 0);
  EXPECT_TRUE(FileEquals(own, own_content));
  const struct stat after = Look(own);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(WorkFilesUnder(closed), std::vector<std::string>{});
  std::cout << "seals of nobody's file through the swapped folder: " << sealed
            << " of " << kSeals << "\n";
}

TEST_F(SharedFolderTest, ARunLogPlantedAsAHardLinkOrByAnotherUserIsNotWritten) {
  Board crontab{w_.Data("crontab"), "* * * * * true\n"};
  cli::WriteFile(crontab.path, crontab.content);
  ASSERT_EQ(::chmod(crontab.path.c_str(), 0666), 0);
  auto expect_refused = [&](const std::string& what) {
    const cli::Outcome run = cli::Run(Korvik({"-V", "missing.txt"}, nob_), 30);
    EXPECT_EQ(run.exit_status, 1) << what;
    EXPECT_NE(run.standard_error.find("cannot write the run log"),
              std::string::npos)
        << what << ": " << run.standard_error;
    EXPECT_TRUE(FileEquals(crontab.path, crontab.content)) << what;
  };
  Nobody("ln '" + crontab.path + "' ravlo.log", nob_);
  expect_refused("the log a hard link");
  // A marker linked there is deleted at the start, as every old marker is,
  // and made anew.
  Nobody("rm ravlo.log && ln '" + crontab.path + "' ravlo.Out", nob_);
  EXPECT_EQ(cli::Run(Korvik({"-V", "missing.txt"}, nob_), 30).exit_status, 0);
  EXPECT_TRUE(FileEquals(crontab.path, crontab.content));
  EXPECT_NE(Look(nob_ + "/ravlo.Out").st_ino, Look(crontab.path).st_ino);
  EXPECT_FALSE(LastOutcome(nob_ + "/ravlo.log").successful);

  // A log of nobody's own in nobody's folder takes no run of root's either.
  Nobody("rm ravlo.log && printf 'theirs\\r\\n' > ravlo.log", nob_);
  expect_refused("the log nobody's");
  EXPECT_TRUE(FileEquals(nob_ + "/ravlo.log", "theirs\r\n"));
  // In a folder only root may write, its own hard-linked log is written.
  const std::string own = w_.root() + "/own";
  ASSERT_EQ(::mkdir(own.c_str(), 0755), 0);
  cli::WriteFile(own + "/ravlo.log", "");
  ASSERT_EQ(::link((own + "/ravlo.log").c_str(), (own + "/copy").c_str()), 0);
  EXPECT_EQ(cli::Run(Korvik({"-V", "missing.txt"}, own), 30).exit_status, 0);
  EXPECT_FALSE(LastOutcome(own + "/copy").successful);
}

TEST_F(SharedFolderTest, LinesAppendedDuringFullRewritesAreNeverLost) {
  const std::string data = nob_ + "/growing.txt";
  const int lines = kSanitized ? 5000 : 20000;
  // Each line ends in a lone CR, so every seal rewrites the whole file; a
  // long start makes each rewrite last while lines come in.
  const std::size_t start = kSanitized ? 250'000 : 1'000'000;
  std::string first;
  for (std::size_t i = 0; i < start; ++i) first += "P\r";
  WriteWhole(data, first);
  ASSERT_EQ(::chown(data.c_str(), kNobodyUser, kNobodyGroup), 0);
  auto writer = StartNobody(
      "touch ready; i=0; while [ $i -lt " + std::to_string(lines) +
          " ]; do printf 'L%06d\\n\\r' $i >> growing.txt; i=$((i+1)); done; "
          "touch done",
      nob_, nob_ + "/ready");
  int runs = 0;
  int sealed = 0;
  while (runs < 1000 && !Exists(nob_ + "/done")) {
    sealed += Seal(data, w_.run()).successful;
    ++runs;
  }
  EXPECT_EQ(writer->Wait(60).exit_status, 0);
  // What the seals added: line ends and trailers. A line the writer began
  // in the old file just before the new one took its place may follow lines
  // it wrote to the new one; none may be lost or doubled.
  const std::string text = std::regex_replace(
      cli::ReadFile(data), std::regex("[\r\n]|[0-9a-f]{32}"), "");
  EXPECT_EQ(text.find_first_not_of('P'), start);
  std::vector<int> seen(lines, 0);
  int out_of_order = 0;
  int previous = -1;
  for (std::size_t at = text.find('L'); at != std::string::npos;
       at = text.find('L', at + 1)) {
    const int number = std::atoi(text.substr(at + 1, 6).c_str());
    ASSERT_TRUE(number >= 0 && number < lines) << text.substr(at, 7);
    ++seen[number];
    out_of_order += number < previous;
    previous = number;
  }
  int lost = 0;
  for (int i = 0; i < lines; ++i) {
    EXPECT_LE(seen[i], 1) << "line " << i << " doubled";
    lost += seen[i] == 0;
  }
  EXPECT_EQ(lost, 0) << "after " << runs << " seals";
  std::cout << "lines out of order: " << out_of_order << ", lost: " << lost
            << "\n";
  std::cout << "full rewrites during appends: " << sealed << " sealed of "
            << runs << "\n";
}

TEST_F(SharedFolderTest, TheWorkFileAdmitsNobodyBeforeItIsTheDataFile) {
  // nobody's folder grants nobody everything in every new file.
  const std::string granted = AccessList(7, 5, 5);
  if (::setxattr(nob_.c_str(), "system.posix_acl_default", granted.data(),
                 granted.size(), 0) != 0) {
    GTEST_SKIP() << "no access lists here: " << std::strerror(errno);
  }
  const std::string secret = w_.Data("secret640");
  std::string content;
  for (int i = 0; i < (kSanitized ? 2000 : 20000); ++i) content += "secret\r";
  auto reader = StartNobody(
      "touch ready; while [ ! -e stop ]; do "
      "cat '~~~~MD5.TMP' >> loot 2>/dev/null || :; done",
      nob_, nob_ + "/ready");
  const mode_t mask = ::umask(0);
  for (int round = 0; round < 30; ++round) {
    WriteWhole(secret, content);
    ASSERT_EQ(::chmod(secret.c_str(), 0640), 0);
    EXPECT_TRUE(Seal(secret, nob_).successful) << round;
  }
  ::umask(mask);
  cli::WriteFile(nob_ + "/stop", "");
  EXPECT_EQ(reader->Wait(30).exit_status, 0);
  const std::string loot =
      Exists(nob_ + "/loot") ? cli::ReadFile(nob_ + "/loot") : "";
  EXPECT_EQ(loot.find("secret"), std::string::npos)
      << loot.size() << " bytes read";
  EXPECT_EQ(Look(secret).st_mode & 07777, 0640u);
}

}  // namespace
}  // namespace korvik::reliability
