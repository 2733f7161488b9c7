#pragma once

// Shared by the tests that show pages of the local test server in a real
// WebKitWebView: running the main loop with deadlines, addressing the
// server, and settling a page expression through a bound `report`.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

typedef struct _WebKitWebView WebKitWebView;

namespace velto::testing {

// Runs the main loop until `done` holds or the time is up; answers `done()`.
bool pump_until(const std::function<bool()>& done, std::chrono::milliseconds timeout);
void pump_for(std::chrono::milliseconds time);

// https://127.0.0.1:<port><path> on the server of Scripts/with-test-server.
[[nodiscard]] std::string server_url(const std::string& path);

// Whether the server recorded the beacon `event` with `id`.
[[nodiscard]] bool beacon_seen(const std::string& event, const std::string& id);

[[nodiscard]] std::size_t files_under(const std::string& directory);

// Page script that evaluates `expression` (awaiting a promise) and calls
// report("ok", value) or report("err", reason): the value as JSON text,
// "undefined", or "Error: <message>".
[[nodiscard]] std::string settle_script(const std::string& expression);

// Runs script in the view's page, asynchronously.
void evaluate(WebKitWebView* view, const std::string& script);

}  // namespace velto::testing
