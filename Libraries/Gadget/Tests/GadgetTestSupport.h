#pragma once

// Shared by the gadget tests.

#include <cstdint>
#include <cstdlib>
#include <ostream>

#ifdef _WIN32
#include "Core/WinApi.h"
#endif

#include "Core/Memory.h"
#include "Core/Strings.h"
#include "Gadget/Gadget.h"
#include "Window/Window.h"

namespace velto::gadget_testing {

// What the client starts before its first gadget, in its order.
inline void libraries_init() {
  string_library_init();
  memory_library_init();
  event_queue_init();
  window_library_init();
  gadget_library_init();
}

// The flags of the test windows: title bar, system menu, sizing frame,
// minimise and maximise boxes.
inline constexpr std::uint32_t kWindowFlags = 0xCF0000;

// A rectangle as the platform reports it.
struct Box {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Box&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << box.x << "," << box.y << " " << box.width << "x" << box.height;
}

// The engine's extra arguments, which the library adds to, unset.
inline void unset_browser_arguments() {
#ifdef _WIN32
  SetEnvironmentVariableW(L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", nullptr);
#else
  unsetenv("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
#endif
}

inline bool have_display() {
#ifdef _WIN32
  return true;
#else
  const char* display = std::getenv("DISPLAY");
  return display && *display;
#endif
}

}  // namespace velto::gadget_testing
