// Where the view's navigations go on WebKitGTK: WebKit asks before every
// navigation and new window; the portable engine decides, and what leaves
// the view goes to the desktop's default handler through GIO.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>

#include "Browsing.h"
#include "DesktopGtk.h"
#include "GtkEngine.h"

namespace velto::webview::gtk {

namespace {

void on_launched(GObject* /*source*/, GAsyncResult* result, gpointer /*data*/) {
  GError* raw_error = nullptr;
  if (!g_app_info_launch_default_for_uri_finish(result, &raw_error)) {
    // The desktop has already told the user, if it could; nobody waits here.
    g_error_free(raw_error);
  }
}

// What WebKit says of a navigation, as the portable engine asks it.
NavigationRequest request_of(WebKitNavigationAction* action, bool new_window, std::string& url) {
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  url = uri ? uri : "";
  const bool clicked = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
  const guint button = webkit_navigation_action_get_mouse_button(action);
  NavigationRequest request;
  request.url = url;
  // A link the user clicked or chose "Open Link" for (that one carries its
  // mouse button but no gesture). Script that navigates, even in answer to
  // a click, is the page's own doing, like a redirect: it may be putting a
  // player into a frame, and WebKitGTK does not say which frame navigates.
  request.user_initiated = clicked && (webkit_navigation_action_is_user_gesture(action) || button != 0);
  // A middle click asks for a new window, as it does in a browser.
  request.new_window = new_window || (clicked && button == 2);
  request.main_frame = true;
  return request;
}

}  // namespace

bool open_with_default_handler(const std::string& uri, GtkWidget* widget) {
  const std::string scheme = url_scheme(uri);
  if (scheme.empty()) {
    return false;
  }
  // A folder's handler depends on what it is, not on its scheme.
  if (scheme != "file") {
    const Owned<GAppInfo> handler(g_app_info_get_default_for_uri_scheme(scheme.c_str()));
    if (!handler) {
      return false;
    }
  }
  GdkDisplay* display = widget ? gtk_widget_get_display(widget) : gdk_display_get_default();
  // The launch context gives the program our display and a start-up id, so
  // the window manager may bring it to the front.
  const Owned<GdkAppLaunchContext> launch(display ? gdk_display_get_app_launch_context(display) : nullptr);
  // Asynchronous: starting a handler may wait for D-Bus activation or a
  // portal, and the chat must not freeze meanwhile.
  g_app_info_launch_default_for_uri_async(uri.c_str(), launch ? G_APP_LAUNCH_CONTEXT(launch.get()) : nullptr, nullptr,
                                          on_launched, nullptr);
  return true;
}

bool GtkEngine::hand_over(const std::string& url) {
  return open_with_default_handler(url, view_ ? GTK_WIDGET(view_.get()) : nullptr);
}

void GtkEngine::start_desktop_links() {
  g_signal_connect(view_.get(), "decide-policy", G_CALLBACK(on_decide_policy), this);
  g_signal_connect(view_.get(), "create", G_CALLBACK(on_create), this);
  downloads_ = std::make_unique<DownloadKeeper>(
      view_.get(), webkit_web_view_get_context(view_.get()), content_.get(), [this](const std::string& script) {
        if (usable()) {
          webkit_web_view_evaluate_javascript(view_.get(), script.c_str(), static_cast<gssize>(script.size()),
                                              kNoticeWorld, nullptr, nullptr, nullptr, nullptr);
        }
      });
}

gboolean GtkEngine::on_decide_policy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer self) {
  try {
    if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
      auto* response = WEBKIT_RESPONSE_POLICY_DECISION(decision);
      const guint status = webkit_uri_response_get_status_code(webkit_response_policy_decision_get_response(response));
      // What the view cannot show is saved, as a browser would; WebKit
      // would drop it silently. Attachments are downloads already.
      if (webkit_response_policy_decision_is_main_frame_main_resource(response) &&
          !webkit_response_policy_decision_is_mime_type_supported(response) && status >= 200 && status < 300) {
        webkit_policy_decision_download(decision);
        return TRUE;
      }
      return FALSE;
    }
    std::string url;
    const NavigationRequest request =
        request_of(webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision)),
                   type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION, url);
    if (static_cast<GtkEngine*>(self)->navigation_requested(request) == NavigationVerdict::Stay) {
      return FALSE;  // WebKit carries on as it would
    }
    // Handed over or refused: the view stays where it is. A mailto: link
    // left to WebKit would end in its "can't be shown" page.
    webkit_policy_decision_ignore(decision);
    return TRUE;
  } catch (...) {
    // Nothing may unwind through WebKit; what could not be judged stays put.
    webkit_policy_decision_ignore(decision);
    return TRUE;
  }
}

GtkWidget* GtkEngine::on_create(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
  // window.open and the context menu's "Open Link in New Window" come here
  // directly; target=_blank was refused or handed over before. The engine
  // never opens a window of its own.
  try {
    std::string url;
    static_cast<void>(static_cast<GtkEngine*>(self)->navigation_requested(request_of(action, true, url)));
  } catch (...) {
    // As above.
  }
  return nullptr;
}

}  // namespace velto::webview::gtk
