// A view with a home on WebKitGTK: the view's loads, failures and crashes
// reported to the portable engine, which decides; its own pages, timers and
// reloads carried out here.

#include <gio/gio.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

#include "GtkEngine.h"

namespace velto::webview::gtk {

namespace {

// The address the engine's own pages show at. No request ever goes there:
// the page's text is given with it. Its load events are told apart by it.
constexpr char kOwnPageUri[] = "about:velto-page";

bool own_page_uri(const char* uri) {
  return uri && std::string_view(uri) == kOwnPageUri;
}

bool web_uri(const char* uri) {
  return uri && url_origin(uri).has_value();
}

// A load that stopped because something else took its place: another
// navigation, a response that became a download, a navigation the policy
// refused. None of these is a failure of the page.
bool cancelled(const GError* error) {
  return error && ((error->domain == WEBKIT_NETWORK_ERROR && error->code == WEBKIT_NETWORK_ERROR_CANCELLED) ||
                   (error->domain == WEBKIT_POLICY_ERROR &&
                    error->code == WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE));
}

}  // namespace

struct DelayedTasks::Entry {
  DelayedTasks* owner = nullptr;
  std::function<void()> task;
  guint source = 0;
};

DelayedTasks::~DelayedTasks() {
  // Removing a source frees its entry (release).
  for (const guint source : sources_) {
    g_source_remove(source);
  }
}

void DelayedTasks::post(std::chrono::milliseconds delay, std::function<void()> task) {
  const auto milliseconds = static_cast<guint>(
      std::clamp<std::chrono::milliseconds::rep>(delay.count(), 0, std::numeric_limits<guint>::max()));
  auto entry = std::make_unique<Entry>();
  entry->owner = this;
  entry->task = std::move(task);
  Entry* const raw = entry.get();
  // From here the source owns the entry.
  raw->source = g_timeout_add_full(G_PRIORITY_DEFAULT, milliseconds, fire, entry.release(), release);
  sources_.insert(raw->source);
}

gboolean DelayedTasks::fire(gpointer data) {
  auto* const entry = static_cast<Entry*>(data);
  // The task may destroy the owner, which must not remove this source again.
  entry->owner->sources_.erase(entry->source);
  entry->owner = nullptr;
  try {
    entry->task();
  } catch (...) {
    // No one to report to; the engine goes on as before.
  }
  return G_SOURCE_REMOVE;
}

void DelayedTasks::release(gpointer data) {
  delete static_cast<Entry*>(data);
}

void SignalConnection::connect(gpointer instance, const char* signal, GCallback callback, gpointer data) {
  disconnect();
  instance_ = G_OBJECT(g_object_ref(instance));
  handler_ = g_signal_connect(instance, signal, callback, data);
}

void SignalConnection::disconnect() noexcept {
  if (instance_) {
    if (handler_) {
      g_signal_handler_disconnect(instance_, handler_);
    }
    g_object_unref(instance_);
  }
  instance_ = nullptr;
  handler_ = 0;
}

void GtkEngine::connect_recovery() {
  GObject* const view = G_OBJECT(view_.get());
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), this);
  g_signal_connect(view, "load-failed", G_CALLBACK(on_load_failed), this);
  g_signal_connect(view, "load-failed-with-tls-errors", G_CALLBACK(on_tls_errors), this);
  g_signal_connect(view, "web-process-terminated", G_CALLBACK(on_process_terminated), this);
}

void GtkEngine::show_page(const std::string& html) {
  if (!usable()) {
    return;
  }
  // The network matters only once a page of ours shows (the offline page
  // waits for it); an engine that never shows one never asks the desktop.
  if (!recovery_.network.connected()) {
    recovery_.network.connect(g_network_monitor_get_default(), "network-changed", G_CALLBACK(on_network_changed), this);
  }
  webkit_web_view_load_alternate_html(view_.get(), html.c_str(), kOwnPageUri, nullptr);
}

void GtkEngine::reload_page() {
  if (!usable()) {
    return;
  }
  // The page on show, not one still loading: a reload repeats the former.
  WebKitBackForwardListItem* const shown =
      webkit_back_forward_list_get_current_item(webkit_web_view_get_back_forward_list(view_.get()));
  if (shown && web_uri(webkit_back_forward_list_item_get_uri(shown))) {
    webkit_web_view_reload(view_.get());
  } else {
    load(home());
  }
}

void GtkEngine::post_delayed(std::chrono::milliseconds delay, std::function<void()> task) {
  recovery_.timers.post(delay, std::move(task));
}

void GtkEngine::on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  auto* const engine = static_cast<GtkEngine*>(self);
  if (event == WEBKIT_LOAD_STARTED) {
    engine->recovery_.load_failed = false;
  } else if (event == WEBKIT_LOAD_FINISHED) {
    // A failed load finishes too, right after its failure.
    const bool failed = std::exchange(engine->recovery_.load_failed, false);
    // The view's URI already names a load asked for since; the main resource
    // is the one of the load that finished. The engine's own pages have none
    // from the web.
    WebKitWebResource* const page = webkit_web_view_get_main_resource(view);
    if (!failed && page && web_uri(webkit_web_resource_get_uri(page))) {
      try {
        engine->page_loaded();
      } catch (...) {
        // Nothing may unwind through WebKit.
      }
    }
  }
}

gboolean GtkEngine::on_load_failed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
  auto* const engine = static_cast<GtkEngine*>(self);
  engine->recovery_.load_failed = true;
  if (engine->home().empty() || own_page_uri(uri) || cancelled(error)) {
    return FALSE;  // WebKit's own handling, as without a home
  }
  try {
    engine->page_failed(LoadFailure::Network);
  } catch (...) {
    // Out of memory: WebKit's own error page is better than nothing.
    return FALSE;
  }
  return TRUE;
}

gboolean GtkEngine::on_tls_errors(WebKitWebView*, gchar*, GTlsCertificate*, GTlsCertificateFlags, gpointer self) {
  auto* const engine = static_cast<GtkEngine*>(self);
  engine->recovery_.load_failed = true;
  if (engine->home().empty()) {
    return FALSE;
  }
  // No exception is ever made for the certificate: the load stays failed and
  // the engine's page says why.
  try {
    engine->page_failed(LoadFailure::Certificate);
  } catch (...) {
    return FALSE;
  }
  return TRUE;
}

void GtkEngine::on_process_terminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer self) {
  // The program ended the process on purpose; it decides what comes next.
  if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API) {
    return;
  }
  try {
    static_cast<GtkEngine*>(self)->page_process_gone();
  } catch (...) {
    // The view stays empty until the next load.
  }
}

void GtkEngine::on_network_changed(GNetworkMonitor*, gboolean available, gpointer self) {
  // Any change that leaves the network up may be the one that brings the
  // server back (a cable, a new route); the engine retries only when a retry
  // is waiting.
  if (available) {
    try {
      static_cast<GtkEngine*>(self)->network_back();
    } catch (...) {
      // The scheduled retry still comes.
    }
  }
}

}  // namespace velto::webview::gtk
