/* The floor for WebViewBenchmark: the same round trips on bare WebKitGTK,
 * a script message handler that answers at once with one evaluated reply.
 * No envelope, no queue: what any bridge on this platform costs at least. */

#include <gtk/gtk.h>
#include <stdio.h>
#include <string.h>
#include <webkit2/webkit2.h>

#include "bare_bridge.h"

#define CALLS 2000
#define TIMEOUT_US (120 * G_USEC_PER_SEC)

static const char kBridge[] = BARE_BRIDGE("call", "echo", "settle");

#define DRIVER                                                                     \
  "(async function () {"                                                           \
  "  for (var i = 0; i < 200; ++i) await echo(i);"                                 \
  "  var t0 = performance.now();"                                                  \
  "  for (var i = 0; i < %d; ++i) await echo(i);"                                  \
  "  var t1 = performance.now();"                                                  \
  "  var all = [];"                                                                \
  "  for (var i = 0; i < %d; ++i) all.push(echo(i));"                              \
  "  await Promise.all(all);"                                                      \
  "  var t2 = performance.now();"                                                  \
  "  window.webkit.messageHandlers.done.postMessage((t1 - t0) + ' ' + (t2 - t1));" \
  "})();"

static gboolean loaded;
static char* report;

static void on_call(WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer view) {
  (void)manager;
  bare_answer(WEBKIT_WEB_VIEW(view), result, "settle");
}

static void on_done(WebKitUserContentManager* manager, WebKitJavascriptResult* result, gpointer data) {
  (void)manager;
  (void)data;
  report = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
}

static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
  (void)view;
  (void)data;
  if (event == WEBKIT_LOAD_FINISHED) {
    loaded = TRUE;
  }
}

static gboolean tick(gpointer data) {
  (void)data;
  return G_SOURCE_CONTINUE;
}

static gboolean pump_until(const gboolean* flag, char** text) {
  const gint64 deadline = g_get_monotonic_time() + TIMEOUT_US;
  const guint ticker = g_timeout_add(10, tick, NULL);
  while (!(flag ? *flag : *text != NULL) && g_get_monotonic_time() < deadline) {
    g_main_context_iteration(NULL, TRUE);
  }
  g_source_remove(ticker);
  return flag ? *flag : *text != NULL;
}

int main(void) {
  if (!gtk_init_check(NULL, NULL)) {
    fprintf(stderr, "no display\n");
    return 1;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  WebKitUserContentManager* content = webkit_user_content_manager_new();
  GtkWidget* view = webkit_web_view_new_with_user_content_manager(content);
  g_signal_connect(content, "script-message-received::call", G_CALLBACK(on_call), view);
  g_signal_connect(content, "script-message-received::done", G_CALLBACK(on_done), NULL);
  webkit_user_content_manager_register_script_message_handler(content, "call");
  webkit_user_content_manager_register_script_message_handler(content, "done");
  WebKitUserScript* script = webkit_user_script_new(kBridge, WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, NULL, NULL);
  webkit_user_content_manager_add_script(content, script);
  webkit_user_script_unref(script);
  gtk_container_add(GTK_CONTAINER(window), view);
  gtk_widget_show_all(window);
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), NULL);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), "data:text/html,<p>benchmark</p>");
  if (!pump_until(&loaded, NULL)) {
    fprintf(stderr, "the page did not load\n");
    return 1;
  }
  char* driver = g_strdup_printf(DRIVER, CALLS, CALLS);
  webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), driver, -1, NULL, NULL, NULL, NULL, NULL);
  g_free(driver);
  if (!pump_until(NULL, &report)) {
    fprintf(stderr, "no result in time\n");
    return 1;
  }
  double sequential = 0;
  double concurrent = 0;
  if (sscanf(report, "%lf %lf", &sequential, &concurrent) != 2 || sequential <= 0 || concurrent <= 0) {
    fprintf(stderr, "bad report %s\n", report);
    return 1;
  }
  printf("plain WebKitGTK, %d sequential calls: %.0f ms, %.0f round trips/s\n", CALLS, sequential,
         CALLS / sequential * 1000);
  printf("plain WebKitGTK, %d concurrent calls: %.0f ms, %.0f round trips/s\n", CALLS, concurrent,
         CALLS / concurrent * 1000);
  g_free(report);
  gtk_widget_destroy(window);
  g_object_unref(content);
  return 0;
}
