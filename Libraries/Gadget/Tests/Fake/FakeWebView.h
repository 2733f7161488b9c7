#pragma once

// A stand-in for the browser engine, for the gadget library's tests: every
// webview_* function of WebView/webview.h, recording each call in order. Page
// calls are queued and delivered later, as the engine does, and never after
// the name was unbound or the instance destroyed.

#include <string>
#include <vector>

#include "WebView/webview.h"

// One line per engine call, oldest first: "create 1", "handle 1 UI_WIDGET",
// "navigate 1 <url>", "bind 1 <name>", "unbind 1 <name>",
// "return 1 <id> <status> <result>", "destroy 1"; on Windows also the browser
// interface calls ("get_CoreWebView2 1", "put_IsVisible 1 1", ...). A call
// that the engine refuses has its error appended (" DUPLICATE").
[[nodiscard]] const std::vector<std::string>& fake_webview_log();
void fake_webview_log_clear();

// Runs during every webview_navigate (for what the engine's notifications
// would do then); nullptr removes it.
void fake_webview_on_navigate(void (*hook)());

// The next webview_create answers null (no runtime).
void fake_webview_fail_next_create();

// An instance without a widget, for tests without windows.
[[nodiscard]] webview_t fake_webview_create_detached();

// The page calls bound function `name`. Delivered by fake_webview_pump.
void fake_webview_page_call(webview_t instance, const char* name, const char* id, const char* request);
// Delivers the queued calls; answers how many reached a bound function.
int fake_webview_pump();

[[nodiscard]] int fake_webview_serial(webview_t instance);
[[nodiscard]] bool fake_webview_alive(webview_t instance);
// The parent handle webview_create was given (*window).
[[nodiscard]] void* fake_webview_parent(webview_t instance);
// The browser argument variable as it was when the instance was created.
[[nodiscard]] std::string fake_webview_browser_arguments(webview_t instance);
// References others hold on the browser interface (always 0 on GTK).
[[nodiscard]] int fake_webview_browser_references(webview_t instance);
