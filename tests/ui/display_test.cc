// Interactive mode and the display: a display that does not answer is told
// like a missing one, a display that answers gets the question, and the
// module's own check of X servers and Wayland compositors.
#include "ui/qt/display.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_support.h"
#include "ui/program_title.h"

namespace korvik {
namespace {

using cli::Child;
using cli::Command;
using cli::Outcome;
using cli::ScratchDirectory;

const std::string kProgram = std::string(cli::kProgramDirectory) + "/korvik";

// A Unix stream socket bound at `path`. A listening one stands for a
// running compositor; one closed at once leaves the socket file of a
// compositor that is gone.
class UnixSocket {
 public:
  enum class Kind { kListening, kStale };

  UnixSocket(const std::string& path, Kind kind)
      : socket_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(socket_, reinterpret_cast<const sockaddr*>(&address),
                     sizeof address),
              0)
        << path;
    if (kind == Kind::kListening) {
      EXPECT_EQ(::listen(socket_, 1), 0);
    } else {
      ::close(socket_);
      socket_ = -1;
    }
  }
  ~UnixSocket() {
    if (socket_ >= 0) ::close(socket_);
  }
  UnixSocket(const UnixSocket&) = delete;
  UnixSocket& operator=(const UnixSocket&) = delete;

 private:
  int socket_;
};

// Returns a local X display number nothing serves: neither a socket in
// /tmp/.X11-unix nor an abstract socket of that name.
std::string UnservedXDisplay() {
  std::ifstream sockets_file("/proc/net/unix");
  const std::string sockets(std::istreambuf_iterator<char>(sockets_file), {});
  for (int number = 57;; ++number) {
    const std::string name = "/tmp/.X11-unix/X" + std::to_string(number);
    if (sockets.find(name + "\n") == std::string::npos &&
        !std::filesystem::exists(name)) {
      return ":" + std::to_string(number);
    }
  }
}

// ---------------------------------------------------------------------------
// The built program, started without arguments.

class NoArgumentsTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& directory : {run_dir_, runtime_dir_, temp_dir_}) {
      std::filesystem::create_directory(directory);
    }
  }

  Command KorvikWith(const std::vector<std::string>& variables) const {
    Command command;
    command.program = kProgram;
    command.directory = run_dir_;
    command.environment = cli::PlainEnvironment(temp_dir_);
    command.environment.insert(command.environment.end(), variables.begin(),
                               variables.end());
    return command;
  }

  ScratchDirectory scratch_;
  const std::string run_dir_ = scratch_.path() + "/run";
  const std::string runtime_dir_ = scratch_.path() + "/runtime";
  const std::string temp_dir_ = scratch_.path() + "/tmp";
};

TEST_F(NoArgumentsTest, DisplayThatDoesNotAnswerIsToldLikeNone) {
  const UnixSocket stale(runtime_dir_ + "/wayland-stale",
                         UnixSocket::Kind::kStale);
  const std::string x_display = "DISPLAY=" + UnservedXDisplay();
  const std::string runtime = "XDG_RUNTIME_DIR=" + runtime_dir_;
  const std::vector<std::vector<std::string>> environments{
      {x_display},
      {"WAYLAND_DISPLAY=x"},
      {runtime, "WAYLAND_DISPLAY=x"},
      {runtime, "WAYLAND_DISPLAY=wayland-stale"},
      {"WAYLAND_DISPLAY=" + runtime_dir_ + "/wayland-stale"},
      {x_display, runtime, "WAYLAND_DISPLAY=wayland-stale",
       "XDG_SESSION_TYPE=wayland"},
  };
  for (const auto& variables : environments) {
    SCOPED_TRACE(testing::PrintToString(variables));
    // A failure marker of an earlier run goes, and no run log comes.
    cli::WriteFile(run_dir_ + "/ravlo.Out", "earlier run");

    const Outcome outcome = cli::Run(KorvikWith(variables), 60);
    EXPECT_FALSE(outcome.timed_out);
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(outcome.exit_status, 0);
    EXPECT_EQ(outcome.standard_error,
              "korvik: interactive mode needs a graphical display\n");
    EXPECT_EQ(outcome.standard_output, "");
    EXPECT_TRUE(cli::ListDirectory(run_dir_).empty());
  }
}

