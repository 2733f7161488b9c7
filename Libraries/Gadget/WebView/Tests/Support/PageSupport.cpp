#include "PageSupport.h"

#include <webkit2/webkit2.h>

#include <cstdlib>
#include <filesystem>

#include "Desktop.h"

namespace velto::testing {

namespace {

constexpr char kSettle[] = R"js(
(function () {
  function d(v) {
    return v === undefined ? "undefined" : v instanceof Error ? "Error: " + v.message : JSON.stringify(v);
  }
  Promise.resolve().then(function () { return (EXPR); }).then(
    function (v) { report("ok", d(v)); }, function (e) { report("err", d(e)); });
})();
)js";

}  // namespace

bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  // Wakes the blocking iteration so that the deadline is seen.
  const guint tick = g_timeout_add(
      10, [](gpointer) { return gboolean{G_SOURCE_CONTINUE}; }, nullptr);
  while (!done() && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
  }
  g_source_remove(tick);
  return done();
}

void pump_for(std::chrono::milliseconds time) {
  pump_until([] { return false; }, time);
}

std::string server_url(const std::string& path) {
  const char* port = std::getenv("VELTO_TEST_SERVER_PORT");
  return std::string("https://127.0.0.1:") + (port ? port : "0") + path;
}

bool beacon_seen(const std::string& event, const std::string& id) {
  const std::string beacon = R"("event": ")" + event + R"(", "id": ")" + id + '"';
  return eventually(
      [&] {
        return shell("curl -s --max-time 5 '" + server_url("/test/beacons") + "'").find(beacon) != std::string::npos;
      },
      10s, 200ms);
}

std::size_t files_under(const std::string& directory) {
  std::error_code error;
  std::size_t count = 0;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_regular_file(error)) {
      ++count;
    }
  }
  return count;
}

std::string settle_script(const std::string& expression) {
  std::string script = kSettle;
  script.replace(script.find("EXPR"), 4, expression);
  return script;
}

void evaluate(WebKitWebView* view, const std::string& script) {
  webkit_web_view_evaluate_javascript(view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace velto::testing
