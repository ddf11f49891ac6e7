// Hostile names and files handed to the built program: names with blanks,
// quotes, control characters and bytes that are no UTF-8, the longest names
// and paths, system entries, links that lead nowhere, files the user may
// not touch, files named like the program's work files, and files of
// telling sizes. Each run ends with its own verdict within a time limit and
// changes nothing in the scratch directory but the case's own file and the
// run log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "tests/fuzz/reference_lines.h"
#include "tests/reliability/program_runs.h"

namespace korvik::reliability {
namespace {

constexpr char kInvalidName[] = "Invalid/Missing File Name!";
constexpr char kMatches[] = "Checksum Matches File Contents.";
constexpr char kDoesNotMatch[] = "Checksum Does Not Match File Contents";
constexpr char kNoHash[] = "File Does not Contain any Hash.";
const std::string kAppended = "Hash Appended successfully to : ";
const std::string kNotRewritten = "Error occured while trying to open file : ";
const std::string kVerifyFailed = "Error Verifying Hash : \r\n";
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t kHugeSize = 5 * kGiB;

std::string Sealed(const std::string& body) { return body + cli::Md5Hex(body); }

// What a case's run must end in.
struct Expectation {
  std::vector<std::string> arguments;
  bool successful = false;
  std::string message;  // exact, without "Message : "
  std::string own;      // the case's own file, which the run may change
  std::optional<std::string> content;             // what `own` holds afterwards
  std::function<void(const std::string&)> check;  // further checks of `own`
  std::string removed;  // an entry the run is to remove
  bool as_nobody = false;
  std::string locale;  // LC_ALL, where not "C"
  int limit_seconds = 60;
  std::string skip;  // why the case cannot run here
};

using Prepare = std::function<Expectation(const Workspace&)>;

struct HostileCase {
  const char* name;
  Prepare prepare;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

// A text file that needs a full rewrite, sealed by the run.
Expectation SealText(const std::string& path) {
  cli::WriteFile(path, "one\rtwo\r\nthree");
  Expectation e;
  e.arguments = {"-A", path};
  e.successful = true;
  e.message = kAppended + path;
  e.own = path;
  e.content = Sealed("one\r\ntwo\r\nthree\r\n");
  return e;
}

// A sealed file, verified by the run.
Expectation VerifySealed(const std::string& path) {
  cli::WriteFile(path, Sealed("sealed\r\nbody\r\n"));
  Expectation e;
  e.arguments = {"-V", path};
  e.successful = true;
  e.message = kMatches;
  return e;
}

// A run that finds no file to work on under `argument`.
Expectation Refused(const char* operation, const std::string& argument) {
  Expectation e;
  e.arguments = {operation, argument};
  e.message = kInvalidName;
  return e;
}

Expectation AsNobody(Expectation e) {
  e.as_nobody = true;
  return e;
}

std::string DeepPath(const Workspace& w, std::size_t length) {
  std::string path = w.data();
  while (length - path.size() > 1 + 255) {
    path += "/" + std::string(200, 'd');
    EXPECT_EQ(::mkdir(path.c_str(), 0755), 0);
  }
  return path + "/" + std::string(length - path.size() - 1, 'f');
}

void MakeLink(const std::string& target, const std::string& path) {
  EXPECT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
}

void MakeSparse(const std::string& path, const std::string& head,
                std::uint64_t size) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0),
            static_cast<ssize_t>(head.size()));
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  ASSERT_EQ(::close(fd), 0);
}