// Xvfb on a display number of its own choosing, stopped on destruction.
class VirtualXServer {
 public:
  VirtualXServer() {
    int ready[2];
    if (::pipe(ready) != 0) return;
    const std::string ready_fd = std::to_string(ready[1]);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", ready_fd.c_str(), "-nolisten",
               "tcp", "-screen", "0", "1024x768x24", nullptr);
      ::_exit(127);
    }
    ::close(ready[1]);
    // Xvfb writes its display number and a line end, in separate writes,
    // once it accepts clients; it writes nothing when it fails to start.
    std::string number;
    char digit;
    while (pid_ > 0 && ::read(ready[0], &digit, 1) == 1 && digit != '\n') {
      number += digit;
    }
    if (!number.empty()) display_ = ":" + number;
    ::close(ready[0]);
  }
  ~VirtualXServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  VirtualXServer(const VirtualXServer&) = delete;
  VirtualXServer& operator=(const VirtualXServer&) = delete;

  // The display's name, or the empty text when Xvfb did not start.
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

// Determines whether a top-level window named `title` is mapped on the
// screen of `connection`.
bool ShowsWindowNamed(xcb_connection_t* connection, const std::string& title) {
  const xcb_window_t root =
      ::xcb_setup_roots_iterator(::xcb_get_setup(connection)).data->root;
  xcb_query_tree_reply_t* tree = ::xcb_query_tree_reply(
      connection, ::xcb_query_tree(connection, root), nullptr);
  if (tree == nullptr) return false;
  const xcb_window_t* windows = ::xcb_query_tree_children(tree);
  bool found = false;
  for (int i = 0; !found && i < ::xcb_query_tree_children_length(tree); ++i) {
    xcb_get_property_reply_t* name = ::xcb_get_property_reply(
        connection,
        ::xcb_get_property(connection, 0, windows[i], XCB_ATOM_WM_NAME,
                           XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
        nullptr);
    xcb_get_window_attributes_reply_t* attributes =
        ::xcb_get_window_attributes_reply(
            connection, ::xcb_get_window_attributes(connection, windows[i]),
            nullptr);
    found =
        name != nullptr && attributes != nullptr &&
        attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
        std::string(static_cast<const char*>(::xcb_get_property_value(name)),
                    ::xcb_get_property_value_length(name)) == title;
    std::free(name);
    std::free(attributes);
  }
  std::free(tree);
  return found;
}

TEST_F(NoArgumentsTest, DisplayThatAnswersGetsTheQuestion) {
  const VirtualXServer server;
  ASSERT_FALSE(server.display().empty()) << "Xvfb (package xvfb) did not start";
  xcb_connection_t* connection =
      ::xcb_connect(server.display().c_str(), nullptr);
  ASSERT_EQ(::xcb_connection_has_error(connection), 0);

  const Child korvik(KorvikWith({"DISPLAY=" + server.display()}));
  // A bound for a program that never shows its question, not a goal.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool asked = false;
  while (!asked && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    asked = ShowsWindowNamed(connection, kProgramTitle);
  }
  ::xcb_disconnect(connection);
  EXPECT_TRUE(asked);
}

// ---------------------------------------------------------------------------
// The module's check, in this process.

// Sets the display variables for one test and restores them afterwards.
class DisplayCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kNames) {
      const char* value = std::getenv(name);
      saved_.push_back(value == nullptr ? std::nullopt
                                        : std::optional<std::string>(value));
      ::unsetenv(name);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (saved_[i]) {
        ::setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        ::unsetenv(kNames[i]);
      }
    }
  }

  static constexpr const char* kNames[] = {
      "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "QT_QPA_PLATFORM"};
  std::vector<std::optional<std::string>> saved_;
  ScratchDirectory runtime_dir_;
};

TEST_F(DisplayCheckTest, WaylandCompositorAnswersByNameOrPath) {
  const std::string socket_path = runtime_dir_.path() + "/wayland-1";
  {
    const UnixSocket compositor(socket_path, UnixSocket::Kind::kListening);
    ::setenv("WAYLAND_DISPLAY", "wayland-1", 1);
    EXPECT_FALSE(CanOpenDisplay()) << "found without XDG_RUNTIME_DIR";
    ::setenv("XDG_RUNTIME_DIR", runtime_dir_.path().c_str(), 1);
    EXPECT_TRUE(CanOpenDisplay());
    ::setenv("WAYLAND_DISPLAY", "wayland-2", 1);
    EXPECT_FALSE(CanOpenDisplay());
    ::unsetenv("XDG_RUNTIME_DIR");
    ::setenv("WAYLAND_DISPLAY", socket_path.c_str(), 1);
    EXPECT_TRUE(CanOpenDisplay());
  }
  // The compositor is gone; its socket file stays.
  ASSERT_TRUE(std::filesystem::exists(socket_path));
  EXPECT_FALSE(CanOpenDisplay());
}

TEST_F(DisplayCheckTest, NamedPlatformIsTrusted) {
  ::setenv("DISPLAY", UnservedXDisplay().c_str(), 1);
  EXPECT_FALSE(CanOpenDisplay());
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  EXPECT_TRUE(CanOpenDisplay());
}

}  // namespace
}  // namespace korvik
