#pragma once

// What the fake runtime library (built as WebView2Loader.dll and as the
// installed runtime's EmbeddedBrowserWebView.dll for the tests) offers the
// tests besides the runtime's own entry points: the calls it received, in
// order, and the number of its objects still alive.

#ifdef FAKE_RUNTIME_BUILD
#define FAKE_RUNTIME_API extern "C" __declspec(dllexport)
#else
#define FAKE_RUNTIME_API extern "C" __declspec(dllimport)
#endif

// One line per call: the method's name and its arguments, strings as UTF-8
// with line breaks shown as "\n".
FAKE_RUNTIME_API int fake_runtime_log_size();
FAKE_RUNTIME_API const char* fake_runtime_log_entry(int index);
FAKE_RUNTIME_API void fake_runtime_clear_log();

// Environments, controllers, web views, settings and event arguments alive.
FAKE_RUNTIME_API long fake_runtime_live_objects();

// The page posting `text` through the bridge: the registered message
// handler is called at once, as the runtime does from its own dispatch.
// 0 when no handler is registered, or when the page's call would have been
// rejected: no document script in effect carries the bridge, or one takes
// postMessage off its object (see posts_with_receiver in the fake).
FAKE_RUNTIME_API int fake_runtime_post_message(const wchar_t* text);

// The runtime raising one of its events, with arguments that record what
// the engine sets on them (also in the log: "put_Handled 1", "put_Cancel 1",
// "put_State 2"). Each answers 0 when no handler is registered, and passes
// back what the engine set when given somewhere to put it. Numbers are the
// runtime's own: web error statuses, process failure kinds, permission
// kinds and states.
FAKE_RUNTIME_API int fake_runtime_new_window(const wchar_t* uri, int user_initiated, int* handled);
FAKE_RUNTIME_API int fake_runtime_navigation_starting(const wchar_t* uri, int user_initiated, int redirected,
                                                      unsigned long long id, int* cancel);
FAKE_RUNTIME_API int fake_runtime_navigation_completed(int success, int status, unsigned long long id);
FAKE_RUNTIME_API int fake_runtime_process_failed(int kind);
FAKE_RUNTIME_API int fake_runtime_permission_requested(const wchar_t* uri, int kind, int* state);

// A download starting, with `path` as the runtime's own choice of where it
// goes (its folder and the name the server suggested): its number, 0 when
// no handler is registered. What the engine set comes back as above.
FAKE_RUNTIME_API int fake_runtime_download_starting(const wchar_t* path, int* handled, int* cancel);
// The path download `download` is written to now, into `path` of `size`
// characters; 0 when there is no such download or it does not fit.
FAKE_RUNTIME_API int fake_runtime_download_path(int download, wchar_t* path, int size);
// The runtime writing the download's bytes to that path, replacing
// whatever is there.
FAKE_RUNTIME_API int fake_runtime_download_write(int download, const char* bytes, int size);
// The download's state changing to `state` (the runtime's numbers: 0 in
// progress, 1 interrupted, 2 completed), its handler called at once.
FAKE_RUNTIME_API int fake_runtime_download_state(int download, int state);

// Document scripts a document starting now would run: added, their id
// handed out, and not removed.
FAKE_RUNTIME_API int fake_runtime_document_scripts();

// Makes the named step fail from now on: "entry" (the entry point answers
// an error), "environment" or "controller" (the handler gets one),
// "downloads" (the web view is of a version without downloads' events);
// null or "" for none. The variable VELTO_FAKE_RUNTIME_FAIL names a step too.
FAKE_RUNTIME_API void fake_runtime_fail(const char* step);
