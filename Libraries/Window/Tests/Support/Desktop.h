#pragma once

// Drives the test display as a user would: starts programs, finds their
// windows and reads and changes them with the standard X tools (xdotool,
// wmctrl, xwininfo, xprop). Every wait is bounded.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace velto::testing {

using namespace std::chrono_literals;

// Runs a shell command; its standard output, and its exit status in *status.
std::string shell(const std::string& command, int* status = nullptr);
// The same for a command given at most 5 seconds: its standard output (its
// errors dropped), and whether it succeeded.
[[nodiscard]] std::string capture(const std::string& command);
bool succeeds(const std::string& command);

[[nodiscard]] bool have_display();

struct Geometry {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

[[nodiscard]] Geometry screen_size();
// Client area of an X window, in root coordinates.
[[nodiscard]] std::optional<Geometry> client_geometry(unsigned long window);
// The widths of the window manager's frame, nothing when it set none.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;
};
[[nodiscard]] std::optional<FrameExtents> frame_extents(unsigned long window);
// The window manager's frame around it (the outer rectangle); a window
// without frame extents counts as unframed.
[[nodiscard]] std::optional<Geometry> frame_geometry(unsigned long window);
// Title as the window manager sees it (UTF-8).
[[nodiscard]] std::string window_title(unsigned long window);
[[nodiscard]] std::optional<unsigned long> find_window(const std::string& name_regex,
                                                       std::chrono::milliseconds timeout = 10s);
[[nodiscard]] std::optional<unsigned long> find_window_of_pid(pid_t pid, std::chrono::milliseconds timeout = 10s);

// Polls `condition` until it holds or the time is up.
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = 5s, std::chrono::milliseconds step = 50ms);

// A child process that is ended (by its PID) if it is still running when
// the object goes.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  [[nodiscard]] pid_t pid() const { return pid_; }
  [[nodiscard]] bool running();
  // The exit status, or nothing if it did not end in time.
  std::optional<int> wait(std::chrono::milliseconds timeout = 10s);
  void terminate();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// A fresh directory that is removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

[[nodiscard]] std::string read_file(const std::string& path);

// Every process below `root`, found through their parents in /proc.
[[nodiscard]] std::vector<pid_t> descendants(pid_t root);
// The process's name as the kernel keeps it (at most 15 bytes), "" when gone.
[[nodiscard]] std::string process_name(pid_t pid);

template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout, std::chrono::milliseconds step) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    if (condition()) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    struct timespec pause {
      0, static_cast<long>(std::chrono::nanoseconds(step).count())
    };
    nanosleep(&pause, nullptr);
  }
}

}  // namespace velto::testing
