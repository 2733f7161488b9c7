// The engine on WebKitGTK: a WebKitWebView inside the caller's GtkFixed.

#include <gdk/gdkx.h>
#include <glob.h>
#include <gtk/gtk.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>
#include <utility>

#include "DesktopGtk.h"
#include "GtkEngine.h"

namespace velto::webview::gtk {

namespace {

// The page posts to this script message handler.
constexpr char kHandler[] = "velto_webview";
constexpr char kMessageSignal[] = "script-message-received::velto_webview";
// A page's call runs in the main loop's next turn, ahead of everything else
// that is ready then: other sources at default priority otherwise take
// their turn first, which costs a call's round trip a noticeable share.
// Once a flood of calls has kept the queue busy for one batch, the rest
// waits behind drawing and input. Tasks run per dispatch, so that a flood
// leaves room for both.
constexpr gint kCallPriority = G_PRIORITY_HIGH;
constexpr gint kFloodPriority = G_PRIORITY_DEFAULT_IDLE;
constexpr int kTasksPerDispatch = 64;

// Whether GL can run on a GPU here. Without a render node there is none; an
// X server that offers no direct rendering (Xvfb and the like) leaves WebKit
// only software GL even when the machine has a GPU.
bool software_rendering_only() {
  glob_t found{};
  const std::unique_ptr<glob_t, GlobFree> release(&found);
  bool render_node = false;
  if (glob("/dev/dri/renderD*", 0, nullptr, &found) == 0) {
    for (std::size_t i = 0; i < found.gl_pathc && !render_node; ++i) {
      render_node = access(found.gl_pathv[i], R_OK | W_OK) == 0;
    }
  }
  if (!render_node) {
    return true;
  }
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) {
    Display* x = gdk_x11_display_get_xdisplay(display);
    int opcode = 0;
    int event = 0;
    int error = 0;
    // The NVIDIA driver does its direct rendering without DRI.
    for (const char* extension : {"DRI3", "DRI2", "NV-GLX"}) {
      if (XQueryExtension(x, extension, &opcode, &event, &error)) {
        return false;
      }
    }
    return true;
  }
  return false;
}

void drop_queue_reference(gpointer data) {
  delete static_cast<std::shared_ptr<TaskQueue>*>(data);
}

// `recurse`: the source may run again from a nested main loop that one of
// its own calls started.
guint add_queue_source(gint priority, GSourceFunc function, const std::shared_ptr<TaskQueue>& queue, bool recurse) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, priority);
  g_source_set_can_recurse(source, recurse ? TRUE : FALSE);
  g_source_set_callback(source, function, new std::shared_ptr<TaskQueue>(queue), drop_queue_reference);
  const guint id = g_source_attach(source, nullptr);
  g_source_unref(source);
  return id;
}

}  // namespace

