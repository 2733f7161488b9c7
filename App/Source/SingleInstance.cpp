#include "SingleInstance.h"

#include <cstdint>

#include "Application.h"
#include "Platform.h"
#include "Window/Window.h"

namespace velto::app {

namespace {

// The name the client of an app data directory holds: the same directory
// always gives the same name. Letters, digits and '-' only, so that it
// serves as a file name and as a kernel object name.
Text instance_name(TextView app_dir) {
  // FNV-1a over the UTF-16 units: short, stable across versions and
  // platforms, and no library needed.
  constexpr std::uint64_t kPrime = 0x100000001B3u;
  std::uint64_t hash = 0xCBF29CE484222325u;
  for (const char16_t unit : app_dir) {
    hash = (hash ^ (unit & 0xFFu)) * kPrime;
    hash = (hash ^ (unit >> 8u)) * kPrime;
  }
  Text name = u"VeltoChat-";
  for (int shift = 60; shift >= 0; shift -= 4) {
    name += u"0123456789abcdef"[(hash >> shift) & 0xFu];
  }
  return name;
}

}  // namespace

bool single_instance_claim() {
  const Text name = instance_name(values().app_dir);
  if (platform::instance_lock(name)) {
    return true;
  }
  platform::instance_show_holder(name);
  return false;
}

void single_instance_show_request() {
  // During the update check there is no window yet; the later start ends
  // all the same.
  if (window_exists(kMainWindow)) {
    platform::window_bring_forward(window_handle(kMainWindow));
  }
}

}  // namespace velto::app
