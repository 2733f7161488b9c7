// Notifications are the home's: its pages may show them, no other page may.

#include "GtkNotifications.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "Permissions.h"

namespace velto::webview::gtk {

namespace {

constexpr char kContextEngines[] = "velto-notification-engines";

// The engines whose views use one web context. Its web processes learn
// their homes as origins that may notify; WebKit asks for that list each
// time it starts one. Kept on the context, which may be WebKit's default
// one shared by every engine without data directories of its own.
struct ContextEngines {
  std::vector<const Engine*> engines;
};

void delete_context_engines(gpointer data) {
  delete static_cast<ContextEngines*>(data);
}

struct OriginUnref {
  void operator()(WebKitSecurityOrigin* origin) const noexcept { webkit_security_origin_unref(origin); }
};

// Pages of the home then read Notification.permission as "granted" without
// asking, as a request from them would be answered anyway. Only web
// processes started later learn of it; a page in an earlier one asks.
void on_initialize_permissions(WebKitWebContext* context, gpointer data) {
  try {
    const auto* record = static_cast<const ContextEngines*>(data);
    std::vector<Origin> homes;
    for (const Engine* engine : record->engines) {
      const std::optional<Origin>& home = engine->home_origin();
      if (home && std::find(homes.begin(), homes.end(), *home) == homes.end()) {
        homes.push_back(*home);
      }
    }
    std::vector<std::unique_ptr<WebKitSecurityOrigin, OriginUnref>> origins;
    GList* allowed = nullptr;
    for (const Origin& home : homes) {
      const bool default_port =
          (home.scheme == "https" && home.port == 443) || (home.scheme == "http" && home.port == 80);
      origins.emplace_back(webkit_security_origin_new(home.scheme.c_str(), home.host.c_str(),
                                                      default_port ? 0 : static_cast<guint16>(home.port)));
      allowed = g_list_prepend(allowed, origins.back().get());
    }
    webkit_web_context_initialize_notification_permissions(context, allowed, nullptr);
    g_list_free(allowed);
  } catch (...) {
    // Out of memory: the pages ask instead.
  }
}

}  // namespace

NotificationGate::NotificationGate(WebKitWebView* view, WebKitWebContext* context, const Engine& engine)
    : view_(view), context_(context), engine_(engine) {
  auto* record = static_cast<ContextEngines*>(g_object_get_data(G_OBJECT(context), kContextEngines));
  if (!record) {
    auto created = std::make_unique<ContextEngines>();
    record = created.get();
    g_object_set_data_full(G_OBJECT(context), kContextEngines, created.release(), delete_context_engines);
    g_signal_connect(context, "initialize-notification-permissions", G_CALLBACK(on_initialize_permissions), record);
  }
  record->engines.push_back(&engine_);
  g_signal_connect(view, "permission-request", G_CALLBACK(on_permission_request), this);
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load_changed), this);
}

NotificationGate::~NotificationGate() {
  g_signal_handlers_disconnect_by_data(view_, this);
  if (auto* record = static_cast<ContextEngines*>(g_object_get_data(G_OBJECT(context_), kContextEngines))) {
    std::erase(record->engines, &engine_);
  }
}

gboolean NotificationGate::on_permission_request(WebKitWebView*, WebKitPermissionRequest* request, gpointer self) {
  // WebKit refuses a frame of another origin than its page before asking,
  // so the page's origin is the one that asks.
  try {
    const auto* gate = static_cast<const NotificationGate*>(self);
    const PermissionKind kind =
        WEBKIT_IS_NOTIFICATION_PERMISSION_REQUEST(request) ? PermissionKind::Notifications : PermissionKind::Other;
    switch (judge_permission(kind, gate->page_, gate->engine_.home_origin())) {
      case PermissionVerdict::Grant:
        webkit_permission_request_allow(request);
        return TRUE;
      case PermissionVerdict::Deny:
        webkit_permission_request_deny(request);
        return TRUE;
      case PermissionVerdict::Default:
        break;
    }
  } catch (...) {
    // WebKit's own answer follows.
  }
  // WebKit's default handler denies every request.
  return FALSE;
}

void NotificationGate::on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
  if (event != WEBKIT_LOAD_COMMITTED) {
    return;
  }
  try {
    const char* uri = webkit_web_view_get_uri(view);
    static_cast<NotificationGate*>(self)->page_ = uri ? uri : "";
  } catch (...) {
    static_cast<NotificationGate*>(self)->page_.clear();
  }
}

}  // namespace velto::webview::gtk
