// Whole batch runs on the in-memory machine, with one file call failing:
// every call of a run in turn, with each of several errors. Whatever fails,
// the data file stays whole, no work file stays behind, the run log tells
// what happened in words the program defines, and the next run succeeds.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "app/batch_run.h"
#include "tests/fake_platform.h"
#include "tests/fuzz/reference_lines.h"
#include "tests/reliability/program_runs.h"

namespace korvik::reliability {
namespace {

constexpr char kLibrary[] = "/opt/korvik/korvik.DLL";
constexpr char kLog[] = "/work/ravlo.log";
constexpr char kMarker[] = "/work/ravlo.Out";

std::string Sealed(const std::string& body) { return body + Md5Hex(body); }

struct Scenario {
  const char* name;
  bool seal;            // -A or -G; otherwise -V
  const char* command;  // the command text
  const char* data;     // the data file's absolute name
  std::string content;
  bool other_device;  // /data on device 2, the current directory /work on 1
  bool old_marker = false;  // a failed run before left ravlo.Out
};

const Scenario kScenarios[] = {
    {"seal needing a full rewrite", true, "-A /work/a.txt", "/work/a.txt",
     "first\rsecond\r\nthird\rfourth\n", false},
    {"seal needing only a final line end", true, "-A /work/b.txt",
     "/work/b.txt", "one\r\ntwo", false},
    {"seal needing no change", true, "-g /work/c.txt", "/work/c.txt",
     "one\r\ntwo\r\n", false},
    {"seal, full rewrite, data on another device", true, "-A /data/a.txt",
     "/data/a.txt", "first\rsecond\r\nthird", true},
    {"seal, final CR only, data on another device", true, "-A /data/b.txt",
     "/data/b.txt", "one\r\ntwo\r", true},
    {"verify", false, "-V /work/s.txt", "/work/s.txt", Sealed("a\r\nb\r\n"),
     false},
    {"verify by a relative name", false, "-v s.txt", "/work/s.txt",
     Sealed("x\r\n"), false},
    {"verify, data on another device", false, "-V /data/s.txt", "/data/s.txt",
     Sealed("a\r\nb\r\n"), true},
};

const int kErrors[] = {EACCES, ENOSPC, EIO, EXDEV, EINTR};

std::unique_ptr<FakeWorld> MakeWorld(const Scenario& scenario) {
  auto world = std::make_unique<FakeWorld>();
  if (scenario.other_device) world->files.AddDirectory("/data", 2);
  world->files.AddFile(scenario.data, scenario.content);
  if (scenario.old_marker) world->files.AddFile(kMarker, "an earlier run");
  return world;
}

// Runs the program's batch run; an exception that escapes fails the test.
Status RunMain(FakeWorld& world, const std::string& command) {
  try {
    return Main(world.batch, command);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "exception escaped: " << e.what();
  } catch (...) {
    ADD_FAILURE() << "exception escaped";
  }
  return Status::Ok();
}

// The absolute name of the work file whose removal was the injected
// failure, or "" when the failure was another.
std::string FailedRemoval(const std::string& injected) {
  constexpr std::string_view kRemove = "remove '";
  if (!injected.starts_with(kRemove)) return "";
  std::string path =
      injected.substr(kRemove.size(), injected.rfind("': ") - kRemove.size());
  if (!path.starts_with('/')) path = "/work/" + path;
  const bool work_file = path.ends_with("/~~~~MD5.TMP") ||
                         path.find("~@~") != std::string::npos ||
                         path.find(".korvik-") != std::string::npos;
  return work_file ? path : "";
}

bool OneLine(const std::string& text) {
  return !text.empty() && text.find('\r') == std::string::npos &&
         text.find('\n') == std::string::npos;
}

// Checks the message of a run log against the messages the program
// defines for the operation; `description` receives the error description
// a failure message carries.
bool KnownMessage(const Scenario& scenario, const RunOutcome& outcome,
                  std::string& description) {
  if (!outcome.has_message) {
    description = outcome.unexpected_description;
    return outcome.unexpected && OneLine(description);
  }
  const std::string& message = outcome.message;
  const std::string data = scenario.data;
  auto described = [&](const std::string& prefix) {
    if (!message.starts_with(prefix)) return false;
    description = message.substr(prefix.size());
    return OneLine(description);
  };
  if (message == "Invalid/Missing File Name!") return true;
  if (scenario.seal) {
    return message == "Hash Appended successfully to : " + data ||
           message == "Error occured while trying to open file : " + data ||
           described("Error Generating Hash : \r\n") ||
           described("Error Occured while Adding Checksum to the File : " +
                     data + "\r\n");
  }
  return message == "Checksum Matches File Contents." ||
         message ==
             " Unexpected Error :  Checksum Library files korvik.DLL) are "
             "missing." ||
         described("Error Verifying Hash : \r\n");
}

class BatchFailureTest : public testing::Test {
 protected:
  // Checks everything a run may leave behind after the failure that the
  // world's file system injected (or none).
  void CheckRun(const Scenario& scenario, FakeWorld& world,
                const Status& status) {
    FakeFileSystem& files = world.files;
    const std::string& injected = world.faulty.injected();
    const std::string original = scenario.content;
    const std::string rewritten = reference::Rewrite(original);
    const std::string sealed = Sealed(rewritten);

    // The data file: whole, in one of the forms a run passes through.
    ASSERT_TRUE(files.Exists(scenario.data)) << "data file lost";
    const std::string now = files.Contents(scenario.data);
    if (scenario.seal) {
      EXPECT_TRUE(now == original || now == rewritten || now == sealed)
          << "data file damaged: " << testing::PrintToString(now);
    } else {
      EXPECT_EQ(now, original) << "verification changed the data file";
    }

    // No work file, except the one whose removal failed.
    const std::string kept = FailedRemoval(injected);
    for (const std::string& file : files.Files()) {
      if (file == scenario.data || file == kLibrary || file == kLog ||
          file == kMarker || file == kept) {
        continue;
      }
      ADD_FAILURE() << "left behind: " << file;
    }
    EXPECT_EQ(files.OpenHandleCount(), 0u) << "handles left open";

    // Only a failure to write the run log or the marker reaches the
    // caller, and it is the failure that happened.
    const bool log_write_failed =
        (injected.starts_with("open '") || injected.starts_with("write '") ||
         injected.starts_with("close '")) &&
        (injected.find("'ravlo.log'") != std::string::npos ||
         injected.find("'ravlo.Out'") != std::string::npos);
    EXPECT_EQ(status.ok(), !log_write_failed) << injected;
    if (!status.ok()) {
      EXPECT_EQ(status.error().description(), injected);
    }
    const std::string log = files.Exists(kLog) ? files.Contents(kLog) : "";
    std::string problem;
    const auto records = SplitRunLogs(log, problem);
    EXPECT_EQ(problem, "") << testing::PrintToString(log);
    if (records.empty()) {
      // A log write that failed wrote nothing.
      EXPECT_FALSE(status.ok()) << "no run log";
      return;
    }
    ASSERT_EQ(records.size(), 1u);
    const RunLogRecord& record = records.front();
    EXPECT_EQ(record.lines.at(1),
              "Command Line Arguments : " + std::string(scenario.command));
    const RunOutcome outcome = ReadOutcome(record);
    ASSERT_EQ(outcome.problem, "") << record.text;

    std::string description;
    EXPECT_TRUE(KnownMessage(scenario, outcome, description))
        << "message unknown to the program: " << record.text;
    // A failure message describes the failure that happened.
    if (!description.empty()) {
      EXPECT_EQ(description, injected);
    }
    if (outcome.unexpected) {
      EXPECT_FALSE(outcome.successful);
    }
    if (outcome.successful) {
      if (scenario.seal) {
        EXPECT_EQ(now, sealed) << "successful run, file not sealed";
        EXPECT_EQ(outcome.message, "Hash Appended successfully to : " +
                                       std::string(scenario.data));
      } else {
        EXPECT_EQ(outcome.message, "Checksum Matches File Contents.");
      }
    }
    // A work file that cannot be moved across file systems is copied: the
    // rewrite goes on.
    if (injected.starts_with("rename '/work/~~~~MD5.TMP'") &&
        injected.ends_with(std::strerror(EXDEV))) {
      EXPECT_TRUE(outcome.successful) << record.text;
    }

    // The marker: there after a failed run, holding its log.
    if (status.ok()) {
      EXPECT_EQ(files.Exists(kMarker), !outcome.successful);
    }
    if (files.Exists(kMarker)) {
      EXPECT_EQ(files.Contents(kMarker), record.text);
    }
  }

