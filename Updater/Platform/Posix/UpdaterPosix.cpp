#include <gio/gio.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Strings.h"
#include "System/Files.h"
#include "Update.h"
#include "UpdaterBackend.h"

extern char** environ;

namespace velto::updater::backend {

namespace {

constexpr long kPollIntervalNs = 100L * 1000 * 1000;
constexpr char kAptGet[] = "apt-get";
constexpr char kPkexec[] = "pkexec";

// The program's full path from PATH, as the shell would find it; empty when
// it is not there. PATH is also how tests put stand-ins in place.
std::string find_program(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path != nullptr ? path : "";
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find(':'), rest.size());
    const std::string directory(rest.substr(0, end));
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (directory.empty()) {
      continue;
    }
    const std::string candidate = directory + "/" + name;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

struct SpawnActions {
  posix_spawn_file_actions_t actions{};
  bool ready = posix_spawn_file_actions_init(&actions) == 0;
  SpawnActions() = default;
  ~SpawnActions() {
    if (ready) {
      posix_spawn_file_actions_destroy(&actions);
    }
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
};

struct SpawnAttributes {
  posix_spawnattr_t attributes{};
  bool ready = posix_spawnattr_init(&attributes) == 0;
  SpawnAttributes() = default;
  ~SpawnAttributes() {
    if (ready) {
      posix_spawnattr_destroy(&attributes);
    }
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

std::vector<char*> argv_of(std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  return argv;
}

// Runs `words` (the program's full path first) in `directory` and waits;
// true when it exited with 0.
bool run_and_wait(std::vector<std::string> words, const std::string& directory) {
  SpawnActions actions;
  if (!actions.ready || posix_spawn_file_actions_addchdir_np(&actions.actions, directory.c_str()) != 0) {
    return false;
  }
  std::vector<char*> argv = argv_of(words);
  pid_t child = 0;
  if (posix_spawn(&child, argv[0], &actions.actions, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  int status = 0;
  pid_t waited = -1;
  do {
    waited = waitpid(child, &status, 0);
  } while (waited < 0 && errno == EINTR);
  return waited == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The desktop's handler for the package's type (a software centre), which
// installs with the user's consent.
bool open_with_desktop(const std::string& file) {
  GFile* const location = g_file_new_for_path(file.c_str());
  char* const uri = g_file_get_uri(location);
  g_object_unref(location);
  GError* error = nullptr;
  const bool opened = g_app_info_launch_default_for_uri(uri, nullptr, &error) != FALSE;
  g_free(uri);
  if (error != nullptr) {
    report(std::string("the desktop cannot open the package: ") + error->message);
    g_error_free(error);
  }
  return opened;
}

}  // namespace

PackageFormat package_format() noexcept {
  return {PackageKind::kTarGz, ".deb", u"velto.deb"};
}

bool wait_for_exit(std::uint32_t pid, int timeout_ms) noexcept {
  const long rounds = timeout_ms / (kPollIntervalNs / 1000000) + 1;
  for (long i = 0; i < rounds; ++i) {
    // EPERM: it is there, just another user's.
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      return true;
    }
    const timespec interval{0, kPollIntervalNs};
    nanosleep(&interval, nullptr);
  }
  return false;
}

std::optional<Text> make_work_directory() noexcept {
  try {
    const Text base = temp_directory();
    if (base.empty()) {
      return std::nullopt;
    }
    std::string pattern = to_utf8(base) + "velto-update-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      return std::nullopt;
    }
    return from_utf8(pattern) + u"/";
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

InstallOutcome install(const Text& installer, const Text& work_directory) noexcept {
  try {
    const std::string file = to_utf8(installer);
    const std::string directory = to_utf8(work_directory);
    const std::string apt_get = find_program(kAptGet);
    if (!apt_get.empty() && geteuid() == 0) {
      const std::string relative = "./" + file.substr(file.find_last_of('/') + 1);
      return run_and_wait({apt_get, "install", "-y", relative}, directory) ? InstallOutcome::kInstalled
                                                                           : InstallOutcome::kFailed;
    }
    const std::string pkexec = find_program(kPkexec);
    if (!apt_get.empty() && !pkexec.empty()) {
      // The full paths: pkexec may start the program elsewhere.
      return run_and_wait({pkexec, apt_get, "install", "-y", file}, directory) ? InstallOutcome::kInstalled
                                                                               : InstallOutcome::kFailed;
    }
    return open_with_desktop(file) ? InstallOutcome::kHandedToDesktop : InstallOutcome::kFailed;
  } catch (const std::exception&) {
    return InstallOutcome::kFailed;
  }
}

bool start_client(const Text& path) noexcept {
  try {
    SpawnAttributes attributes;
    // A session of its own: the client outlives the updater and is no part
    // of whatever started it.
    if (!attributes.ready || posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSID) != 0) {
      return false;
    }
    std::vector<std::string> words{to_utf8(path)};
    std::vector<char*> argv = argv_of(words);
    pid_t child = 0;
    return posix_spawn(&child, argv[0], nullptr, &attributes.attributes, argv.data(), environ) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velto::updater::backend
