#include <cerrno>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/batch_run.h"
#include "app/command_line.h"
#include "checksum/entries.h"
#include "fuzz_checks.h"
#include "platform/posix/posix_system.h"
#include "reference_lines.h"
#include "tests/fake_platform.h"

namespace korvik::fuzz {
namespace {

constexpr char kLog[] = "/work/ravlo.log";
constexpr char kMarker[] = "/work/ravlo.Out";
constexpr int kErrors[] = {EACCES, ENOSPC, EIO, EXDEV, EINTR, ENOENT, EROFS};
const std::string kRule(80, '-');

std::string Sealed(const std::string& body) { return body + Md5Hex(body); }

// The regular files of the machine and their contents before the run.
const std::map<std::string, std::string>& Originals() {
  static const std::map<std::string, std::string> files = {
      {"/work/a.txt", "first\rsecond\r\nthird"},
      {"/work/b.txt", "one\r\ntwo"},
      {"/work/s.txt", Sealed("x\r\n")},
      {"/work/e.txt", ""},
      {"/work/a b.txt", "blank\rname"},
      {"/work/.hidden", "hidden\r"},
      {"/work/ro.txt", "read only\r"},
      {"/work/x~@~", Sealed("named like a work file\r\n")},
      {"/data/c.txt", "another\rdevice"},
      {"/data/s.txt", Sealed("sealed\r\n")},
      {"/opt/korvik/korvik.DLL", "library"},
  };
  return files;
}

std::unique_ptr<FakeWorld> MakeWorld() {
  auto world = std::make_unique<FakeWorld>();
  FakeFileSystem& files = world->files;
  files.AddDirectory("/data", 2);
  files.AddDirectory("/work/dir");
  files.AddSystemEntry("/work/fifo");
  files.AddSymlink("/work/link", "/work/a.txt");
  files.AddSymlink("/work/loop", "/work/loop");
  files.AddSymlink("/work/gone", "/work/nothing");
  for (const auto& [path, content] : Originals()) {
    files.AddFile(path, content, path == "/work/ro.txt" ? 0444 : 0644);
  }
  return world;
}

// Determines whether `now` is a form a run may leave a file in: as it was,
// rewritten by the line rules, or rewritten and sealed.
bool Whole(const std::string& original, const std::string& now) {
  const std::string rewritten = reference::Rewrite(original);
  return now == original || now == rewritten || now == Sealed(rewritten);
}

// Returns the command text the program takes from these arguments.
std::string CommandTextOf(const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>("korvik")};
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  return PosixProcess(static_cast<int>(argv.size()), argv.data()).CommandText();
}

std::string CheckDecoding(const std::vector<std::string>& arguments,
                          std::string_view joined_by_zero) {
  std::string joined(joined_by_zero);
  for (char& c : joined) {
    if (c == '\0') c = ' ';
  }
  const std::string command_text = CommandTextOf(arguments);
  if (command_text != joined) return "the command text joins otherwise";
  const std::string trimmed = TrimBlanks(command_text);
  if (trimmed != reference::TrimSpaces(command_text)) {
    return "TrimBlanks trims otherwise";
  }
  auto command = DecodeCommand(trimmed);
  if (trimmed.size() < 2) {
    if (command.ok() || command.error().kind() != ErrorKind::kInvalidArgument) {
      return "DecodeCommand takes a command of fewer than two characters";
    }
    return "";
  }
  if (!command.ok()) return "DecodeCommand refuses a command";
  if (command->switch_text != trimmed.substr(0, 2)) {
    return "DecodeCommand's switch is not the first two characters";
  }
  if (command->file_name !=
      reference::TrimSpaces(std::string_view(trimmed).substr(2))) {
    return "DecodeCommand's file name is not the trimmed rest";
  }
  return "";
}

// The work file whose removal was the injected failure, or "".
std::string FailedRemoval(const std::string& injected) {
  constexpr std::string_view kRemove = "remove '";
  if (!injected.starts_with(kRemove)) return "";
  std::string path =
      injected.substr(kRemove.size(), injected.rfind("': ") - kRemove.size());
  if (!path.starts_with('/')) path = "/work/" + path;
  return path;
}

std::string CheckRun(FakeWorld& world, const std::string& command_text,
                     const Status& status) {
  FakeFileSystem& files = world.files;
  const std::string& injected = world.faulty.injected();
  if (files.OpenHandleCount() != 0) return "a handle stayed open";

  for (const auto& [path, original] : Originals()) {
    if (!files.Exists(path)) return "lost " + path;
    if (!Whole(original, files.Contents(path))) return "damaged " + path;
  }
  const std::string kept = FailedRemoval(injected);
  for (const std::string& path : files.Files()) {
    if (!Originals().contains(path) && path != kLog && path != kMarker &&
        path != kept) {
      return "left behind: " + path;
    }
  }

  if (!status.ok()) {
    const bool log_write =
        (injected.starts_with("open '") || injected.starts_with("write '") ||
         injected.starts_with("close '")) &&
        (injected.find("'ravlo.log'") != std::string::npos ||
         injected.find("'ravlo.Out'") != std::string::npos);
    if (!log_write) return "Main failed: " + status.error().description();
    return "";
  }
  if (command_text.empty()) {
    if (world.interactive.offers != 1) return "no offer of the window";
    if (files.Exists(kLog)) return "a run log without a command";
    return "";
  }
  if (!files.Exists(kLog)) return "no run log";
  const std::string log = files.Contents(kLog);
  const std::string head =
      "\r\n\r\n" + kRule +
      "\r\nKorvik Checksum Utility : Started : 06/12/2026 , 14:05:09\r\n"
      "Command Line Arguments : " +
      command_text + "\r\n";
  const std::string tail =
      "\r\nKorvik Checksum Utility : Ended : 06/12/2026 , 14:05:10\r\n" +
      kRule + "\r\n";
  if (!log.starts_with(head)) return "the run log does not start as one";
  if (!log.ends_with(tail) || log.size() < head.size() + tail.size()) {
    return "the run log does not end as one";
  }
  const std::string middle = log.substr(head.size() - 2);
  if (middle.find("\r\nResult : Successful.\r\n") == std::string::npos &&
      middle.find("\r\nResult : Failed!\r\n") == std::string::npos) {
    return "the run log has no result";
  }
  if (files.Exists(kMarker) && files.Contents(kMarker) != log) {
    return "the marker does not hold the run log";
  }
  return "";
}

}  // namespace