  // Runs the command again without failures: it completes the work and
  // clears what the failed run left, except a copy whose removal failed: a
  // verification never opens a name it did not create, and a random name
  // is no one's to guess.
  void CheckRecovery(const Scenario& scenario, FakeWorld& world) {
    const std::string rewritten = reference::Rewrite(scenario.content);
    const std::string done =
        scenario.seal ? Sealed(rewritten) : scenario.content;
    FakeFileSystem& files = world.files;
    // Sealing a sealed file seals it again; that is no recovery.
    if (scenario.seal && files.Contents(scenario.data) == done) return;
    const std::string kept = FailedRemoval(world.faulty.injected());
    world.faulty.Reset();
    (void)files.Remove(kMarker);
    (void)files.Remove(kLog);

    ASSERT_TRUE(RunMain(world, scenario.command).ok());
    EXPECT_EQ(files.Contents(scenario.data), done);
    std::string problem;
    const auto records = SplitRunLogs(files.Contents(kLog), problem);
    ASSERT_EQ(records.size(), 1u) << problem;
    const RunOutcome outcome = ReadOutcome(records.front());
    EXPECT_TRUE(outcome.successful) << records.front().text;
    EXPECT_EQ(outcome.message, scenario.seal
                                   ? "Hash Appended successfully to : " +
                                         std::string(scenario.data)
                                   : "Checksum Matches File Contents.");
    std::set<std::string> expected = {scenario.data, kLibrary, kLog};
    if (kept.find(".korvik-") != std::string::npos ||
        kept.find("~@~") != std::string::npos) {
      expected.insert(kept);
    }
    const std::vector<std::string> left = files.Files();
    EXPECT_EQ(std::set<std::string>(left.begin(), left.end()), expected);
  }

