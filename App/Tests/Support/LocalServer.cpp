#include "LocalServer.h"

#include <cstdlib>

#include "Desktop.h"

namespace velto::testing {

std::string server_fetch(const std::string& path) {
  return shell("curl -sS --max-time 10 '" + std::string(kServer) + path + "'");
}

std::optional<std::string> end_to_end_unavailable() {
  if (!have_display()) {
    return "needs an X display with a window manager (run under Scripts/with-display)";
  }
  if (std::getenv("VELTO_TEST_SERVER_PORT") == nullptr) {
    return "needs the local server (run under Scripts/with-test-server --private-network)";
  }
  if (server_fetch("/test/reset").find("reset") == std::string::npos) {
    return "the local server does not answer";
  }
  return std::nullopt;
}

}  // namespace velto::testing
