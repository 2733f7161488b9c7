#pragma once

namespace velto {

// Settings every download starts from.
struct HttpSettings {
  int connect_timeout_ms = 30000;
  int total_timeout_ms = 0;  // no overall limit
};

void http_library_init();
[[nodiscard]] const HttpSettings& http_settings();

}  // namespace velto