GtkEngine::GtkEngine(bool debug, GtkFixed* parent) {
  queue_->owner = this;
  WebKitWebContext* context = webkit_web_context_get_default();
  // The client names its data and cache directories the way it does for the
  // Windows browser; WebKit's own defaults otherwise.
  if (const char* arguments = g_getenv("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS")) {
    std::optional<std::string> data = browser_switch_value(arguments, "--user-data-dir");
    std::optional<std::string> cache = browser_switch_value(arguments, "--disk-cache-dir");
    if ((data && !data->empty()) || (cache && !cache->empty())) {
      const std::unique_ptr<char, GFreer> default_data(
          g_build_filename(g_get_user_data_dir(), g_get_prgname() ? g_get_prgname() : "webkitgtk", nullptr));
      const std::unique_ptr<char, GFreer> default_cache(
          g_build_filename(g_get_user_cache_dir(), g_get_prgname() ? g_get_prgname() : "webkitgtk", nullptr));
      const std::string data_dir = data && !data->empty() ? *data : std::string(default_data.get());
      const std::string cache_dir = cache && !cache->empty() ? *cache : std::string(default_cache.get());
      const Owned<WebKitWebsiteDataManager> manager(webkit_website_data_manager_new(
          "base-data-directory", data_dir.c_str(), "base-cache-directory", cache_dir.c_str(), nullptr));
      own_context_.reset(webkit_web_context_new_with_website_data_manager(manager.get()));
      // Cookies are kept with the rest of the data, as the Windows browser does.
      const std::unique_ptr<char, GFreer> cookies(g_build_filename(data_dir.c_str(), "cookies.sqlite", nullptr));
      webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager.get()),
                                                   cookies.get(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
      context = own_context_.get();
    }
  }

  content_.reset(webkit_user_content_manager_new());
  // Connected before registering, so no message is missed.
  g_signal_connect(content_.get(), kMessageSignal, G_CALLBACK(on_message), this);
  if (!webkit_user_content_manager_register_script_message_handler(content_.get(), kHandler)) {
    return;
  }

  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_enable_developer_extras(settings, debug ? TRUE : FALSE);
  webkit_settings_set_hardware_acceleration_policy(settings, software_rendering_only()
                                                                 ? WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER
                                                                 : WEBKIT_HARDWARE_ACCELERATION_POLICY_ON_DEMAND);
  GtkWidget* widget = GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context, "user-content-manager",
                                              content_.get(), "settings", settings, nullptr));
  g_object_unref(settings);
  // Our own reference: the widget stays valid until we let go, even after
  // its window destroyed it.
  view_.reset(WEBKIT_WEB_VIEW(g_object_ref_sink(widget)));
  g_signal_connect(widget, "destroy", G_CALLBACK(on_destroy), this);
  connect_recovery();
  // Before the widget shows: it takes the focus when first mapped.
  input_ = std::make_unique<PageInput>(view_.get());
  notifications_ = std::make_unique<NotificationGate>(view_.get(), context, *this);

  set_document_script(document_script());
  start_desktop_links();
  gtk_widget_set_size_request(widget, 0, 0);
  gtk_fixed_put(parent, widget, 0, 0);
  gtk_widget_show(widget);
}

GtkEngine::~GtkEngine() {
  shut_down();
  queue_->owner = nullptr;
  queue_->tasks.clear();
  for (guint* source : {&queue_->source, &queue_->flush_source}) {
    if (*source) {
      g_source_remove(*source);
      *source = 0;
    }
  }
  if (content_) {
    g_signal_handlers_disconnect_by_data(content_.get(), this);
    webkit_user_content_manager_unregister_script_message_handler(content_.get(), kHandler);
  }
  if (view_) {
    g_signal_handlers_disconnect_by_data(view_.get(), this);
    if (!widget_gone_) {
      gtk_widget_destroy(GTK_WIDGET(view_.get()));
    }
  }
}

void* GtkEngine::native_handle(webview_native_handle_kind_t kind) const noexcept {
  if (!view_) {
    return nullptr;
  }
  GtkWidget* widget = GTK_WIDGET(view_.get());
  switch (kind) {
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW: {
      GtkWidget* top = gtk_widget_get_toplevel(widget);
      return gtk_widget_is_toplevel(top) ? top : nullptr;
    }
    case WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET:
    case WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER:
      return widget;
  }
  return nullptr;
}

std::string_view GtkEngine::post_function() const noexcept {
  // Taken at document start, before the page can replace window.webkit.
  return "(function (handler) { return function (message) { handler.postMessage(message); }; })"
         "(window.webkit.messageHandlers.velto_webview)";
}

void GtkEngine::load(const std::string& url) {
  if (usable()) {
    webkit_web_view_load_uri(view_.get(), url.c_str());
  }
}

void GtkEngine::set_document_script(const std::string& script) {
  if (script_) {
    webkit_user_content_manager_remove_script(content_.get(), script_.get());
  }
  script_.reset(webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                       WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr));
  // The manager takes a reference of its own.
  webkit_user_content_manager_add_script(content_.get(), script_.get());
}

