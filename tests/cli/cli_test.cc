// The built program run as a user runs it: `korvik -A|-V <file>` in a
// current directory of its own, judged by the data file, the run log in
// "ravlo.log" and the failure marker "ravlo.Out".
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/cli/cli_support.h"
#include "tests/cli/run_logs.h"

namespace korvik::cli {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

const std::string kProgram = std::string(kProgramDirectory) + "/korvik";
constexpr char kLogName[] = "ravlo.log";
constexpr char kMarkerName[] = "ravlo.Out";
constexpr char kRewriteWorkName[] = "~~~~MD5.TMP";
constexpr uid_t kNobodyUser = 65534;
constexpr gid_t kNobodyGroup = 65534;

const std::regex kStartedLine(
    "Korvik Checksum Utility : Started : "
    "\\d{2}/\\d{2}/\\d{4} , \\d{2}:\\d{2}:\\d{2}");
const std::regex kEndedLine(
    "Korvik Checksum Utility : Ended : "
    "\\d{2}/\\d{2}/\\d{4} , \\d{2}:\\d{2}:\\d{2}");

// Splits a log file into its run logs; text that does not follow the run
// log's layout fails the test.
std::vector<RunLogRecord> SplitRunLogsOrFail(const std::string& text) {
  std::string problem;
  auto records = SplitRunLogs(text, problem);
  if (!problem.empty()) ADD_FAILURE() << problem << " in:\n" << text;
  return records;
}

// Checks a run log line by line: the start and end stamps by their form,
// the lines between them exactly.
void ExpectRunLog(const RunLogRecord& record,
                  const std::vector<std::string>& expected) {
  ASSERT_GE(record.lines.size(), 2u) << record.text;
  EXPECT_TRUE(std::regex_match(record.lines.front(), kStartedLine))
      << record.lines.front();
  EXPECT_TRUE(std::regex_match(record.lines.back(), kEndedLine))
      << record.lines.back();
  const std::vector<std::string> middle(record.lines.begin() + 1,
                                        record.lines.end() - 1);
  EXPECT_EQ(middle, expected) << record.text;
}

std::vector<std::string> SealedLog(const std::string& arguments,
                                   const std::string& path) {
  return {"Command Line Arguments : " + arguments,
          "Operation : Append Checksum.", "Result : Successful.",
          "Message : Hash Appended successfully to : " + path};
}

std::vector<std::string> VerifiedLog(const std::string& arguments,
                                     const char* message) {
  return {"Command Line Arguments : " + arguments,
          "Operation : Verify Checksum.", "Result : Successful.",
          std::string("Message : ") + message};
}

constexpr char kMatches[] = "Checksum Matches File Contents.";
constexpr char kDoesNotMatch[] = "Checksum Does Not Match File Contents";

// A file in its sealed form: the body and the MD5 digits of the body.
std::string Sealed(const std::string& body) { return body + Md5Hex(body); }

struct stat StatOf(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) ADD_FAILURE() << "lstat " << path;
  return st;
}

