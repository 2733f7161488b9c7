#pragma once

// The client's end-to-end tests and the local server they run against: the
// client is built for the server's host, which the tests reach the same way.

#include <optional>
#include <string>

namespace velto::testing {

inline constexpr char kServer[] = "https://" VELTO_SERVER_HOST;

// The body of a GET of `path` on the local server (empty when unreachable).
std::string server_fetch(const std::string& path);

// Why the end-to-end tests cannot run here, or nothing: they need the test
// display and the local server, with its request log reset.
[[nodiscard]] std::optional<std::string> end_to_end_unavailable();

}  // namespace velto::testing