std::string ReadAt(const std::string& path, std::uint64_t offset,
                   std::size_t length) {
  std::string bytes(length, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  bytes.resize(std::max<ssize_t>(
      0, ::pread(fd, bytes.data(), length, static_cast<off_t>(offset))));
  ::close(fd);
  return bytes;
}

std::uint64_t FreeBytes(const std::string& path) {
  struct statvfs st {};
  if (::statvfs(path.c_str(), &st) != 0) return 0;
  return std::uint64_t{st.f_bavail} * st.f_frsize;
}

const HostileCase kCases[] = {
    // Names that the command line must carry through as they are.
    {"SealNameWithBlanks",
     [](const Workspace& w) { return SealText(w.Data("my  data  file.txt")); }},
    {"VerifyNameWithBlanksOverSeveralArguments",
     [](const Workspace& w) {
       Expectation e = VerifySealed(w.Data("two words.txt"));
       e.arguments = {"-V", w.Data("two"), "words.txt"};
       return e;
     }},
    {"SealNameEndingInBlanksIsTrimmedToNoFile",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("trailing  "), "one\rtwo");
       return Refused("-A", w.Data("trailing  "));
     }},
    {"VerifyNameInQuotesNamesNothing",
     [](const Workspace& w) {
       VerifySealed(w.Data("quoted.txt"));
       return Refused("-V", "\"" + w.Data("quoted.txt") + "\"");
     }},
    {"SealNameInQuotesNamesNothing",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("quoted.txt"), "one\rtwo");
       return Refused("-A", "\"" + w.Data("quoted.txt") + "\"");
     }},
    {"SealNameHoldingQuotes",
     [](const Workspace& w) {
       return SealText(w.Data("say \"hi\" 'there'.txt"));
     }},
    {"SealNameWithLineFeed",
     [](const Workspace& w) { return SealText(w.Data("line\nfeed.txt")); }},
    {"SealNameWithCarriageReturn",
     [](const Workspace& w) {
       return SealText(w.Data("carriage\rreturn.txt"));
     }},
    {"VerifyNameWithControlCharacters",
     [](const Workspace& w) {
       return VerifySealed(w.Data("tab\tbell\aesc\x1b[31m.txt"));
     }},
    {"VerifyNameWithWildcards",
     [](const Workspace& w) { return VerifySealed(w.Data("*?[ab].txt")); }},
    {"SealNameNotUtf8",
     [](const Workspace& w) { return SealText(w.Data("\xff\xfe\x80.txt")); }},
    {"SealNameNotUtf8InUtf8Locale",
     [](const Workspace& w) {
       Expectation e = SealText(w.Data("caf\xc3\xa9-\xff\xc3(.txt"));
       e.locale = "C.UTF-8";
       return e;
     }},
    {"VerifyNameNotUtf8InUtf8Locale",
     [](const Workspace& w) {
       Expectation e = VerifySealed(w.Data("caf\xc3\xa9-\xff\xc3(.txt"));
       e.locale = "C.UTF-8";
       return e;
     }},
    {"Seal255ByteName",
     [](const Workspace& w) {
       return SealText(w.Data(std::string(251, 'n') + ".txt"));
     }},
    // Its work file's name would be too long: it goes to TMPDIR.
    {"Verify255ByteName",
     [](const Workspace& w) {
       return VerifySealed(w.Data(std::string(251, 'n') + ".txt"));
     }},
    {"Seal256ByteNameThatCannotExist",
     [](const Workspace& w) {
       return Refused("-A", w.Data(std::string(256, 'n')));
     }},
    {"SealPathOf4095Bytes",
     [](const Workspace& w) { return SealText(DeepPath(w, 4095)); }},
    {"VerifyPathOf4095Bytes",
     [](const Workspace& w) { return VerifySealed(DeepPath(w, 4095)); }},
    {"VerifyNameThatLooksLikeASwitch",
     [](const Workspace& w) {
       Expectation e = VerifySealed(w.InRun("-A"));
       e.arguments = {"-V", "-A"};
       return e;
     }},
    {"VerifySwitchWithoutName",
     [](const Workspace&) {
       Expectation e = Refused("-V", "");
       e.arguments = {"-V"};
       return e;
     }},
    {"SealNameLongerThanAnyPath",
     [](const Workspace&) {
       return Refused("-A", "/" + std::string(100'000, 'l'));
     }},

    // Entries that are no ordinary files; none may stall a run.
    {"SealRoot", [](const Workspace&) { return Refused("-A", "/"); }},
    {"VerifyRoot", [](const Workspace&) { return Refused("-V", "/"); }},
    {"SealParentDirectory",
     [](const Workspace&) { return Refused("-A", ".."); }},
    {"VerifyParentDirectory",
     [](const Workspace&) { return Refused("-V", ".."); }},
    {"SealDirectory",
     [](const Workspace& w) { return Refused("-A", w.data()); }},
    {"VerifyDirectory",
     [](const Workspace& w) { return Refused("-V", w.data()); }},
    {"SealFifo",
     [](const Workspace& w) {
       EXPECT_EQ(::mkfifo(w.Data("pipe").c_str(), 0666), 0);
       return Refused("-A", w.Data("pipe"));
     }},
    {"VerifyFifo",
     [](const Workspace& w) {
       EXPECT_EQ(::mkfifo(w.Data("pipe").c_str(), 0666), 0);
       return Refused("-V", w.Data("pipe"));
     }},
    {"SealDevZero",
     [](const Workspace&) { return Refused("-A", "/dev/zero"); }},
    {"VerifyDevZero",
     [](const Workspace&) { return Refused("-V", "/dev/zero"); }},
    {"VerifyLinkToDevZero",
     [](const Workspace& w) {
       MakeLink("/dev/zero", w.Data("zero"));
       return Refused("-V", w.Data("zero"));
     }},
    {"SealDanglingLink",
     [](const Workspace& w) {
       MakeLink(w.Data("nowhere"), w.Data("dangling"));
       return Refused("-A", w.Data("dangling"));
     }},
    {"VerifyDanglingLink",
     [](const Workspace& w) {
       MakeLink(w.Data("nowhere"), w.Data("dangling"));
       return Refused("-V", w.Data("dangling"));
     }},
    {"SealLinkLoop",
     [](const Workspace& w) {
       MakeLink(w.Data("loop-b"), w.Data("loop-a"));
       MakeLink(w.Data("loop-a"), w.Data("loop-b"));
       return Refused("-A", w.Data("loop-a"));
     }},
    {"VerifyLinkLoop",
     [](const Workspace& w) {
       MakeLink(w.Data("loop-b"), w.Data("loop-a"));
       MakeLink(w.Data("loop-a"), w.Data("loop-b"));
       return Refused("-V", w.Data("loop-a"));
     }},
    {"VerifyHiddenFile",
     [](const Workspace& w) {
       VerifySealed(w.Data(".hidden"));
       return Refused("-V", w.Data(".hidden"));
     }},
    {"VerifyFileNameWithTrailingSlash",
     [](const Workspace& w) {
       VerifySealed(w.Data("plain.txt"));
       return Refused("-V", w.Data("plain.txt") + "/");
     }},

    // Files the user may not read or replace; run as nobody, as root would
    // be let through.
    {"VerifyUnreadableFileAsNobody",
     [](const Workspace& w) {
       const std::string path = w.Data("secret.txt");
       Expectation e = AsNobody(VerifySealed(path));
       EXPECT_EQ(::chmod(path.c_str(), 0600), 0);
       e.successful = false;
       e.message = kVerifyFailed + "open '" + path + "': Permission denied";
       return e;
     }},
    {"SealUnreadableFileAsNobody",
     [](const Workspace& w) {
       const std::string path = w.Data("write-only.txt");
       cli::WriteFile(path, "one\rtwo");
       EXPECT_EQ(::chmod(path.c_str(), 0602), 0);
       Expectation e;
       e.arguments = {"-A", path};
       e.message = kNotRewritten + path;
       return AsNobody(e);
     }},
    {"SealReadOnlyFileAsNobody",
     [](const Workspace& w) {
       const std::string path = w.Data("read-only.txt");
       cli::WriteFile(path, "one\rtwo");
       EXPECT_EQ(::chmod(path.c_str(), 0644), 0);
       Expectation e;
       e.arguments = {"-A", path};
       e.message = kNotRewritten + path;
       return AsNobody(e);
     }},
    // The file may be written, but not replaced in its directory.
    {"SealWritableFileInReadOnlyDirectoryAsNobody",
     [](const Workspace& w) {
       const std::string path = w.Data("shared.txt");
       cli::WriteFile(path, "one\rtwo");
       EXPECT_EQ(::chmod(path.c_str(), 0666), 0);
       Expectation e;
       e.arguments = {"-A", path};
       e.message = kNotRewritten + path;
       return AsNobody(e);
     }},
    {"VerifyFileInClosedDirectoryAsNobody",
     [](const Workspace& w) {
       const std::string directory = w.Data("closed");
       EXPECT_EQ(::mkdir(directory.c_str(), 0700), 0);
       const std::string path = directory + "/inside.txt";
       Expectation e = AsNobody(VerifySealed(path));
       e.successful = false;
       e.message = kVerifyFailed + "look up '" + path + "': Permission denied";
       return e;
     }},
    {"SealFileInClosedDirectoryAsNobody",
     [](const Workspace& w) {
       const std::string directory = w.Data("closed");
       EXPECT_EQ(::mkdir(directory.c_str(), 0700), 0);
       cli::WriteFile(directory + "/inside.txt", "one\rtwo");
       return AsNobody(Refused("-A", directory + "/inside.txt"));
     }},

    // Files that bear the names of the program's work files.
    {"SealTheRewriteWorkFileItself",
     [](const Workspace& w) {
       const std::string path = w.InRun("~~~~MD5.TMP");
       cli::WriteFile(path, "one\rtwo");
       Expectation e;
       e.arguments = {"-A", path};
       e.message = kNotRewritten + path;
       return e;
     }},
    {"VerifyTheRewriteWorkFileItself",
     [](const Workspace& w) { return VerifySealed(w.InRun("~~~~MD5.TMP")); }},
    {"SealFileNamedLikeAVerificationWorkFile",
     [](const Workspace& w) { return SealText(w.Data("x~@~")); }},
    {"VerifyFileNamedLikeAVerificationWorkFile",
     [](const Workspace& w) { return VerifySealed(w.Data("x~@~")); }},

    // Links where the work files go: they must lead nowhere.
    {"VerifyWithItsWorkFileNameTakenByALink",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("victim.txt"), "not to be touched");
       const std::string path = w.Data("x.txt");
       // The link is never followed: the copy goes under another name.
       MakeLink(w.Data("victim.txt"), path + "~@~");
       return VerifySealed(path);
     }},
    {"SealWithTheRewriteWorkFileNameTakenByALink",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("victim.txt"), "not to be touched");
       MakeLink(w.Data("victim.txt"), w.InRun("~~~~MD5.TMP"));
       Expectation e = SealText(w.Data("x.txt"));
       e.removed = w.InRun("~~~~MD5.TMP");
       return e;
     }},
    {"SealWithTheRewriteWorkFileNameTakenByALinkToTheDataFile",
     [](const Workspace& w) {
       const std::string path = w.Data("x.txt");
       cli::WriteFile(path, "one\rtwo");
       MakeLink(path, w.InRun("~~~~MD5.TMP"));
       Expectation e;
       e.arguments = {"-A", path};
       e.message = kNotRewritten + path;
       return e;
     }},
    {"SealWithTheRewriteWorkFileNameTakenByADanglingLink",
     [](const Workspace& w) {
       MakeLink(w.InRun("nowhere"), w.InRun("~~~~MD5.TMP"));
       Expectation e = SealText(w.Data("x.txt"));
       e.removed = w.InRun("~~~~MD5.TMP");
       return e;
     }},

    // Sizes around the trailer's, and one far beyond 4 GiB.
    {"SealEmptyFile",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("empty.txt"), "");
       Expectation e;
       e.arguments = {"-A", w.Data("empty.txt")};
       e.message = kNotRewritten + w.Data("empty.txt");
       return e;
     }},
    {"VerifyEmptyFile",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("empty.txt"), "");
       Expectation e;
       e.arguments = {"-V", w.Data("empty.txt")};
       e.message = kNoHash;
       return e;
     }},
    {"Verify32ByteFile",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("short.txt"), cli::Md5Hex("x"));
       Expectation e;
       e.arguments = {"-V", w.Data("short.txt")};
       e.message = kNoHash;
       return e;
     }},
    {"Verify33ByteSealedFile",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("x.txt"), Sealed("x"));
       Expectation e;
       e.arguments = {"-V", w.Data("x.txt")};
       e.successful = true;
       e.message = kMatches;
       return e;
     }},
    {"Verify33ByteUnsealedFile",
     [](const Workspace& w) {
       cli::WriteFile(w.Data("x.txt"), std::string(33, 'a'));
       Expectation e;
       e.arguments = {"-V", w.Data("x.txt")};
       e.successful = true;
       e.message = kDoesNotMatch;
       return e;
     }},
    {"VerifyHugeSparseFile",
     [](const Workspace& w) {
       MakeSparse(w.Data("huge.dat"), "", kHugeSize);
       Expectation e;
       e.arguments = {"-V", w.Data("huge.dat")};
       e.successful = true;
       e.message = kDoesNotMatch;
       e.limit_seconds = 300;
       return e;
     }},
    // Mostly zero bytes and no line end: the seal appends CR LF and the
    // trailer. Writing 5 GiB anew would be a fault, and too slow here.
    {"SealHugeSparseFile",
     [](const Workspace& w) {
       Expectation e;
       if (kSanitized) {
         e.skip = "too slow in a sanitized build";
       } else if (FreeBytes(w.root()) < 12 * kGiB) {
         e.skip = "less than 12 GiB free";
       }
       if (!e.skip.empty()) return e;
       const std::string path = w.Data("huge.dat");
       MakeSparse(path, "huge\r\nfile", kHugeSize);
       e.arguments = {"-A", path};
       e.successful = true;
       e.message = kAppended + path;
       e.own = path;
       e.limit_seconds = 300;
       e.check = [](const std::string& sealed) {
         struct stat st {};
         ASSERT_EQ(::stat(sealed.c_str(), &st), 0);
         EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), kHugeSize + 34);
         EXPECT_EQ(ReadAt(sealed, 0, 10), "huge\r\nfile");
         EXPECT_TRUE(std::regex_match(ReadAt(sealed, kHugeSize, 34),
                                      std::regex("\r\n[0-9a-f]{32}")));
         // Still sparse: the zero bytes were not written out.
         EXPECT_LT(static_cast<std::uint64_t>(st.st_blocks) * 512, kGiB);
       };
       return e;
     }},
};

