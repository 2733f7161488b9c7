#pragma once

// The embedded browser engine: one browser widget inside an existing parent
// window, navigation, and functions of the program that page script can
// call. WebKitGTK on Linux, WebView2 on Windows.
//
// Every function is callable from C and C++, reports failures through its
// result, and must be called on the thread that created the instance (the
// GUI thread). Nothing here throws.

#ifdef __cplusplus
extern "C" {
#endif

// Opaque instance.
typedef void* webview_t;

typedef enum {
  // The top-level window that (directly or not) contains the widget.
  WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW = 0,
  // The engine's own widget, the child of the parent given to
  // webview_create in which the browser lives (HWND of class
  // "webview_widget" on Windows, the WebKitWebView's GtkWidget* on Linux).
  WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET = 1,
  // The browser controller (ICoreWebView2Controller* without an added
  // reference on Windows, the WebKitWebView* on Linux).
  WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER = 2
} webview_native_handle_kind_t;

typedef enum {
  WEBVIEW_ERROR_MISSING_DEPENDENCY = -5,
  WEBVIEW_ERROR_CANCELED = -4,
  WEBVIEW_ERROR_INVALID_STATE = -3,
  WEBVIEW_ERROR_INVALID_ARGUMENT = -2,
  WEBVIEW_ERROR_UNSPECIFIED = -1,
  WEBVIEW_ERROR_OK = 0,
  WEBVIEW_ERROR_DUPLICATE = 1,
  WEBVIEW_ERROR_NOT_FOUND = 2
} webview_error_t;

// A bound function's native side: `id` names the call (answer it with
// webview_return), `request` is the JSON array of the call's arguments,
// `arg` is the pointer given to webview_bind. Both texts are UTF-8 and only
// valid during the call.
typedef void (*webview_bind_fn_t)(const char* id, const char* request, void* arg);

// Creates the browser as a child widget of an existing parent: `window` is
// the address of the parent's native handle (HWND* on Windows, GtkWidget**
// naming a GtkFixed on Linux). The widget starts with zero size; the caller
// sizes it. Returns only when the browser is ready, running the thread's
// message loop while it waits; null when no browser can be created (no
// parent, no runtime). `debug` non-zero turns the developer tools on.
// With WebKitGTK the widget takes the keyboard focus when first shown,
// unless another widget of its window has it, and has the zoom and reload
// keys that WebView2 has by itself.
webview_t webview_create(int debug, void* window);

// Tears the browser and the engine's widget down. Calls queued for bound
// functions are not delivered afterwards.
webview_error_t webview_destroy(webview_t w);

void* webview_get_native_handle(webview_t w, webview_native_handle_kind_t kind);

// Starts loading `url` (UTF-8) and returns at once; an empty or null URL
// loads "about:blank".
webview_error_t webview_navigate(webview_t w, const char* url);

// Makes `name` a function on the page's global object, in the current page
// and in every page loaded later, unless the page already owns a property of
// that name. Each call returns a promise to the page and reaches `fn` later,
// on the GUI thread, never inside the page's call. Binding a name that is
// bound already answers WEBVIEW_ERROR_DUPLICATE and changes nothing.
webview_error_t webview_bind(webview_t w, const char* name, webview_bind_fn_t fn, void* arg);

// Removes the page function (now and for later pages); calls still queued
// for it never reach its function. WEBVIEW_ERROR_NOT_FOUND when unbound.
webview_error_t webview_unbind(webview_t w, const char* name);

// Settles the page's promise of call `id`. Status 0 resolves it: an empty
// result with undefined, otherwise with the result parsed as JSON; a result
// that is not JSON rejects it with Error("Failed to parse binding result as
// JSON"). Any other status rejects it with the parsed result.
webview_error_t webview_return(webview_t w, const char* id, int status, const char* result);

// Makes `url` (http or https) the view's home: the page the program keeps
// it on. From then on the view keeps to the home's origin. New windows,
// navigations of the top frame that the user starts towards another origin,
// and links with a scheme that is not the web's (mailto:, tel:, ...) go to
// the desktop's default handler instead, when the scheme is one it may be
// given, and nowhere otherwise. A page that fails to load, or whose process
// dies, gives way to a page of the engine's own and the home is loaded
// again by itself; downloads go to the user's download folder. Pages of the
// home's origin may show desktop notifications, other pages may not. Null
// or "" turns all of this off (the default).
webview_error_t webview_set_home(webview_t w, const char* url);

#ifdef __cplusplus
}
#endif