void MakeDirectory(const std::string& path, mode_t mode) {
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// Each test gets a scratch directory holding the program's current
// directory "run", a directory "data" for data files and the temporary
// directory "tmp" handed to the program.
class CliTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.path();
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    run_dir_ = root_ + "/run";
    data_dir_ = root_ + "/data";
    temp_dir_ = root_ + "/tmp";
    MakeDirectory(run_dir_, 0777);
    MakeDirectory(data_dir_, 0755);
    MakeDirectory(temp_dir_, 01777);
  }

  std::string Data(const std::string& name) const {
    return data_dir_ + "/" + name;
  }
  std::string InRun(const std::string& name) const {
    return run_dir_ + "/" + name;
  }

  struct Settings {
    std::string program = kProgram;
    bool as_nobody = false;
    int limit_seconds = 300;
  };

  Command MakeCommand(std::vector<std::string> arguments,
                      const Settings& settings) const {
    Command command;
    command.program = settings.program;
    command.arguments = std::move(arguments);
    command.directory = run_dir_;
    command.environment = PlainEnvironment(temp_dir_);
    if (settings.as_nobody) {
      command.identity = std::make_pair(kNobodyUser, kNobodyGroup);
    }
    return command;
  }

  Outcome Korvik(std::vector<std::string> arguments, const Settings& settings) {
    return cli::Run(MakeCommand(std::move(arguments), settings),
                    settings.limit_seconds);
  }
  Outcome Korvik(std::vector<std::string> arguments) {
    return Korvik(std::move(arguments), Settings{});
  }
  std::unique_ptr<Child> StartKorvik(std::vector<std::string> arguments) {
    return std::make_unique<Child>(MakeCommand(std::move(arguments), {}));
  }

  // A run that wrote its log ends with exit status 0.
  static void ExpectLoggedRun(const Outcome& outcome) {
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.signal, 0) << outcome.standard_error;
    EXPECT_EQ(outcome.exit_status, 0) << outcome.standard_error;
  }

  std::vector<RunLogRecord> Logs() const {
    if (::access(InRun(kLogName).c_str(), F_OK) != 0) {
      ADD_FAILURE() << "no " << kLogName;
      return {};
    }
    return SplitRunLogsOrFail(ReadFile(InRun(kLogName)));
  }
  RunLogRecord LastLog() const {
    auto logs = Logs();
    if (logs.empty()) {
      ADD_FAILURE() << "no run log";
      return {};
    }
    return logs.back();
  }

  // The current directory after a successful run: the log file only, no
  // marker and no work file.
  void ExpectOnlyLogInRunDirectory() const {
    EXPECT_THAT(ListDirectory(run_dir_), ElementsAre(kLogName));
  }
  // After a failed run: the log file and the marker holding the last run's
  // log.
  void ExpectFailureMarker() const {
    EXPECT_THAT(ListDirectory(run_dir_),
                UnorderedElementsAre(kLogName, kMarkerName));
    if (::access(InRun(kMarkerName).c_str(), F_OK) == 0) {
      EXPECT_EQ(ReadFile(InRun(kMarkerName)), LastLog().text);
    }
  }

  void SealAndCheck(const std::string& path, const std::string& rewritten) {
    ExpectLoggedRun(Korvik({"-A", path}));
    EXPECT_EQ(ReadFile(path), Sealed(rewritten));
    ExpectRunLog(LastLog(), SealedLog("-A " + path, path));
  }
  void VerifyAndCheck(const std::string& path, const char* verdict) {
    ExpectLoggedRun(Korvik({"-V", path}));
    ExpectRunLog(LastLog(), VerifiedLog("-V " + path, verdict));
  }

  ScratchDirectory scratch_;
  std::string root_;
  std::string run_dir_;
  std::string data_dir_;
  std::string temp_dir_;
};

// ---------------------------------------------------------------------------
// Sealing and verifying data files of every shape.

struct SealCase {
  const char* test_name;
  std::string file_name;
  std::string content;
  std::string rewritten;  // every line ends in CR LF
};

std::string AllBytes() {
  std::string bytes;
  for (int round = 0; round < 2; ++round) {
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  }
  return bytes;
}

// The 256 byte values twice: each CR there is followed by 0x0E, so each is
// a lone CR that becomes CR LF, and the data ends without a line end.
std::string AllBytesRewritten() {
  std::string bytes;
  for (int round = 0; round < 2; ++round) {
    for (int b = 0; b < 256; ++b) {
      bytes += static_cast<char>(b);
      if (b == '\r') bytes += '\n';
    }
  }
  return bytes + "\r\n";
}

const std::string kBlockFill(kMiB - 1, 'x');  // up to a 1 MiB block's end

const SealCase kSealCases[] = {
    {"CrLfLines", "crlf.txt", "first line\r\nsecond line\r\n",
     "first line\r\nsecond line\r\n"},
    {"LfOnlyLines", "lf.txt", "first\nsecond\n", "first\nsecond\n\r\n"},
    {"LoneCrLines", "cr.txt", "first\rsecond\rthird\r",
     "first\r\nsecond\r\nthird\r\n"},
    {"MixedLineEnds", "mixed.txt", "a\r\r\nb\n\rc", "a\r\n\r\nb\n\r\nc\r\n"},
    {"NoFinalLineEnd", "open-end.txt", "one\r\ntwo", "one\r\ntwo\r\n"},
    {"OnlyLf", "newline.txt", "\n", "\n\r\n"},
    {"BinaryBytes", "binary.bin", AllBytes(), AllBytesRewritten()},
    {"CrLfAcrossReadBlocks", "straddle.txt", kBlockFill + "\r\ntail\r\n",
     kBlockFill + "\r\ntail\r\n"},
    {"LoneCrAtReadBlockEnd", "lone-at-end.txt", kBlockFill + "\ry\r\n",
     kBlockFill + "\r\ny\r\n"},
    {"NonAsciiUtf8Name",
     "Pr\xc3\xbc"
     "fsumme_\xd0\xb4\xd0\xb0\xd0\xbd"
     "\xd0\xbd\xd1\x8b\xd0\xb5_\xe2\x9c\x93.txt",
     "gr\xc3\xbc\xc3\x9f"
     "e\r\xc3\xb1",
     "gr\xc3\xbc\xc3\x9f"
     "e\r\n\xc3\xb1\r\n"},
    {"BlanksInName", "data file  with blanks.txt", "a\rb", "a\r\nb\r\n"},
};