// Names too long for any file system name nothing.
const HostileCase kTooLong[] = {
    {"Verify256ByteNameThatCannotExist",
     [](const Workspace& w) {
       return Refused("-V", w.Data(std::string(256, 'n')));
     }},
    {"VerifyNameLongerThanAnyPath",
     [](const Workspace&) {
       return Refused("-V", "/" + std::string(5000, 'l'));
     }},
};

std::string Joined(const std::vector<std::string>& arguments) {
  std::string text;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    text += (i == 0 ? "" : " ") + arguments[i];
  }
  return text;
}

class HostileInputTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileInputTest, EndsWithItsVerdictAndTouchesNothingElse) {
  Workspace workspace;
  const Expectation e = GetParam().prepare(workspace);
  if (!e.skip.empty()) GTEST_SKIP() << e.skip;
  if (e.as_nobody && (!cli::CanSwitchUser() ||
                      !cli::MayRunProgramAs(kNobodyUser, kNobodyGroup))) {
    GTEST_SKIP() << "cannot run the program as nobody";
  }
  ASSERT_FALSE(HasFailure()) << "the case could not be prepared";
  const Snapshot before = TakeSnapshot(workspace.root());

  cli::Command command = workspace.Korvik(e.arguments);
  if (e.as_nobody) command.identity = {kNobodyUser, kNobodyGroup};
  if (!e.locale.empty()) {
    for (std::string& variable : command.environment) {
      if (variable.starts_with("LC_ALL=")) variable = "LC_ALL=" + e.locale;
    }
  }
  const cli::Outcome outcome = cli::Run(command, e.limit_seconds);
  ASSERT_FALSE(outcome.timed_out)
      << "no verdict within " << e.limit_seconds << " s";
  ExpectLoggedRun(outcome);

