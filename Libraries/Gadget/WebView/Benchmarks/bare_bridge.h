/* Bare WebKitGTK's round trip, page side and program side: a promise per
 * call, "<id> <JSON array>" posted to a script message handler, answered at
 * once with one evaluated call of the page's settle function. The floor
 * (plain_webkit_benchmark) and webview_benchmark --interleaved both use it,
 * so that they measure the same thing. Plain C, for both. */

#ifndef VELTO_BARE_BRIDGE_H
#define VELTO_BARE_BRIDGE_H

#include <string.h>
#include <webkit2/webkit2.h>

/* The page script: defines window.<echo> and window.<settle>, posting to
 * window.webkit.messageHandlers.<handler>. All three are string literals. */
#define BARE_BRIDGE(handler, echo, settle)                                                                    \
  "(function () {"                                                                                            \
  "  var pending = new Map(), next = 0, handler = window.webkit.messageHandlers." handler                     \
  ";"                                                                                                         \
  "  window." echo                                                                                            \
  " = function (value) {"                                                                                     \
  "    return new Promise(function (resolve) {"                                                               \
  "      var id = ++next; pending.set(id, resolve); handler.postMessage(id + ' ' + JSON.stringify([value]));" \
  "    });"                                                                                                   \
  "  };"                                                                                                      \
  "  window." settle                                                                                          \
  " = function (id, result) {"                                                                                \
  "    var resolve = pending.get(id); pending.delete(id); resolve(JSON.parse(result));"                       \
  "  };"                                                                                                      \
  "})();"

/* Answers one posted call by evaluating settle(id, '<JSON array>'). */
static inline void bare_answer(WebKitWebView* view, WebKitJavascriptResult* result, const char* settle) {
  char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
  const char* space = strchr(text, ' ');
  if (space) {
    char* reply = g_strdup_printf("%s(%.*s, '%s')", settle, (int)(space - text), text, space + 1);
    webkit_web_view_evaluate_javascript(view, reply, -1, NULL, NULL, NULL, NULL, NULL);
    g_free(reply);
  }
  g_free(text);
}

#endif
