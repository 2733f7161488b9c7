#include "Desktop.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace velto::testing {

std::string shell(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    if (status) {
      *status = -1;
    }
    return output;
  }
  std::array<char, 4096> chunk{};
  while (const std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe)) {
    output.append(chunk.data(), n);
  }
  const int raw = pclose(pipe);
  if (status) {
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  return output;
}

std::string capture(const std::string& command) {
  return shell("timeout 5 " + command + " 2>/dev/null");
}

bool succeeds(const std::string& command) {
  int status = -1;
  shell("timeout 5 " + command + " >/dev/null 2>&1", &status);
  return status == 0;
}

bool have_display() {
  const char* display = std::getenv("DISPLAY");
  return display && *display;
}

namespace {
int field(const std::string& text, const std::string& label) {
  const std::size_t at = text.find(label);
  return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + label.size());
}
}  // namespace

Geometry screen_size() {
  const std::string info = shell("xwininfo -root");
  return {0, 0, field(info, "Width: "), field(info, "Height: ")};
}

std::optional<Geometry> client_geometry(unsigned long window) {
  int status = 0;
  const std::string info = shell("xwininfo -id " + std::to_string(window) + " 2>/dev/null", &status);
  if (status != 0) {
    return std::nullopt;
  }
  return Geometry{field(info, "Absolute upper-left X: "), field(info, "Absolute upper-left Y: "),
                  field(info, "Width: "), field(info, "Height: ")};
}

std::optional<FrameExtents> frame_extents(unsigned long window) {
  // _NET_FRAME_EXTENTS: left, right, top, bottom.
  const std::string text = capture("xprop -id " + std::to_string(window) + " _NET_FRAME_EXTENTS");
  const std::size_t at = text.find('=');
  FrameExtents e;
  if (at == std::string::npos ||
      std::sscanf(text.c_str() + at + 1, " %d, %d, %d, %d", &e.left, &e.right, &e.top, &e.bottom) != 4) {
    return std::nullopt;
  }
  return e;
}

std::optional<Geometry> frame_geometry(unsigned long window) {
  const auto client = client_geometry(window);
  if (!client) {
    return std::nullopt;
  }
  const FrameExtents e = frame_extents(window).value_or(FrameExtents{});
  return Geometry{client->x - e.left, client->y - e.top, client->width + e.left + e.right,
                  client->height + e.top + e.bottom};
}

std::string window_title(unsigned long window) {
  const std::string text = shell("xprop -id " + std::to_string(window) + " _NET_WM_NAME 2>/dev/null");
  const std::size_t first = text.find('"');
  const std::size_t last = text.rfind('"');
  return first == std::string::npos || last <= first ? std::string() : text.substr(first + 1, last - first - 1);
}

namespace {
std::optional<unsigned long> first_window(const std::string& output) {
  std::istringstream lines(output);
  unsigned long id = 0;
  if (lines >> id) {
    return id;
  }
  return std::nullopt;
}
}  // namespace

std::optional<unsigned long> find_window(const std::string& name_regex, std::chrono::milliseconds timeout) {
  std::optional<unsigned long> found;
  eventually(
      [&] {
        found = first_window(shell("xdotool search --onlyvisible --name '" + name_regex + "' 2>/dev/null"));
        return found.has_value();
      },
      timeout, 100ms);
  return found;
}

std::optional<unsigned long> find_window_of_pid(pid_t pid, std::chrono::milliseconds timeout) {
  std::optional<unsigned long> found;
  eventually(
      [&] {
        found = first_window(shell("xdotool search --onlyvisible --pid " + std::to_string(pid) + " 2>/dev/null"));
        return found.has_value();
      },
      timeout, 100ms);
  return found;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& extra_environment) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    environment.emplace_back(*entry);
  }
  for (const std::string& setting : extra_environment) {
    const std::string name = setting.substr(0, setting.find('=') + 1);
    std::erase_if(environment, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    environment.push_back(setting);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : environment) {
    envp.push_back(const_cast<char*>(e.c_str()));
  }
  envp.push_back(nullptr);
  if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) {
    pid_ = -1;
  }
}

ChildProcess::~ChildProcess() {
  terminate();
}

bool ChildProcess::running() {
  if (pid_ <= 0 || status_) {
    return false;
  }
  int raw = 0;
  if (waitpid(pid_, &raw, WNOHANG) == pid_) {
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    return false;
  }
  return true;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
  eventually([&] { return !running(); }, timeout, 20ms);
  return status_;
}

void ChildProcess::terminate() {
  if (running()) {
    kill(pid_, SIGTERM);
    if (!wait(3s)) {
      kill(pid_, SIGKILL);
      wait(3s);
    }
  }
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velto-test-XXXXXX").string();
  if (mkdtemp(pattern.data())) {
    path_ = pattern;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) {
    std::filesystem::remove_all(path_, ignored);
  }
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<pid_t> descendants(pid_t root) {
  std::vector<std::pair<pid_t, pid_t>> parents;
  if (DIR* proc = opendir("/proc")) {
    while (const dirent* entry = readdir(proc)) {
      const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
      if (pid <= 0) {
        continue;
      }
      std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
      std::string line;
      std::getline(stat, line);
      const auto close = line.rfind(')');
      if (close == std::string::npos) {
        continue;
      }
      std::istringstream rest(line.substr(close + 2));
      char state = 0;
      pid_t parent = 0;
      rest >> state >> parent;
      parents.emplace_back(pid, parent);
    }
    closedir(proc);
  }
  std::vector<pid_t> found{root};
  for (std::size_t i = 0; i < found.size(); ++i) {
    for (const auto& [pid, parent] : parents) {
      if (parent == found[i]) {
        found.push_back(pid);
      }
    }
  }
  found.erase(found.begin());
  return found;
}

std::string process_name(pid_t pid) {
  std::string name;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
  return name;
}

}  // namespace velto::testing
