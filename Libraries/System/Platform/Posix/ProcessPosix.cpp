// Linux backend of the process library.
#include <fcntl.h>
#include <gio/gio.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CommandLine.h"
#include "Core/Strings.h"
#include "ProcessInternal.h"

namespace velto::platform {

namespace {

class unique_fd {
 public:
  unique_fd() noexcept = default;
  explicit unique_fd(int fd) noexcept : fd_(fd) {}
  ~unique_fd() { reset(); }
  unique_fd(unique_fd&& other) noexcept : fd_(other.release()) {}
  unique_fd& operator=(unique_fd&& other) noexcept {
    reset(other.release());
    return *this;
  }

  [[nodiscard]] int get() const noexcept { return fd_; }
  int release() noexcept { return std::exchange(fd_, -1); }
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) {
      close(fd_);
    }
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct GObjectUnref {
  void operator()(gpointer object) const noexcept { g_object_unref(object); }
};
template <class T>
using gobject_ptr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
  void operator()(gpointer block) const noexcept { g_free(block); }
};
using gchar_ptr = std::unique_ptr<gchar, GFree>;

struct GErrorFree {
  void operator()(GError* error) const noexcept { g_error_free(error); }
};
using gerror_ptr = std::unique_ptr<GError, GErrorFree>;

std::string current_directory() {
  std::string buffer(256, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (getcwd(buffer.data(), buffer.size())) {
      buffer.resize(buffer.find('\0'));
      return buffer;
    }
    if (errno != ERANGE) {
      break;
    }
    buffer.assign(buffer.size() * 4, '\0');
  }
  return {};
}

// The files to try for `program`, as absolute paths where the current
// directory matters: the child changes its directory before it executes,
// but a relative program, as on Windows, names a file from the caller's.
std::vector<std::string> executable_candidates(const std::string& program) {
  const std::string cwd = current_directory();
  const auto anchored = [&cwd](const std::string& path) {
    return path.starts_with('/') || cwd.empty() ? path : cwd + '/' + path;
  };
  if (program.find('/') != std::string::npos) {
    return {anchored(program)};
  }
  const char* search = std::getenv("PATH");
  const std::string path = search ? search : "/usr/local/bin:/usr/bin:/bin";
  std::vector<std::string> candidates;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t stop = path.find(':', start);
    if (stop == std::string::npos) {
      stop = path.size();
    }
    // An empty entry is the current directory.
    const std::string directory = stop == start ? "." : path.substr(start, stop - start);
    candidates.push_back(anchored(directory + '/' + program));
    start = stop + 1;
  }
  return candidates;
}

// ---- Between fork and exec only async-signal-safe calls are allowed: every
// text is prepared before forking.
struct ExecPlan {
  std::vector<std::string> candidates;
  std::vector<std::string> arguments;
  std::vector<char*> argv;
  std::string directory;
};

[[noreturn]] void report_and_exit(int status_fd, int error) noexcept {
  [[maybe_unused]] const ssize_t written = write(status_fd, &error, sizeof error);
  _exit(127);
}

[[noreturn]] void exec_detached(const ExecPlan& plan, int status_fd) noexcept {
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) != 0) {
    report_and_exit(status_fd, errno);
  }
  const int null_fd = open("/dev/null", O_RDWR);
  if (null_fd < 0) {
    report_and_exit(status_fd, errno);
  }
  for (int fd = 0; fd <= 2; ++fd) {
    if (dup2(null_fd, fd) < 0) {
      report_and_exit(status_fd, errno);
    }
  }
  if (null_fd > 2) {
    close(null_fd);
  }
  // No other descriptor of ours reaches the program (the status pipe already
  // closes on exec). Failure only means an older kernel.
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);

  // Ignored signals and the blocked mask survive exec; the program starts
  // with neither.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    sigaction(signal_number, &default_action, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);

  int error = ENOENT;
  for (const std::string& candidate : plan.candidates) {
    execve(candidate.c_str(), plan.argv.data(), environ);
    // As a path search does: a file found but not executable is the answer
    // unless a later one runs.
    if (errno != ENOENT && errno != ENOTDIR && error != EACCES) {
      error = errno;
    }
  }
  report_and_exit(status_fd, error);
}

}  // namespace

