#pragma once

// Desktop notifications: which pages may show them. WebKit shows a page's
// notifications itself once it may, through the desktop's notification
// service (org.freedesktop.Notifications on the session bus).

#include <webkit2/webkit2.h>

#include <string>

#include "Engine.h"

namespace velto::webview::gtk {

class NotificationGate {
 public:
  // `view`, `context` (the view's) and `engine` must outlive this object.
  NotificationGate(WebKitWebView* view, WebKitWebContext* context, const Engine& engine);
  ~NotificationGate();
  NotificationGate(const NotificationGate&) = delete;
  NotificationGate& operator=(const NotificationGate&) = delete;

 private:
  static gboolean on_permission_request(WebKitWebView* view, WebKitPermissionRequest* request, gpointer self);
  static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer self);

  WebKitWebView* view_;
  WebKitWebContext* context_;
  const Engine& engine_;
  // The page the view shows: its URL once committed. The URL WebKit
  // reports changes as soon as a load starts, before the page that asks
  // has gone.
  std::string page_;
};

}  // namespace velto::webview::gtk
