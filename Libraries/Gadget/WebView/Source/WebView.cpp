// The C interface over Engine. webview_create belongs to the backend; every
// other function is the same on each platform. Nothing thrown inside gets
// past these functions.

#include "Engine.h"

namespace {

using velto::webview::Engine;

Engine* engine(webview_t w) {
  return static_cast<Engine*>(w);
}

template <class Operation>
webview_error_t guarded(Operation operation) noexcept {
  try {
    return operation();
  } catch (...) {
    return WEBVIEW_ERROR_UNSPECIFIED;
  }
}

}  // namespace

extern "C" {

webview_error_t webview_destroy(webview_t w) {
  if (!w) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  // Engine destructors do not throw.
  delete engine(w);
  return WEBVIEW_ERROR_OK;
}

void* webview_get_native_handle(webview_t w, webview_native_handle_kind_t kind) {
  return w ? engine(w)->native_handle(kind) : nullptr;
}

webview_error_t webview_navigate(webview_t w, const char* url) {
  if (!w) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  return guarded([&] { return engine(w)->navigate(url ? url : ""); });
}

webview_error_t webview_bind(webview_t w, const char* name, webview_bind_fn_t fn, void* arg) {
  if (!w || !name || !fn) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  return guarded([&] { return engine(w)->bind(name, fn, arg); });
}

webview_error_t webview_unbind(webview_t w, const char* name) {
  if (!w || !name) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  return guarded([&] { return engine(w)->unbind(name); });
}

webview_error_t webview_return(webview_t w, const char* id, int status, const char* result) {
  if (!w || !id) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  return guarded([&] { return engine(w)->resolve(id, status, result ? result : ""); });
}

webview_error_t webview_set_home(webview_t w, const char* url) {
  if (!w) {
    return WEBVIEW_ERROR_INVALID_ARGUMENT;
  }
  return guarded([&] { return engine(w)->set_home(url ? url : ""); });
}

}  // extern "C"
