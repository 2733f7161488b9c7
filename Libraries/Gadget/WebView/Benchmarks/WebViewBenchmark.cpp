// Round trips page -> program -> settled promise through the engine: 2000
// calls one after the other, then 2000 at once. Needs a display
// (Scripts/with-display). Compare with plain_webkit_benchmark, the same
// measurement on bare WebKitGTK, or run with --interleaved to measure both
// on one page in alternating blocks.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "WebView/webview.h"
#include "bare_bridge.h"

namespace {

constexpr int kCalls = 2000;
// Interleaved: this many blocks of kCalls / kRounds calls each way.
constexpr int kRounds = 10;
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

// Interleaved: the engine's echo and a bare message handler on the same
// page, in alternating blocks, so that both meet the same machine.
constexpr char kBareBridge[] = BARE_BRIDGE("bare", "bareEcho", "bareSettle");

constexpr char kInterleavedDriver[] = R"js(
(async function () {
  var fns = [echo, bareEcho], seq = [0, 0], conc = [0, 0];
  for (var i = 0; i < 200; ++i) { await echo(i); await bareEcho(i); }
  for (var r = 0; r < ROUNDS; ++r) {
    for (var k = 0; k < 2; ++k) {
      var which = (r + k) % 2, f = fns[which];
      var t0 = performance.now();
      for (var i = 0; i < BLOCK; ++i) await f(i);
      var t1 = performance.now();
      var all = [];
      for (var i = 0; i < BLOCK; ++i) all.push(f(i));
      await Promise.all(all);
      seq[which] += t1 - t0;
      conc[which] += performance.now() - t1;
    }
  }
  report(seq[0], conc[0], seq[1], conc[1]);
})();
)js";

void on_bare(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer view) {
  bare_answer(WEBKIT_WEB_VIEW(view), result, "bareSettle");
}

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

// The page's report of the plain run: [sequential ms, concurrent ms].
bool print_alone(const std::string& report) {
  double sequential = 0;
  double concurrent = 0;
  if (std::sscanf(report.c_str(), "[%lf,%lf]", &sequential, &concurrent) != 2 || sequential <= 0 || concurrent <= 0) {
    std::fprintf(stderr, "bad report %s\n", report.c_str());
    return false;
  }
  std::printf("engine, %d sequential calls: %.0f ms, %.0f round trips/s\n", kCalls, sequential,
              kCalls / sequential * 1000);
  std::printf("engine, %d concurrent calls: %.0f ms, %.0f round trips/s\n", kCalls, concurrent,
              kCalls / concurrent * 1000);
  return true;
}

// The interleaved run's: [engine sequential, engine concurrent, bare
// sequential, bare concurrent], ms summed over the blocks.
bool print_interleaved(const std::string& report) {
  double engine_seq = 0;
  double engine_conc = 0;
  double bare_seq = 0;
  double bare_conc = 0;
  if (std::sscanf(report.c_str(), "[%lf,%lf,%lf,%lf]", &engine_seq, &engine_conc, &bare_seq, &bare_conc) != 4 ||
      engine_seq <= 0 || engine_conc <= 0 || bare_seq <= 0 || bare_conc <= 0) {
    std::fprintf(stderr, "bad report %s\n", report.c_str());
    return false;
  }
  std::printf("interleaved, %d sequential calls: engine %.0f, bare %.0f round trips/s, engine/bare %.3f\n", kCalls,
              kCalls / engine_seq * 1000, kCalls / bare_seq * 1000, bare_seq / engine_seq);
  std::printf("interleaved, %d concurrent calls: engine %.0f, bare %.0f round trips/s, engine/bare %.3f\n", kCalls,
              kCalls / engine_conc * 1000, kCalls / bare_conc * 1000, bare_conc / engine_conc);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool interleaved = argc > 1 && std::strcmp(argv[1], "--interleaved") == 0;
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
  gtk_widget_set_size_request(GTK_WIDGET(view), 200, 200);
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), &state);
  if (interleaved) {
    WebKitUserContentManager* content = webkit_web_view_get_user_content_manager(view);
    g_signal_connect(content, "script-message-received::bare", G_CALLBACK(on_bare), view);
    webkit_user_content_manager_register_script_message_handler(content, "bare");
    WebKitUserScript* script = webkit_user_script_new(kBareBridge, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                      WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content, script);
    webkit_user_script_unref(script);
  }
  webview_bind(state.view, "echo", on_echo, &state);
  webview_bind(state.view, "report", on_report, &state);
  webview_navigate(state.view, "data:text/html,<p>benchmark</p>");
  if (!pump_until([&] { return state.loaded; })) {
    std::fprintf(stderr, "the page did not load\n");
    return 1;
  }

  std::string driver = interleaved ? kInterleavedDriver : kDriver;
  const auto set = [&driver](std::string_view name, int value) {
    for (std::size_t at; (at = driver.find(name)) != std::string::npos;) {
      driver.replace(at, name.size(), std::to_string(value));
    }
  };
  set("CALLS", kCalls);
  set("ROUNDS", kRounds);
  set("BLOCK", kCalls / kRounds);
  webkit_web_view_evaluate_javascript(view, driver.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
  if (!pump_until([&] { return !state.report.empty(); })) {
    std::fprintf(stderr, "no result in time\n");
    return 1;
  }
  const bool reported = interleaved ? print_interleaved(state.report) : print_alone(state.report);
  webview_destroy(state.view);
  gtk_widget_destroy(window);
  return reported ? 0 : 1;
}
