#include "tests/reliability/program_runs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace korvik::reliability {
namespace {

void MakeDirectory(const std::string& path, mode_t mode) {
  ASSERT_EQ(::mkdir(path.c_str(), 0700), 0) << path;
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

bool IsWorkFileName(const std::string& name) {
  return name == "~~~~MD5.TMP" || name.find("~@~") != std::string::npos ||
         (name.starts_with('.') && name.find(".korvik-") != std::string::npos);
}

}  // namespace

Workspace::Workspace() {
  root_ = scratch_.path();
  run_ = root_ + "/run";
  data_ = root_ + "/data";
  temp_ = root_ + "/tmp";
  // Open to every user, so that runs as another user can reach it.
  EXPECT_EQ(::chmod(root_.c_str(), 0755), 0);
  MakeDirectory(run_, 0777);
  MakeDirectory(data_, 0755);
  MakeDirectory(temp_, 01777);
}

cli::Command Workspace::Korvik(std::vector<std::string> arguments) const {
  cli::Command command;
  command.program = kProgram;
  command.arguments = std::move(arguments);
  command.directory = run_;
  command.environment = cli::PlainEnvironment(temp_);
  return command;
}

std::vector<RunLogRecord> Workspace::Logs() const {
  const std::string path = InRun("ravlo.log");
  if (::access(path.c_str(), F_OK) != 0) return {};
  std::string problem;
  auto records = SplitRunLogs(cli::ReadFile(path), problem);
  EXPECT_EQ(problem, "") << "in " << path;
  return records;
}

void ExpectLoggedRun(const cli::Outcome& outcome) {
  EXPECT_FALSE(outcome.timed_out) << "the run did not end in time";
  EXPECT_EQ(outcome.signal, 0) << outcome.standard_error;
  EXPECT_EQ(outcome.exit_status, 0) << outcome.standard_error;
}

void WriteWhole(const std::string& path, std::string_view content) {
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  while (!content.empty()) {
    const ssize_t n = ::write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    ASSERT_GT(n, 0) << path;
    content.remove_prefix(static_cast<std::size_t>(n));
  }
  ASSERT_EQ(::close(fd), 0) << path;
}

bool FileEquals(const std::string& path, std::string_view content) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  static std::vector<char> buffer(std::size_t{1} << 20);
  bool same = true;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      same = same && n == 0 && content.empty();
      break;
    }
    const auto got = static_cast<std::size_t>(n);
    if (got > content.size() ||
        std::memcmp(buffer.data(), content.data(), got) != 0) {
      same = false;
      break;
    }
    content.remove_prefix(got);
  }
  ::close(fd);
  return same;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

std::vector<std::string> WorkFilesUnder(const std::string& directory) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(
           directory,
           std::filesystem::directory_options::skip_permission_denied, error);
       it != std::filesystem::recursive_directory_iterator();
       it.increment(error)) {
    if (error) break;
    if (IsWorkFileName(it->path().filename().string())) {
      found.push_back(it->path().string());
    }
  }
  return found;
}

Snapshot TakeSnapshot(const std::string& root) {
  Snapshot snapshot;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(
           root, std::filesystem::directory_options::skip_permission_denied,
           error);
       it != std::filesystem::recursive_directory_iterator();
       it.increment(error)) {
    if (error) break;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    EntryState state;
    state.mode = st.st_mode;
    // A directory's size and time follow the names made and removed in
    // it; only what it holds counts.
    if (!S_ISDIR(st.st_mode)) {
      state.size = st.st_size;
      state.mtime_ns =
          std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    }
    snapshot[it->path().string()] = state;
  }
  EXPECT_FALSE(error) << root << ": " << error.message();
  return snapshot;
}

std::vector<std::string> Differences(const Snapshot& before,
                                     const Snapshot& after,
                                     const std::set<std::string>& ignored) {
  std::vector<std::string> changes;
  for (const auto& [path, state] : before) {
    if (ignored.contains(path)) continue;
    const auto now = after.find(path);
    if (now == after.end()) {
      changes.push_back("vanished: " + path);
    } else if (!(now->second == state)) {
      changes.push_back("changed: " + path);
    }
  }
  for (const auto& [path, state] : after) {
    if (!ignored.contains(path) && !before.contains(path)) {
      changes.push_back("appeared: " + path);
    }
  }
  return changes;
}

}  // namespace korvik::reliability