Text executable_path() {
  std::string buffer(256, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
      return {};
    }
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return from_utf8(buffer);
    }
    buffer.assign(buffer.size() * 4, '\0');
  }
  return {};
}

bool start_program(Text& command_line, TextView working_directory) {
  const std::vector<Text> arguments = process::split_command_line(command_line);
  if (arguments.empty() || arguments.front().empty()) {
    return false;
  }
  ExecPlan plan;
  for (const Text& argument : arguments) {
    plan.arguments.push_back(to_utf8(argument));
  }
  for (std::string& argument : plan.arguments) {
    plan.argv.push_back(argument.data());
  }
  plan.argv.push_back(nullptr);
  plan.candidates = executable_candidates(plan.arguments.front());
  plan.directory = to_utf8(working_directory);

  // The child writes its errno here when it cannot execute; a successful
  // exec closes the pipe and the parent reads end-of-file.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    return false;
  }
  unique_fd status_read(fds[0]);
  unique_fd status_write(fds[1]);
  if (status_write.get() <= 2) {
    // The child puts /dev/null on 0 to 2; keep the pipe clear of them.
    status_write.reset(fcntl(status_write.get(), F_DUPFD_CLOEXEC, 3));
    if (status_write.get() < 0) {
      return false;
    }
  }

  // Two forks: the middle child starts a new session, forks the program and
  // ends at once, so the program is nobody's child here and no zombie stays.
  const pid_t middle = fork();
  if (middle < 0) {
    return false;
  }
  if (middle == 0) {
    if (setsid() < 0) {
      report_and_exit(status_write.get(), errno);
    }
    const pid_t program = fork();
    if (program < 0) {
      report_and_exit(status_write.get(), errno);
    }
    if (program == 0) {
      exec_detached(plan, status_write.get());
    }
    _exit(0);
  }
  status_write.reset();
  int wait_status = 0;
  while (waitpid(middle, &wait_status, 0) < 0 && errno == EINTR) {
  }

  int error = 0;
  ssize_t got = 0;
  do {
    got = read(status_read.get(), &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  return got == 0;
}

bool shell_open(TextView program, TextView /*parameters*/, TextView working_directory) {
  // A program that starts with a quote carries its own arguments; the
  // document is its first one.
  Text target(program);
  if (program.starts_with(u'"')) {
    const std::vector<Text> arguments = process::split_command_line(program);
    target = arguments.empty() ? Text() : arguments.front();
  }
  if (target.empty()) {
    return false;
  }
  const std::string text = to_utf8(target);

  gchar_ptr uri;
  if (g_uri_peek_scheme(text.c_str()) != nullptr) {
    uri.reset(g_strdup(text.c_str()));
  } else {
    std::string path = text;
    if (!path.starts_with('/') && !working_directory.empty()) {
      path = to_utf8(working_directory) + '/' + path;
    }
    // Resolves a path that is still relative against the current directory.
    const gobject_ptr<GFile> file(g_file_new_for_path(path.c_str()));
    uri.reset(g_file_get_uri(file.get()));
  }
  GError* raw_error = nullptr;
  const bool launched = g_app_info_launch_default_for_uri(uri.get(), nullptr, &raw_error) != FALSE;
  const gerror_ptr error(raw_error);
  return launched;
}

Text environment_read(TextView name) {
  const char* value = std::getenv(to_utf8(name).c_str());
  return value ? from_utf8(value) : Text();
}

void environment_write(TextView name, TextView value) {
  setenv(to_utf8(name).c_str(), to_utf8(value).c_str(), 1);
}

void close_process_handle(std::intptr_t handle) noexcept {
  if (handle > 0) {
    close(static_cast<int>(handle));
  }
}

}  // namespace velto::platform