void PrintTo(const SealCase& c, std::ostream* os) { *os << c.test_name; }

class SealAndVerifyTest : public CliTest,
                          public testing::WithParamInterface<SealCase> {};

TEST_P(SealAndVerifyTest, SealsRewrittenFormAndVerifiesIt) {
  const SealCase& c = GetParam();
  const std::string path = Data(c.file_name);
  WriteFile(path, c.content);

  SealAndCheck(path, c.rewritten);
  ExpectOnlyLogInRunDirectory();
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre(c.file_name));

  VerifyAndCheck(path, kMatches);
  EXPECT_EQ(ReadFile(path), Sealed(c.rewritten)) << "-V changed the file";
  EXPECT_EQ(Logs().size(), 2u);
  ExpectOnlyLogInRunDirectory();
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre(c.file_name));
}

INSTANTIATE_TEST_SUITE_P(Files, SealAndVerifyTest,
                         testing::ValuesIn(kSealCases),
                         [](const testing::TestParamInfo<SealCase>& info) {
                           return std::string(info.param.test_name);
                         });

// The program joins its arguments with single blanks, so a switch and a
// name in one argument mean the same as in two.
TEST_F(CliTest, SwitchAndNameWithBlanksInOneArgument) {
  const std::string path = Data("name with  blanks.txt");
  WriteFile(path, "x\ry\r\n");

  ExpectLoggedRun(Korvik({"-A " + path}));
  EXPECT_EQ(ReadFile(path), Sealed("x\r\ny\r\n"));
  ExpectRunLog(LastLog(), SealedLog("-A " + path, path));

  ExpectLoggedRun(Korvik({"-V " + path}));
  ExpectRunLog(LastLog(), VerifiedLog("-V " + path, kMatches));
  ExpectOnlyLogInRunDirectory();
}

TEST_F(CliTest, ResealingAppendsLineEndAndSecondTrailer) {
  const std::string path = Data("twice.txt");
  WriteFile(path, "alpha\r\nbeta\r\n");
  SealAndCheck(path, "alpha\r\nbeta\r\n");
  const std::string first = ReadFile(path);

  // The old trailer is the last line now, without its line end yet.
  SealAndCheck(path, first + "\r\n");

  VerifyAndCheck(path, kMatches);
  ExpectOnlyLogInRunDirectory();
}

// ---------------------------------------------------------------------------
// Verifying sealed files, untouched and tampered with.

const std::string kTamperBody = "line one\r\nline two\r\n";  // 20 bytes

struct TamperCase {
  const char* test_name;
  std::optional<std::size_t> changed;  // the byte changed, if any
  const char* verdict;
};

const TamperCase kTamperCases[] = {
    {"Untouched", std::nullopt, kMatches},
    {"FirstBodyByte", 0, kDoesNotMatch},
    {"LastBodyByte", 19, kDoesNotMatch},
    {"FirstTrailerDigit", 20, kDoesNotMatch},
    {"LastTrailerDigit", 51, kDoesNotMatch},
};

void PrintTo(const TamperCase& c, std::ostream* os) { *os << c.test_name; }

class TamperTest : public CliTest,
                   public testing::WithParamInterface<TamperCase> {};

TEST_P(TamperTest, VerificationComparesBodyWithTrailer) {
  std::string sealed = Sealed(kTamperBody);
  ASSERT_EQ(sealed.size(), 52u);
  if (const auto changed = GetParam().changed) {
    char& byte = sealed[*changed];
    if (*changed >= kTamperBody.size()) {
      byte = byte == '0' ? '1' : '0';  // still a lower-case hex digit
    } else {
      byte = static_cast<char>(byte ^ 0x01);
    }
  }
  const std::string path = Data("sealed.txt");
  WriteFile(path, sealed);

  VerifyAndCheck(path, GetParam().verdict);
  EXPECT_EQ(ReadFile(path), sealed) << "-V changed the file";
  ExpectOnlyLogInRunDirectory();
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre("sealed.txt"));
}

INSTANTIATE_TEST_SUITE_P(Seals, TamperTest, testing::ValuesIn(kTamperCases),
                         [](const testing::TestParamInfo<TamperCase>& info) {
                           return std::string(info.param.test_name);
                         });