  // Runs each scenario once counting its calls, then once for every call
  // and error failing that call; returns the number of failures injected.
  std::size_t FailEveryCall(std::span<const Scenario> scenarios) {
    std::size_t injected_total = 0;
    for (const Scenario& scenario : scenarios) {
      SCOPED_TRACE(scenario.name);
      auto counted = MakeWorld(scenario);
      const Status status = RunMain(*counted, scenario.command);
      CheckRun(scenario, *counted, status);
      const std::size_t calls = counted->faulty.call_count();
      EXPECT_GT(calls, 10u);
      std::size_t injected_here = 0;

      for (const int code : kErrors) {
        for (std::size_t k = 1; k <= calls; ++k) {
          SCOPED_TRACE(std::string(std::strerror(code)) + " at call " +
                       std::to_string(k) + " of " + std::to_string(calls));
          auto world = MakeWorld(scenario);
          world->faulty.FailCall(k, code);
          const Status failed = RunMain(*world, scenario.command);
          SCOPED_TRACE("injected: " + world->faulty.injected());
          if (world->faulty.injected().empty()) {
            ADD_FAILURE() << "call not reached";
            continue;
          }
          ++injected_here;
          CheckRun(scenario, *world, failed);
          CheckRecovery(scenario, *world);
          if (HasFatalFailure()) return injected_total + injected_here;
        }
      }
      std::cout << scenario.name << ": " << calls << " calls, " << injected_here
                << " failures injected\n";
      injected_total += injected_here;
    }
    return injected_total;
  }
};

TEST_F(BatchFailureTest, EveryCallFailingLeavesTheDataFileWholeAndTheLogTrue) {
  const std::size_t injected = FailEveryCall(kScenarios);
  std::cout << "injected failures: " << injected << std::endl;
  RecordProperty("injected_failures", static_cast<int>(injected));
}

// A file system on which another run deletes the marker between this
// run's look-up and its own deletion, as happens when runs start together
// in a directory that holds the marker of an earlier failed run.
class RacingFileSystem : public FakeFileSystem {
 public:
  Status Remove(const std::string& path) override {
    if (path.ends_with("ravlo.Out") && Exists(path)) {
      (void)FakeFileSystem::Remove(path);  // the other run was first
      return Error::FromErrno(ENOENT, "delete", path);
    }
    return FakeFileSystem::Remove(path);
  }
};

// A marker that is already gone is what the deletion wanted: the run goes
// on (runs started together by xargs -P after a failed run).
TEST(MarkerRaceTest, MarkerDeletedByAnotherRunFirstDoesNotFailTheRun) {
  RacingFileSystem files;
  files.AddDirectory("/work");
  files.AddDirectory("/tmp");
  files.AddFile("/opt/korvik/korvik.DLL", "library", 0755);
  files.set_current_directory("/work");
  FakeProcess process(files);
  FakeDriveInfo drives;
  FakeLocale locale;
  FakeClock clock;
  FakeDigestLibrary digest(files);
  FakeInteractiveMode interactive;
  const Services services{files, process, drives, locale, digest};
  const BatchServices batch{services, clock, interactive};
  files.AddFile(kMarker, "an earlier run");
  files.AddFile("/work/s.txt", Sealed("x\r\n"));

  ASSERT_TRUE(Main(batch, "-V /work/s.txt").ok());
  std::string problem;
  const auto records = SplitRunLogs(files.Contents(kLog), problem);
  EXPECT_EQ(problem, "");
  ASSERT_EQ(records.size(), 1u) << files.Contents(kLog);
  const RunOutcome outcome = ReadOutcome(records.front());
  EXPECT_TRUE(outcome.successful);
  EXPECT_EQ(outcome.message, "Checksum Matches File Contents.");
  EXPECT_FALSE(files.Exists(kMarker));
}

}  // namespace
}  // namespace korvik::reliability
