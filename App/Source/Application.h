#pragma once

#include "Core/Types.h"

namespace velto::app {

// Values set once during start-up and never changed afterwards.
struct AppValues {
  Text version;
  Text app_dir;           // the client's app data directory
  Text webview_data_dir;  // the browser's data and cache
  Text settings_path;     // stored window geometry
  Text updater_dir;
  Text updater_path;
};

[[nodiscard]] const AppValues& values();

// The main window and the chat view inside it.
inline constexpr ObjectNumber kMainWindow = 0;
inline constexpr ObjectNumber kChatView = 0;

inline constexpr int kDefaultWidth = 400;
inline constexpr int kDefaultHeight = 700;
inline constexpr int kMinimumWidth = 290;
inline constexpr int kMinimumHeight = 400;
inline constexpr std::uint32_t kDefaultWindowFlags = 0xCF0001;  // captioned, sizable, boxes, centred
// The chat server, which also publishes the updates (a deployment value).
inline constexpr char16_t kServerHost[] = u"" VELTO_SERVER_HOST;

// Switches for the embedded browser, as its Windows runtime names them.
inline constexpr char16_t kBrowserArgumentsVariable[] = u"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS";

inline constexpr char16_t kDefaultTitle[] = u"Velto Чат";
inline constexpr std::uint32_t kStoredWindowFlags = 0xCF0000;  // as the default, without centring

// Runs the client: start-up stages, main loop, end. Never returns.
[[noreturn]] void run();

// Ends the process with exit code 0 after the runtime teardown.
[[noreturn]] void app_end();

}  // namespace velto::app