// ---------------------------------------------------------------------------
// The run log's layout.

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%d/%m/%Y", &local);
  return text;
}

TEST_F(CliTest, RunLogLayoutByteForByte) {
  const std::string path = Data("layout.txt");
  WriteFile(path, Sealed("layout\r\n"));
  const std::string earlier = "earlier runs\r\n";
  WriteFile(InRun(kLogName), earlier);

  const std::string day_before = Today();
  ExpectLoggedRun(Korvik({"-V", path}));
  const std::string day_after = Today();

  const std::string text = ReadFile(InRun(kLogName));
  ASSERT_TRUE(text.starts_with(earlier)) << "the log file was not appended to";
  const std::string appended = text.substr(earlier.size());

  const std::regex stamp(
      "(Started|Ended) : (\\d{2}/\\d{2}/\\d{4}) , \\d{2}:\\d{2}:\\d{2}\r\n");
  std::vector<std::string> dates;
  for (std::sregex_iterator it(appended.begin(), appended.end(), stamp), end;
       it != end; ++it) {
    dates.push_back((*it)[2]);
  }
  ASSERT_EQ(dates.size(), 2u) << appended;
  for (const std::string& date : dates) {
    EXPECT_TRUE(date == day_before || date == day_after)
        << "date " << date << ", expected day/month/year " << day_before;
  }

  EXPECT_EQ(
      std::regex_replace(appended, stamp, "$1 : DD/MM/YYYY , HH:MM:SS\r\n"),
      "\r\n\r\n" + kRule +
          "\r\n"
          "Korvik Checksum Utility : Started : DD/MM/YYYY , HH:MM:SS\r\n"
          "Command Line Arguments : -V " +
          path +
          "\r\n"
          "Operation : Verify Checksum.\r\n"
          "Result : Successful.\r\n"
          "Message : Checksum Matches File Contents.\r\n"
          "Korvik Checksum Utility : Ended : DD/MM/YYYY , HH:MM:SS\r\n" +
          kRule + "\r\n");
}

// ---------------------------------------------------------------------------
// Runs that fail.

TEST_F(CliTest, EmptyFileIsNotSealed) {
  const std::string path = Data("empty.txt");
  WriteFile(path, "");

  ExpectLoggedRun(Korvik({"-A", path}));
  ExpectRunLog(LastLog(),
               {"Command Line Arguments : -A " + path,
                "Result : Error Occured while trying to open the file :" + path,
                "Operation : Append Checksum.", "Result : Failed!",
                "Message : Error occured while trying to open file : " + path});
  ExpectFailureMarker();
  EXPECT_EQ(ReadFile(path), "");
}

TEST_F(CliTest, RelativeFileNameIsRefused) {
  const std::string body = "relative\r\n";
  WriteFile(InRun("data.txt"), body);

  ExpectLoggedRun(Korvik({"-A", "data.txt"}));
  const RunLogRecord log = LastLog();
  EXPECT_THAT(log.lines, Contains("Command Line Arguments : -A data.txt"));
  EXPECT_THAT(log.lines, Contains("Result : Failed!"));
  EXPECT_THAT(log.lines, Contains("Message : Invalid/Missing File Name!"));
  EXPECT_EQ(ReadFile(InRun("data.txt")), body) << "a trailer was appended";
  EXPECT_THAT(ListDirectory(run_dir_),
              UnorderedElementsAre("data.txt", kLogName, kMarkerName));
}

// The program copied alone into a directory of its own: no digest library
// beside it.
class MissingLibraryTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string directory = root_ + "/program";
    MakeDirectory(directory, 0755);
    lonely_program_ = directory + "/korvik";
    std::filesystem::copy_file(kProgram, lonely_program_);
    ASSERT_EQ(::chmod(lonely_program_.c_str(), 0755), 0);
  }

  Outcome LonelyKorvik(std::vector<std::string> arguments) {
    Settings settings;
    settings.program = lonely_program_;
    return Korvik(std::move(arguments), settings);
  }

  std::string lonely_program_;
};

TEST_F(MissingLibraryTest, VerifyReportsMissingLibraries) {
  const std::string path = Data("sealed.txt");
  const std::string sealed = Sealed("body\r\n");
  WriteFile(path, sealed);

  ExpectLoggedRun(LonelyKorvik({"-V", path}));
  ExpectRunLog(LastLog(),
               {"Command Line Arguments : -V " + path,
                "Operation : Verify Checksum.", "Result : Failed!",
                "Message :  Unexpected Error :  Checksum Library files "
                "korvik.DLL) are missing."});
  ExpectFailureMarker();
  EXPECT_EQ(ReadFile(path), sealed);
}

