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

// A POSIX access list as the kernel stores it: the owner, nobody and the
// others may read and write, the group only read, its mask read and write.
std::string AccessList() {
  struct Entry {
    std::uint16_t tag, permissions;
    std::uint32_t id;
  };
  const std::uint32_t version = 2;
  const Entry entries[] = {{0x01, 6, ~0u},
                           {0x02, 6, kNobodyUser},
                           {0x04, 4, ~0u},
                           {0x10, 6, ~0u},
                           {0x20, 4, ~0u}};
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

}  // namespace
}  // namespace korvik::reliability
