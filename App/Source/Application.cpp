#include "Application.h"

#include "Core/Heap.h"
#include "Core/Runtime.h"
#include "Platform.h"
#include "Window/Window.h"

namespace velto::app {

namespace {

AppValues& mutable_values() {
  static AppValues app;
  return app;
}

void build_values() {
  AppValues& app = mutable_values();
  app.version = u"0.2.16.38";
  const TextView sep = platform::separator();
  app.app_dir = platform::app_dir();
  app.webview_data_dir = app.app_dir + Text(sep) + u"WebView2Data";
  app.settings_path = app.app_dir + Text(sep) + u"WindowSettings.ini";
  app.updater_dir = app.app_dir + Text(sep) + u"Updater";
  app.updater_path = app.updater_dir + Text(sep) + Text(platform::updater_file_name());
}

void open_main_window() {
  window_open(kMainWindow, 0, 0, kDefaultWidth, kDefaultHeight, kDefaultTitle, kDefaultWindowFlags);
}

// The chat view follows the client area; it exists once the browser is in.
void fit_chat_view() {}

void on_size() {
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
  fit_chat_view();
}

void on_close() {
  // The window's geometry is stored here once preference files exist.
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

  // Stages that run before the window exists: the update check, then the
  // browser's environment.

  open_main_window();
  if (!window_exists(kMainWindow)) {
    app_end();
  }

  // Stages that need the window: the chat view, then the new-message binding.

  main_loop();
}

void app_end() {
  runtime_end();
  program_heap_destroy();
  platform::exit_process();
}

}  // namespace velto::app