// A digest library of the one-function interface beside the program: the
// verification works through a copy of the body, with the same verdicts.
TEST_F(MissingLibraryTest, OneFunctionLibraryStillSealsAndVerifies) {
  std::filesystem::copy_file(KORVIK_ONE_FUNCTION_DIGEST,
                             root_ + "/program/korvik.DLL");
  const std::string path = Data("plain.txt");
  WriteFile(path, "one\rtwo");
  ExpectLoggedRun(LonelyKorvik({"-A", path}));
  EXPECT_EQ(ReadFile(path), Sealed("one\r\ntwo\r\n"));
  ExpectLoggedRun(LonelyKorvik({"-V", path}));
  ExpectRunLog(
      LastLog(),
      {"Command Line Arguments : -V " + path, "Operation : Verify Checksum.",
       "Result : Successful.", "Message : Checksum Matches File Contents."});
  WriteFile(path, "One\r\ntwo\r\n" + Md5Hex("one\r\ntwo\r\n"));
  ExpectLoggedRun(LonelyKorvik({"-V", path}));
  ExpectRunLog(LastLog(),
               {"Command Line Arguments : -V " + path,
                "Operation : Verify Checksum.", "Result : Successful.",
                "Message : Checksum Does Not Match File Contents"});
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre("plain.txt"));
}

// The digest library is looked for beside the program itself, however the
// program was started: through links, as the installed command is, or by a
// path relative to the current directory.
TEST_F(MissingLibraryTest, DigestLibraryIsFoundBesideTheProgramNotItsLink) {
  const std::string library = std::string(kProgramDirectory) + "/korvik.DLL";
  const std::string links = root_ + "/links";
  MakeDirectory(links, 0755);
  // A library beside the links only: a run must not take it for the
  // program's own.
  std::filesystem::copy_file(library, links + "/korvik.DLL");
  ASSERT_EQ(::symlink("../program/korvik", (links + "/korvik").c_str()), 0);
  ASSERT_EQ(::symlink((links + "/korvik").c_str(), (links + "/k2").c_str()), 0);
  const std::string path = Data("sealed.txt");
  WriteFile(path, Sealed("body\r\n"));
  const std::string relative =
      std::filesystem::relative(lonely_program_, run_dir_).string();

  Settings settings;
  for (const std::string& start : {links + "/korvik", links + "/k2"}) {
    SCOPED_TRACE(start);
    settings.program = start;
    ExpectLoggedRun(Korvik({"-V", path}, settings));
    EXPECT_THAT(LastLog().lines,
                Contains("Message :  Unexpected Error :  Checksum Library "
                         "files korvik.DLL) are missing."));
  }

  std::filesystem::copy_file(library, root_ + "/program/korvik.DLL");
  for (const std::string& start :
       {links + "/korvik", links + "/k2", lonely_program_, relative}) {
    SCOPED_TRACE(start);
    settings.program = start;
    ExpectLoggedRun(Korvik({"-V", path}, settings));
    EXPECT_THAT(LastLog().lines,
                Contains("Message : Checksum Matches File Contents."));
  }
}

struct UnsealedCase {
  const char* test_name;
  std::string content;
  std::string rewritten;  // after the line-by-line rewrite
};

const UnsealedCase kUnsealedCases[] = {
    {"CrLfForm", "one\r\ntwo\r\n", "one\r\ntwo\r\n"},
    {"NoFinalLineEnd", "one\r\ntwo", "one\r\ntwo\r\n"},
    {"LoneCr", "one\rtwo\r\n", "one\r\ntwo\r\n"},
};

void PrintTo(const UnsealedCase& c, std::ostream* os) { *os << c.test_name; }

std::string UnsealedCaseName(const testing::TestParamInfo<UnsealedCase>& info) {
  return info.param.test_name;
}

class MissingLibrarySealTest
    : public MissingLibraryTest,
      public testing::WithParamInterface<UnsealedCase> {};

// The batch run rewrites the file line by line before hash generation looks
// for the library: the file keeps its rewritten form and gets no trailer.
TEST_P(MissingLibrarySealTest, SealReportsMissingLibraryAndAddsNoTrailer) {
  const std::string path = Data("plain.txt");
  WriteFile(path, GetParam().content);

  ExpectLoggedRun(LonelyKorvik({"-A", path}));
  const RunLogRecord log = LastLog();
  EXPECT_THAT(log.lines, Contains("Result : Failed!"));
  EXPECT_THAT(log.lines,
              Contains("Message :  Unexpected Error :  Checksum Library file "
                       "korvik.DLL is missing."));
  ExpectFailureMarker();
  EXPECT_EQ(ReadFile(path), GetParam().rewritten);
}

