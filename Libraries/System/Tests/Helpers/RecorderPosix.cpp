// Test helper: records how it was started, as "key=value" lines, in the file
// named by VELTO_RECORD_FILE. The file appears complete or not at all. With
// VELTO_RECORD_RELEASE set it then stays until that file exists (30 s at most).
#include <limits.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string link_target(const char* link) {
  char buffer[PATH_MAX] = {};
  const ssize_t length = readlink(link, buffer, sizeof buffer - 1);
  return length < 0 ? std::string("?") : std::string(buffer, static_cast<std::size_t>(length));
}

}  // namespace

int main(int argc, char** argv) {
  const char* record = std::getenv("VELTO_RECORD_FILE");
  if (!record || !*record) {
    return 2;
  }
  std::string text;
  for (int i = 0; i < argc; ++i) {
    text += "arg=" + std::string(argv[i]) + "\n";
  }
  text += "cwd=" + std::filesystem::current_path().string() + "\n";
  text += "pid=" + std::to_string(getpid()) + "\n";
  text += "ppid=" + std::to_string(getppid()) + "\n";
  text += "sid=" + std::to_string(getsid(0)) + "\n";
  for (const char* fd : {"0", "1", "2"}) {
    text += "fd" + std::string(fd) + "=" + link_target(("/proc/self/fd/" + std::string(fd)).c_str()) + "\n";
  }
  const char* value = std::getenv("VELTO_RECORD_VALUE");
  text += value ? "value=" + std::string(value) + "\n" : std::string("value-unset=\n");

  const std::string partial = std::string(record) + ".partial";
  {
    std::ofstream out(partial, std::ios::binary);
    out << text;
    if (!out.flush()) {
      return 3;
    }
  }
  if (std::rename(partial.c_str(), record) != 0) {
    return 3;
  }

  if (const char* release = std::getenv("VELTO_RECORD_RELEASE")) {
    for (int round = 0; round < 1500 && !std::filesystem::exists(release); ++round) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return 0;
}
