#include <cstdlib>

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

void record_module() {}

void exit_process() {
  std::exit(0);
}

}  // namespace velto::app::platform