INSTANTIATE_TEST_SUITE_P(Files, MissingLibrarySealTest,
                         testing::ValuesIn(kUnsealedCases), UnsealedCaseName);

// ---------------------------------------------------------------------------
// Files and links.

class PermissionsTest : public CliTest,
                        public testing::WithParamInterface<mode_t> {};

TEST_P(PermissionsTest, RewriteKeepsModeAndOwner) {
  const std::string path = Data("private.txt");
  WriteFile(path, "lone\rcarriage\rreturns");
  ASSERT_EQ(::chmod(path.c_str(), GetParam()), 0);
  if (CanSwitchUser()) {
    ASSERT_EQ(::chown(path.c_str(), kNobodyUser, kNobodyGroup), 0);
  }
  const struct stat before = StatOf(path);

  SealAndCheck(path, "lone\r\ncarriage\r\nreturns\r\n");
  const struct stat after = StatOf(path);
  EXPECT_EQ(after.st_mode & 07777, GetParam());
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre("private.txt"));
}

INSTANTIATE_TEST_SUITE_P(Modes, PermissionsTest,
                         testing::Values(0600, 0640, 0751),
                         [](const testing::TestParamInfo<mode_t>& info) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Mode%04o",
                                         static_cast<unsigned>(info.param));
                           return std::string(name);
                         });

TEST_F(CliTest, SealingThroughLinkSealsTargetAndKeepsLink) {
  const std::string target = Data("target.txt");
  const std::string link = Data("link.txt");
  WriteFile(target, "through\ra link");
  ASSERT_EQ(::symlink("target.txt", link.c_str()), 0);

  ExpectLoggedRun(Korvik({"-A", link}));
  EXPECT_THAT(LastLog().lines, Contains("Result : Successful."));
  EXPECT_TRUE(S_ISLNK(StatOf(link).st_mode)) << "the link was replaced";
  EXPECT_EQ(std::filesystem::read_symlink(link).string(), "target.txt");
  EXPECT_EQ(ReadFile(target), Sealed("through\r\na link\r\n"));

  VerifyAndCheck(link, kMatches);
  VerifyAndCheck(target, kMatches);
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre("link.txt", "target.txt"));
  ExpectOnlyLogInRunDirectory();
}

TEST_F(CliTest, StaleRewriteWorkFileIsReplacedAndRemoved) {
  WriteFile(InRun(kRewriteWorkName), "left behind by a crashed run");
  const std::string path = Data("stale.txt");
  WriteFile(path, "needs\ra rewrite");

  SealAndCheck(path, "needs\r\na rewrite\r\n");
  ExpectOnlyLogInRunDirectory();
}

// A sparse file just over 4 GiB, sealed and verified once: sizes and
// offsets past 32 bits. The slowest test by far (each run hashes 4 GiB);
// the digest library's own test shows the digits are MD5's.
TEST_F(CliTest, LargeFileOver4GiBSealsAndVerifies) {
  const std::string path = Data("over-4GiB.dat");
  const std::string head = "large file body\r\n";
  const std::uint64_t size = (std::uint64_t{1} << 32) + 100;
  {
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, head.data(), head.size(), 0),
              static_cast<ssize_t>(head.size()));
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    ASSERT_EQ(::pwrite(fd, "\r\n", 2, static_cast<off_t>(size - 2)), 2);
    ASSERT_EQ(::close(fd), 0);
  }
  ExpectLoggedRun(Korvik({"-A", path}));
  ExpectRunLog(LastLog(), SealedLog("-A " + path, path));
  ASSERT_EQ(static_cast<std::uint64_t>(StatOf(path).st_size), size + 32);
  {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string start(head.size(), '\0');
    std::string trailer(34, '\0');
    EXPECT_EQ(::pread(fd, start.data(), start.size(), 0),
              static_cast<ssize_t>(start.size()));
    EXPECT_EQ(::pread(fd, trailer.data(), trailer.size(),
                      static_cast<off_t>(size - 2)),
              34);
    ::close(fd);
    EXPECT_EQ(start, head);
    // The body's last line end, then 32 lower-case hex digits: whether
    // they are the body's digest the verification tells.
    EXPECT_TRUE(std::regex_match(trailer, std::regex("\r\n[0-9a-f]{32}")))
        << trailer;
  }

  VerifyAndCheck(path, kMatches);
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre("over-4GiB.dat"));
  ExpectOnlyLogInRunDirectory();
}

