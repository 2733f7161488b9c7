#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "Core/Strings.h"
#include "Platform.h"

namespace velto::app::platform {

Text app_dir() {
  // The XDG base directory rule: $XDG_CONFIG_HOME when set and not empty,
  // else ~/.config.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (config && *config) {
    base = config;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return from_utf8(base) + u"/VeltoChat";
}

TextView separator() {
  return u"/";
}

TextView updater_file_name() {
  return u"updater";
}

TextView updater_remote_path() {
  return u"/uploads/chat_files/updater";
}

TextView package_remote_path() {
  return u"/uploads/chat_files/velto_web-chat_client-linux.tar.gz";
}

void prepare_updater(TextView path) {
  // Downloads are created without execute permission; the owner may run it.
  const std::string native = to_utf8(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) == 0) {
    static_cast<void>(::chmod(native.c_str(), (info.st_mode & 07777) | S_IXUSR));
  }
}

std::int64_t process_id() {
  return ::getpid();
}

void record_module() {}

void exit_process() {
  std::exit(0);
}

}  // namespace velto::app::platform
