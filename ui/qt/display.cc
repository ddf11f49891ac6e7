#include "ui/qt/display.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/path.h"

namespace korvik {
namespace {

const char* Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// Connects as Qt's X11 platform would, to DISPLAY with its authority file.
bool XServerAnswers() {
  if (Variable("DISPLAY") == nullptr) return false;
  xcb_connection_t* connection = ::xcb_connect(nullptr, nullptr);
  const bool answers = ::xcb_connection_has_error(connection) == 0;
  ::xcb_disconnect(connection);
  return answers;
}

// Finds the compositor's socket as the Wayland client library does.
bool WaylandCompositorAnswers() {
  const char* name = Variable("WAYLAND_DISPLAY");
  if (name == nullptr) return false;
  std::string socket_path = name;
  if (!PathSyntax::Posix().IsAbsolute(name)) {
    const char* runtime_directory = Variable("XDG_RUNTIME_DIR");
    if (runtime_directory == nullptr) return false;
    socket_path = PathSyntax::Posix().Join(runtime_directory, name);
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socket_path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);

  const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return false;
  const bool answers =
      ::connect(socket, reinterpret_cast<const sockaddr*>(&address),
                sizeof address) == 0;
  ::close(socket);
  return answers;
}

}  // namespace

bool CanOpenDisplay() {
  return Variable("QT_QPA_PLATFORM") != nullptr || XServerAnswers() ||
         WaylandCompositorAnswers();
}

}  // namespace korvik