// ---------------------------------------------------------------------------
// Runs as an unprivileged user, where file rights apply.

class NobodyTest : public CliTest {
 protected:
  void SetUp() override {
    if (!CanSwitchUser()) GTEST_SKIP() << "needs root to run as nobody";
    if (!MayRunProgramAs(kNobodyUser, kNobodyGroup)) {
      GTEST_SKIP() << "nobody may not run " << kProgram;
    }
    CliTest::SetUp();
  }

  Outcome KorvikAsNobody(std::vector<std::string> arguments) {
    Settings settings;
    settings.as_nobody = true;
    return Korvik(std::move(arguments), settings);
  }
};

TEST_F(NobodyTest, VerifiesInReadOnlyDirectoryWithoutLeavingWorkFiles) {
  // A name of this test's own, so that leftovers in /tmp are its own too.
  const std::string name =
      "sealed-" + std::filesystem::path(root_).filename().string() + ".txt";
  const std::string directory = root_ + "/locked";
  MakeDirectory(directory, 0755);
  const std::string path = directory + "/" + name;
  const std::string sealed = Sealed("read only\r\n");
  WriteFile(path, sealed);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(directory.c_str(), 0555), 0);

  ExpectLoggedRun(KorvikAsNobody({"-V", path}));
  ExpectRunLog(LastLog(), VerifiedLog("-V " + path, kMatches));
  EXPECT_EQ(ReadFile(path), sealed);
  EXPECT_THAT(ListDirectory(directory), ElementsAre(name));
  EXPECT_THAT(ListDirectory(temp_dir_), IsEmpty());
  for (const std::string& entry : ListDirectory("/tmp")) {
    EXPECT_FALSE(entry.starts_with(name)) << "left behind: /tmp/" << entry;
  }
  ExpectOnlyLogInRunDirectory();
}

class ReadOnlyFileTest : public NobodyTest,
                         public testing::WithParamInterface<UnsealedCase> {};

TEST_P(ReadOnlyFileTest, FileTheUserMayNotWriteIsNotSealed) {
  const std::string directory = root_ + "/shared";
  MakeDirectory(directory, 0777);
  const std::string path = directory + "/owned-by-root.txt";
  WriteFile(path, GetParam().content);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  const struct stat before = StatOf(path);

  ExpectLoggedRun(KorvikAsNobody({"-A", path}));
  EXPECT_THAT(LastLog().lines, Contains("Result : Failed!"));
  ExpectFailureMarker();
  EXPECT_EQ(ReadFile(path), GetParam().content);
  const struct stat after = StatOf(path);
  EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
  EXPECT_EQ(after.st_uid, 0u);
  EXPECT_EQ(after.st_mode & 07777, 0644u);
  EXPECT_THAT(ListDirectory(directory), ElementsAre("owned-by-root.txt"));
}

INSTANTIATE_TEST_SUITE_P(Files, ReadOnlyFileTest,
                         testing::ValuesIn(kUnsealedCases), UnsealedCaseName);

// ---------------------------------------------------------------------------
// Runs at the same time.

TEST_F(CliTest, ParallelSealsFromOneDirectory) {
  constexpr int kRuns = 8;
  // Lone CRs throughout, so that every run rewrites its file through the
  // shared work file name.
  std::string filler;
  for (int i = 0; i < 20000; ++i) filler += "line\r";
  std::vector<std::string> paths, rewritten;
  for (int i = 0; i < kRuns; ++i) {
    const std::string content = "file " + std::to_string(i) + "\r" + filler;
    std::string expected;
    for (char c : content) {
      expected += c;
      if (c == '\r') expected += '\n';
    }
    paths.push_back(Data("parallel-" + std::to_string(i) + ".txt"));
    rewritten.push_back(expected);
    WriteFile(paths.back(), content);
  }

  std::vector<std::unique_ptr<Child>> children;
  for (const std::string& path : paths) {
    children.push_back(StartKorvik({"-A", path}));
  }
  for (auto& child : children) ExpectLoggedRun(child->Wait());

  const std::vector<RunLogRecord> logs = Logs();
  ASSERT_EQ(logs.size(), static_cast<std::size_t>(kRuns));
  std::set<std::string> sealed;
  for (const RunLogRecord& log : logs) {
    ASSERT_EQ(log.lines.size(), 6u) << log.text;
    const std::string prefix = "Command Line Arguments : -A ";
    ASSERT_TRUE(log.lines[1].starts_with(prefix)) << log.text;
    const std::string path = log.lines[1].substr(prefix.size());
    ExpectRunLog(log, SealedLog("-A " + path, path));
    sealed.insert(path);
  }
  EXPECT_EQ(sealed, std::set<std::string>(paths.begin(), paths.end()));
  ExpectOnlyLogInRunDirectory();

  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(ReadFile(paths[i]), Sealed(rewritten[i])) << paths[i];
    VerifyAndCheck(paths[i], kMatches);
  }
  EXPECT_EQ(ListDirectory(data_dir_).size(), static_cast<std::size_t>(kRuns));
}

