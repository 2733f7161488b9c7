#include "Http/Http.h"

namespace velto {

namespace {
HttpSettings& settings_record() noexcept {
  static HttpSettings settings;
  return settings;
}
}  // namespace

void http_library_init() {
  settings_record() = HttpSettings{};
}

const HttpSettings& http_settings() {
  return settings_record();
}

}  // namespace velto
