// One client per app data directory on Linux: a lock file taken with flock,
// which the kernel releases when the process ends however it ends, and a
// Unix socket beside it through which a later start asks the holder to show
// its window. No session bus is needed.
#include <fcntl.h>
#include <gdk/gdkx.h>
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "Core/Strings.h"
#include "Platform.h"
#include "SingleInstance.h"

namespace velto::app::platform {

namespace {

// How long a later start waits for the holder's answer: a holder busy in its
// update check answers late or not at all.
constexpr int kAnswerWaitMs = 3000;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) noexcept : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] explicit operator bool() const noexcept { return fd_ >= 0; }

 private:
  int fd_;
};

// What the holder keeps for the rest of its life.
struct Holder {
  FileDescriptor lock;
  FileDescriptor listener;
};

Holder& holder() {
  static Holder state;
  return state;
}

// $XDG_RUNTIME_DIR, or GLib's fallback for it when unset.
std::string runtime_path(TextView name, const char* suffix) {
  return std::string(g_get_user_runtime_dir()) + "/" + to_utf8(name) + suffix;
}

std::optional<sockaddr_un> socket_address(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) {
    return std::nullopt;
  }
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

gboolean answer_request(gint listener, GIOCondition /*condition*/, gpointer /*data*/) {
  const FileDescriptor connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
  if (connection) {
    // A connection is the request; the answer only lets the later start end.
    single_instance_show_request();
    constexpr char kShown = '1';
    static_cast<void>(::send(connection.get(), &kShown, 1, MSG_NOSIGNAL));
  }
  return G_SOURCE_CONTINUE;
}

void listen_for_requests(TextView name) {
  const std::string path = runtime_path(name, ".socket");
  const auto address = socket_address(path);
  if (!address) {
    return;
  }
  FileDescriptor listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener) {
    return;
  }
  // The lock is ours, so whatever is at the path was left by a client that
  // ended without cleaning up.
  static_cast<void>(::unlink(path.c_str()));
  // Only the user may connect: the socket's mode comes from the umask.
  const mode_t previous = ::umask(0177);
  const int bound = ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
  ::umask(previous);
  if (bound != 0 || ::listen(listener.get(), SOMAXCONN) != 0) {
    return;
  }
  // Served from the main loop, which also runs inside the update question.
  g_unix_fd_add(listener.get(), G_IO_IN, answer_request, nullptr);
  holder().listener = std::move(listener);
}

}  // namespace

bool instance_lock(TextView name) {
  // Close-on-exec: an updater the client starts must not keep the lock after
  // the client has ended.
  FileDescriptor lock(::open(runtime_path(name, ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock) {
    // Nowhere to keep a lock: running twice beats not running at all.
    return true;
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    return errno != EWOULDBLOCK;
  }
  holder().lock = std::move(lock);
  listen_for_requests(name);
  return true;
}

void instance_show_holder(TextView name) {
  const auto address = socket_address(runtime_path(name, ".socket"));
  // Non-blocking: a connect to a holder whose backlog is full would wait.
  const FileDescriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!address || !connection ||
      ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
    return;
  }
  pollfd answer{connection.get(), POLLIN, 0};
  static_cast<void>(::poll(&answer, 1, kAnswerWaitMs));
}

void window_bring_forward(void* window) {
  if (window == nullptr || !GTK_IS_WINDOW(window)) {
    return;
  }
  GtkWindow* const gtk_window = GTK_WINDOW(window);
  gtk_window_deiconify(gtk_window);
  // The window manager's focus-stealing prevention lets a request through
  // only when it is as recent as the user's last action: the X server's
  // current time is.
  guint32 time = GDK_CURRENT_TIME;
  GdkWindow* const native = gtk_widget_get_window(GTK_WIDGET(gtk_window));
  if (native != nullptr && GDK_IS_X11_WINDOW(native)) {
    time = gdk_x11_get_server_time(native);
  }
  gtk_window_present_with_time(gtk_window, time);
}

}  // namespace velto::app::platform