void GtkEngine::evaluate(const std::string& script) {
  if (usable()) {
    // Nothing waits for the outcome, so there is nothing to cancel either.
    webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
  }
}

void GtkEngine::post_task(std::function<void()> task) {
  queue_->tasks.push_back(std::move(task));
  if (!queue_->source) {
    // A binding that runs a nested main loop (a modal dialog) lets the calls
    // that arrive meanwhile run inside that loop, as window messages would.
    queue_->source = add_queue_source(kCallPriority, run_tasks, queue_, true);
  }
}

void GtkEngine::replies_waiting() {
  if (!queue_->flush_source) {
    queue_->flush_source = add_queue_source(G_PRIORITY_HIGH, flush_replies, queue_, false);
  }
}

gboolean run_tasks(gpointer data) {
  // A task may destroy the engine and so let go of the queue under us.
  const std::shared_ptr<TaskQueue> queue = *static_cast<std::shared_ptr<TaskQueue>*>(data);
  GSource* const self = g_main_current_source();
  // One call is answered at once; the answers to a burst go out together.
  const bool batch = queue->tasks.size() > 1;
  if (batch && queue->owner) {
    queue->owner->hold_replies();
  }
  for (int n = 0; n < kTasksPerDispatch && !queue->tasks.empty(); ++n) {
    const std::function<void()> task = std::move(queue->tasks.front());
    queue->tasks.pop_front();
    try {
      task();
    } catch (...) {
      // A failed call has no one to report to; the next one still runs.
    }
  }
  if (batch && queue->owner) {
    if (queue->flush_source) {
      g_source_remove(queue->flush_source);
      queue->flush_source = 0;
    }
    try {
      queue->owner->release_replies();
    } catch (...) {
      // Out of memory: those calls stay unanswered.
    }
  }
  if (g_source_is_destroyed(self)) {
    // A run from a nested loop emptied the queue and ended this source;
    // calls that came later have a source of their own.
    return G_SOURCE_REMOVE;
  }
  if (queue->tasks.empty()) {
    queue->source = 0;
    return G_SOURCE_REMOVE;
  }
  // A flood of calls waits behind drawing and input from now on.
  g_source_set_priority(self, kFloodPriority);
  return G_SOURCE_CONTINUE;
}

gboolean flush_replies(gpointer data) {
  const std::shared_ptr<TaskQueue> queue = *static_cast<std::shared_ptr<TaskQueue>*>(data);
  queue->flush_source = 0;
  if (queue->owner) {
    try {
      queue->owner->send_replies();
    } catch (...) {
      // As above.
    }
  }
  return G_SOURCE_REMOVE;
}

void GtkEngine::on_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
  try {
    JSCValue* value = webkit_javascript_result_get_js_value(result);
    if (!jsc_value_is_string(value)) {
      return;
    }
    const std::unique_ptr<char, GFreer> text(jsc_value_to_string(value));
    if (text) {
      static_cast<GtkEngine*>(self)->on_page_message(text.get());
    }
  } catch (...) {
    // Nothing may unwind through WebKit; a call lost here is not answered.
  }
}

void GtkEngine::on_destroy(GtkWidget*, gpointer self) {
  static_cast<GtkEngine*>(self)->widget_gone_ = true;
}

}  // namespace velto::webview::gtk

extern "C" webview_t webview_create(int debug, void* window) {
  try {
    auto* const* parent = static_cast<GtkWidget* const*>(window);
    if (!parent || !*parent || !GTK_IS_FIXED(*parent)) {
      return nullptr;
    }
    auto engine = std::make_unique<velto::webview::gtk::GtkEngine>(debug != 0, GTK_FIXED(*parent));
    if (!engine->ready()) {
      return nullptr;
    }
    // webview_destroy deletes through the base class.
    return static_cast<velto::webview::Engine*>(engine.release());
  } catch (...) {
    return nullptr;
  }
}