std::string CheckCommand(std::span<const std::uint8_t> input) {
  if (input.empty()) return "";
  std::size_t at = 1;
  const std::size_t failing_call = input[0];
  int error = 0;
  if (failing_call != 0) {
    if (input.size() < 2) return "";
    error = kErrors[input[1] % std::size(kErrors)];
    at = 2;
  }
  const std::string_view rest(reinterpret_cast<const char*>(input.data()) + at,
                              input.size() - at);
  std::vector<std::string> arguments;
  if (!rest.empty()) {
    std::size_t from = 0;
    for (;;) {
      const std::size_t zero = rest.find('\0', from);
      arguments.emplace_back(rest.substr(from, zero - from));
      if (zero == std::string_view::npos) break;
      from = zero + 1;
    }
  }
  if (std::string problem = CheckDecoding(arguments, rest); !problem.empty()) {
    return problem;
  }

  const std::string command_text = CommandTextOf(arguments);
  auto world = MakeWorld();
  if (failing_call != 0) world->faulty.FailCall(failing_call, error);
  Status status;
  try {
    status = Main(world->batch, command_text);
  } catch (const std::exception& e) {
    return std::string("exception escaped: ") + e.what();
  }
  return CheckRun(*world, command_text, status);
}

}  // namespace korvik::fuzz
