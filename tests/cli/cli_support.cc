#include "cli_support.h"

#include <fcntl.h>
#include <grp.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace korvik::cli {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
  char name[] = "/tmp/korvik-cli-XXXXXX";
  if (::mkdtemp(name) == nullptr) Fail("mkdtemp");
  path_ = name;
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("open " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) Fail("write " + path);
}

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Md5Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(),
                 nullptr) != 1) {
    throw std::runtime_error("EVP_Digest failed");
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += kDigits[digest[i] >> 4];
    text += kDigits[digest[i] & 0x0f];
  }
  return text;
}

Child::Child(const Command& command) {
  // Everything the child needs is prepared before the fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<std::string> argv_texts{command.program};
  argv_texts.insert(argv_texts.end(), command.arguments.begin(),
                    command.arguments.end());
  std::vector<std::string> env_texts = command.environment;
  const std::vector<char*> argv = PointersTo(argv_texts);
  const std::vector<char*> envp = PointersTo(env_texts);

  const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int output = ::open((capture_.path() + "/out").c_str(),
                            O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int error = ::open((capture_.path() + "/err").c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (input < 0 || output < 0 || error < 0) Fail("open capture files");

  pid_ = ::fork();
  if (pid_ == 0) {
    if (::dup2(input, 0) < 0 || ::dup2(output, 1) < 0 || ::dup2(error, 2) < 0) {
      ::_exit(126);
    }
    if (::chdir(command.directory.c_str()) != 0) ::_exit(126);
    if (command.identity) {
      if (::setgroups(0, nullptr) != 0 ||
          ::setgid(command.identity->second) != 0 ||
          ::setuid(command.identity->first) != 0) {
        ::_exit(126);
      }
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  const int fork_error = errno;
  ::close(input);
  ::close(output);
  ::close(error);
  if (pid_ < 0) {
    errno = fork_error;
    Fail("fork");
  }
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

Outcome Child::Wait(int limit_seconds) {
  Outcome outcome;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(limit_seconds);
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) Fail("waitpid");
    if (std::chrono::steady_clock::now() > deadline) {
      outcome.timed_out = true;
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  pid_ = -1;
  if (WIFEXITED(status)) outcome.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  outcome.standard_output = ReadFile(capture_.path() + "/out");
  outcome.standard_error = ReadFile(capture_.path() + "/err");
  return outcome;
}

Outcome Run(const Command& command, int limit_seconds) {
  return Child(command).Wait(limit_seconds);
}

std::vector<std::string> PlainEnvironment(const std::string& temp_directory) {
  std::vector<std::string> environment{
      "PATH=/usr/local/bin:/usr/bin:/bin",
      "LC_ALL=C",
      "TMPDIR=" + temp_directory,
  };
  for (const char* name :
       {"TZ", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) {
      environment.push_back(std::string(name) + "=" + value);
    }
  }
  return environment;
}

bool CanSwitchUser() { return ::geteuid() == 0; }

bool MayRunProgramAs(uid_t user, gid_t group) {
  const std::string program = std::string(kProgramDirectory) + "/korvik";
  const std::string library = std::string(kProgramDirectory) + "/korvik.DLL";
  const pid_t pid = ::fork();
  if (pid < 0) Fail("fork");
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 ||
        ::setuid(user) != 0) {
      ::_exit(1);
    }
    ::_exit(::access(program.c_str(), X_OK) == 0 &&
                    ::access(library.c_str(), R_OK) == 0
                ? 0
                : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) Fail("waitpid");
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace korvik::cli
