// Round trips page -> program -> settled promise through the engine: 2000
// calls one after the other, then 2000 at once. Needs a display
// (Scripts/with-display). Compare with plain_webkit_benchmark, the same
// measurement on bare WebKitGTK.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "WebView/webview.h"

namespace {

constexpr int kCalls = 2000;
constexpr auto kTimeout = std::chrono::seconds(120);

// Times both runs in the page after a warm-up, then reports them.
constexpr char kDriver[] = R"js(
(async function () {
  for (var i = 0; i < 200; ++i) await echo(i);
  var t0 = performance.now();
  for (var i = 0; i < CALLS; ++i) await echo(i);
  var t1 = performance.now();
  var all = [];
  for (var i = 0; i < CALLS; ++i) all.push(echo(i));
  await Promise.all(all);
  var t2 = performance.now();
  report(t1 - t0, t2 - t1);
})();
)js";

struct State {
  webview_t view = nullptr;
  std::string report;
  bool loaded = false;
};

void on_echo(const char* id, const char* request, void* arg) {
  webview_return(static_cast<State*>(arg)->view, id, 0, request);
}

void on_report(const char* id, const char* request, void* arg) {
  auto* state = static_cast<State*>(arg);
  state->report = request;
  webview_return(state->view, id, 0, "");
}

void on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer arg) {
  if (event == WEBKIT_LOAD_FINISHED) {
    static_cast<State*>(arg)->loaded = true;
  }
}

template <class Done>
bool pump_until(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + kTimeout;
  const guint tick = g_timeout_add(
      10, [](gpointer) { return gboolean{G_SOURCE_CONTINUE}; }, nullptr);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return done();
}

}  // namespace

int main() {
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "no display\n");
    return 1;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(window), fixed);
  gtk_widget_show_all(window);

  State state;
  state.view = webview_create(0, &fixed);
  if (!state.view) {
    std::fprintf(stderr, "no browser\n");
    return 1;
  }
  auto* view =
      static_cast<WebKitWebView*>(webview_get_native_handle(state.view, WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER));
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), &state);
  webview_bind(state.view, "echo", on_echo, &state);
  webview_bind(state.view, "report", on_report, &state);
  webview_navigate(state.view, "data:text/html,<p>benchmark</p>");
  if (!pump_until([&] { return state.loaded; })) {
    std::fprintf(stderr, "the page did not load\n");
    return 1;
  }

  std::string driver = kDriver;
  for (std::size_t at; (at = driver.find("CALLS")) != std::string::npos;) {
    driver.replace(at, 5, std::to_string(kCalls));
  }
  webkit_web_view_evaluate_javascript(view, driver.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!pump_until([&] { return !state.report.empty(); })) {
    std::fprintf(stderr, "no result in time\n");
    return 1;
  }
  double sequential = 0;
  double concurrent = 0;
  if (std::sscanf(state.report.c_str(), "[%lf,%lf]", &sequential, &concurrent) != 2 || sequential <= 0 ||
      concurrent <= 0) {
    std::fprintf(stderr, "bad report %s\n", state.report.c_str());
    return 1;
  }
  std::printf("engine, %d sequential calls: %.0f ms, %.0f round trips/s\n", kCalls, sequential,
              kCalls / sequential * 1000);
  std::printf("engine, %d concurrent calls: %.0f ms, %.0f round trips/s\n", kCalls, concurrent,
              kCalls / concurrent * 1000);
  webview_destroy(state.view);
  gtk_widget_destroy(window);
  return 0;
}