TEST_F(CliTest, ParallelVerificationsOfOneFile) {
  const std::string body = std::string(16 * kMiB, 'v') + "\r\n";
  const std::string path = Data("shared.txt");
  WriteFile(path, Sealed(body));

  constexpr int kRounds = 3;
  for (int round = 0; round < kRounds; ++round) {
    auto first = StartKorvik({"-V", path});
    auto second = StartKorvik({"-V", path});
    ExpectLoggedRun(first->Wait());
    ExpectLoggedRun(second->Wait());
  }
  const std::vector<RunLogRecord> logs = Logs();
  ASSERT_EQ(logs.size(), 2u * kRounds);
  for (const RunLogRecord& log : logs) {
    ExpectRunLog(log, VerifiedLog("-V " + path, kMatches));
  }
  EXPECT_THAT(ListDirectory(data_dir_), ElementsAre("shared.txt"));
  ExpectOnlyLogInRunDirectory();
}

// ---------------------------------------------------------------------------
// The failure marker.

class MarkerTest : public CliTest,
                   public testing::WithParamInterface<const char*> {
 protected:
  std::vector<std::string> MarkersInRunDirectory() const {
    std::vector<std::string> markers;
    for (const std::string& name : ListDirectory(run_dir_)) {
      if (::strcasecmp(name.c_str(), kMarkerName) == 0) markers.push_back(name);
    }
    return markers;
  }
};

TEST_P(MarkerTest, SuccessfulRunRemovesOldMarker) {
  WriteFile(InRun(GetParam()), "old marker");
  const std::string path = Data("fine.txt");
  WriteFile(path, "fine\r\n");

  SealAndCheck(path, "fine\r\n");
  EXPECT_THAT(MarkersInRunDirectory(), IsEmpty());
}

TEST_P(MarkerTest, FailedRunReplacesOldMarker) {
  WriteFile(InRun(GetParam()), "old marker");
  const std::string path = Data("empty.txt");
  WriteFile(path, "");

  ExpectLoggedRun(Korvik({"-A", path}));
  EXPECT_THAT(MarkersInRunDirectory(), ElementsAre(kMarkerName));
  ExpectFailureMarker();
}

// The name a run deletes the marker under, and the name it writes it under.
INSTANTIATE_TEST_SUITE_P(Names, MarkerTest,
                         testing::Values("Ravlo.out", "ravlo.Out"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* c = info.param; *c; ++c) {
                             if (*c != '.') name += *c;
                           }
                           return name + "_" + std::to_string(info.index);
                         });

// On a file system that tells letter case apart, other spellings are other
// people's files.
TEST_F(MarkerTest, OtherSpellingsAreLeftAlone) {
  WriteFile(InRun("RAVLO.OUT"), "someone else's");
  const std::string path = Data("fine.txt");
  WriteFile(path, "fine\r\n");
  SealAndCheck(path, "fine\r\n");
  EXPECT_THAT(MarkersInRunDirectory(), ElementsAre("RAVLO.OUT"));
}

// ---------------------------------------------------------------------------
// Interactive mode.

TEST_F(CliTest, NoArgumentsWithoutDisplayTellsAndWritesNoLog) {
  const Outcome outcome = Korvik({});
  EXPECT_FALSE(outcome.timed_out);
  EXPECT_EQ(outcome.exit_status, 0) << outcome.standard_error;
  const std::string& error = outcome.standard_error;
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
  EXPECT_TRUE(error.ends_with("\n")) << error;
  EXPECT_NE(error.find("interactive mode"), std::string::npos) << error;
  EXPECT_NE(error.find("graphical display"), std::string::npos) << error;
  EXPECT_THAT(ListDirectory(run_dir_), IsEmpty());
}

}  // namespace
}  // namespace korvik::cli
