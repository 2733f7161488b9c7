// PLACEHOLDER, to be replaced at merge by the engine's backends: every call
// fails, so no browser is ever created.

#include "WebView/webview.h"

extern "C" {

webview_t webview_create(int, void*) {
  return nullptr;
}

webview_error_t webview_destroy(webview_t) {
  return WEBVIEW_ERROR_INVALID_ARGUMENT;
}

void* webview_get_native_handle(webview_t, webview_native_handle_kind_t) {
  return nullptr;
}

webview_error_t webview_navigate(webview_t, const char*) {
  return WEBVIEW_ERROR_INVALID_ARGUMENT;
}

webview_error_t webview_bind(webview_t, const char*, webview_bind_fn_t, void*) {
  return WEBVIEW_ERROR_INVALID_ARGUMENT;
}

webview_error_t webview_unbind(webview_t, const char*) {
  return WEBVIEW_ERROR_INVALID_ARGUMENT;
}

webview_error_t webview_return(webview_t, const char*, int, const char*) {
  return WEBVIEW_ERROR_INVALID_ARGUMENT;
}

}  // extern "C"