  const std::vector<RunLogRecord> logs = workspace.Logs();
  ASSERT_EQ(logs.size(), 1u);
  const RunLogRecord& log = logs.front();
  EXPECT_EQ(log.lines.at(1), "Command Line Arguments : " + Joined(e.arguments));
  const RunOutcome result = ReadOutcome(log);
  ASSERT_EQ(result.problem, "") << log.text;
  EXPECT_FALSE(result.unexpected) << log.text;
  EXPECT_EQ(result.successful, e.successful) << log.text;
  EXPECT_EQ(result.message, e.message);
  EXPECT_EQ(::access(workspace.InRun("ravlo.Out").c_str(), F_OK) == 0,
            !e.successful)
      << "the failure marker must tell the outcome";

  if (e.content) {
    EXPECT_EQ(cli::ReadFile(e.own), *e.content);
  }
  if (e.check) e.check(e.own);
  const Snapshot after = TakeSnapshot(workspace.root());
  if (!e.removed.empty()) {
    EXPECT_FALSE(after.contains(e.removed)) << e.removed;
  }
  EXPECT_EQ(Differences(before, after,
                        {workspace.InRun("ravlo.log"),
                         workspace.InRun("ravlo.Out"), e.own, e.removed}),
            std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileInputTest, testing::ValuesIn(kCases),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(TooLong, HostileInputTest, testing::ValuesIn(kTooLong),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace korvik::reliability
