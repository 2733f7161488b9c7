#include "Application.h"

#include "Alert.h"
#include "Core/Heap.h"
#include "Gadget/Gadget.h"
#include "Platform.h"
#include "Preference/Preference.h"
#include "Runtime/Runtime.h"
#include "SingleInstance.h"
#include "System/Files.h"
#include "System/Process.h"
#include "UpdateCheck.h"
#include "Window/Window.h"

namespace velto::app {

namespace {

AppValues& mutable_values() {
  static AppValues app;
  return app;
}

void build_values() {
  AppValues& app = mutable_values();
  app.version = u"" VELTO_VERSION;
  const TextView sep = platform::separator();
  app.app_dir = platform::app_dir();
  app.webview_data_dir = app.app_dir + Text(sep) + u"WebView2Data";
  app.settings_path = app.app_dir + Text(sep) + u"WindowSettings.ini";
  app.updater_dir = app.app_dir + Text(sep) + u"Updater";
  app.updater_path = app.updater_dir + Text(sep) + Text(platform::updater_file_name());
}

// The window as the user left it last time, when the settings can be read.
bool open_stored_window() {
  const AppValues& app = values();
  if (file_size(app.settings_path) < 0 || !prefs_open(app.settings_path)) {
    return false;
  }
  const int x = prefs_read_int(u"WindowX", 0);
  const int y = prefs_read_int(u"WindowY", 0);
  int width = prefs_read_int(u"WindowWidth", kDefaultWidth);
  int height = prefs_read_int(u"WindowHeight", kDefaultHeight);
  // A size of nothing (a damaged file, a window once squashed to nothing)
  // would open a window too small to find and be saved again at every close.
  if (width < 1) {
    width = kDefaultWidth;
  }
  if (height < 1) {
    height = kDefaultHeight;
  }
  const bool maximized = prefs_read_int(u"WindowMaximized", 0) != 0;
  prefs_close();
  std::uint32_t flags = kStoredWindowFlags;
  // The stored geometry is then the normal one, which restoring gives back.
  if (maximized) {
    flags |= WF_MAXIMIZE;
  }
  // A place that no longer shows on any monitor (one was unplugged, the
  // resolution changed) would leave the window out of reach: it keeps its
  // size and comes up in the middle of the primary screen instead.
  if (!screen_area_visible(x, y, width, height)) {
    flags |= WF_CENTER_SCREEN;
  }
  window_open(kMainWindow, x, y, width, height, Text(kDefaultTitle) + u" " + app.version, flags);
  return true;
}

void open_main_window() {
  if (!open_stored_window()) {
    window_open(kMainWindow, 0, 0, kDefaultWidth, kDefaultHeight, kDefaultTitle, kDefaultWindowFlags);
  }
  // On Linux the window manager then keeps a drag from going below the
  // minimum; on_size springs back wherever that does not hold.
  window_set_minimum_size(kMainWindow, kMinimumWidth, kMinimumHeight);
}

void save_geometry() {
  if (!prefs_create(values().settings_path)) {
    return;
  }
  WindowPlacement geometry{window_x(kMainWindow), window_y(kMainWindow), window_width(kMainWindow),
                           window_height(kMainWindow)};
  const bool maximized = window_maximized(kMainWindow) != 0;
  // A minimised window has no useful geometry of its own (on Windows its
  // frame sits at -32000 with an empty client area): keep the one it had
  // when it was last shown normally, so the next start can be seen. A
  // maximised one keeps its normal geometry too, so that the next start can
  // maximise it again and restoring still gives the user's size back.
  if (maximized || window_minimized(kMainWindow)) {
    if (const auto normal = window_normal_placement(kMainWindow)) {
      geometry = *normal;
    }
  }
  prefs_write_int(u"WindowX", geometry.x);
  prefs_write_int(u"WindowY", geometry.y);
  prefs_write_int(u"WindowWidth", geometry.width);
  prefs_write_int(u"WindowHeight", geometry.height);
  // Only when maximised, after the four keys: a normal close writes the file
  // it always wrote, and older versions read the four keys and ignore this one.
  if (maximized) {
    prefs_write_int(u"WindowMaximized", 1);
  }
  prefs_close();
}

// The browser's command-line switches, read by the browser when the chat
// view creates it: its data and its cache both go to webview_data_dir.
Text browser_arguments() {
  const Text& dir = values().webview_data_dir;
  return u"--user-data-dir=\"" + dir + u"\" --disk-cache-dir=\"" + dir + u"\"";
}

void prepare_browser_environment() {
  const Text& dir = values().webview_data_dir;
  // A directory or a file of that name is left as it is.
  if (file_size(dir) == -1) {
    dir_create(dir);
  }
  // Replaces whatever the parent process passed down.
  env_set(kBrowserArgumentsVariable, browser_arguments());
}

Text chat_url() {
  return Text(u"https://") + kServerHost + u"/chat";
}

void open_chat_view() {
  static_cast<void>(webview_gadget_create(kChatView, 0, 0, window_width(kMainWindow), window_height(kMainWindow)));
  // The chat stays in the view; everything else goes to the desktop.
  webview_gadget_set_home(kChatView, chat_url());
  gadget_set_text(kChatView, chat_url());
}

// The chat view always covers the whole client area.
void fit_chat_view() {
  gadget_resize(kChatView, 0, 0, window_width(kMainWindow), window_height(kMainWindow));
}

// A window below the minimum size is resized back to it. A maximised window
// is left alone: resizing it would take it out of the maximised state.
void spring_back_to_minimum_size() {
  if (window_maximized(kMainWindow)) {
    return;
  }
  int width = window_width(kMainWindow);
  int height = window_height(kMainWindow);
  if (width < kMinimumWidth) {
    width = kMinimumWidth;
  }
  if (height < kMinimumHeight) {
    height = kMinimumHeight;
  }
  if (window_width(kMainWindow) != width || window_height(kMainWindow) != height) {
    window_resize(kMainWindow, IGNORE, IGNORE, width, height);
  }
}

void on_size() {
  spring_back_to_minimum_size();
  fit_chat_view();
}

void on_close() {
  save_geometry();
}

[[noreturn]] void main_loop() {
  bool quit = false;
  while (!quit) {
    switch (window_wait_event()) {
      case EVENT_SIZE:
        on_size();
        break;
      case EVENT_CLOSE:
        on_close();
        quit = true;
        break;
      default:
        // Other events and raw message numbers are not the client's business.
        break;
    }
  }
  app_end();
}

}  // namespace

const AppValues& values() {
  return mutable_values();
}

void run() {
  platform::record_module();
  program_heap_create();
  runtime_start();
  build_values();

  // A later start only brings the running client forward and ends: no
  // update check, no settings, no browser data.
  if (!single_instance_claim()) {
    app_end();
  }

  // Stages that run before the window exists: the update check, then the
  // browser's environment.
  update_check();
  prepare_browser_environment();

  open_main_window();
  if (!window_exists(kMainWindow)) {
    app_end();
  }

  // Stages that need the window: the chat view, then the new-message binding.
  open_chat_view();
  webview_gadget_bind(kChatView, u"qx_notify_new_message", new_message_alert);

  main_loop();
}

void app_end() {
  runtime_end();
  program_heap_destroy();
  platform::exit_process();
}

}  // namespace velto::app
