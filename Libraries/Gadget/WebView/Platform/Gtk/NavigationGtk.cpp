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
// `menu_link`: the link of the last context menu, taken when this follows it.
NavigationRequest request_of(WebKitNavigationAction* action, bool new_window, std::string& url,
                             std::string& menu_link) {
  const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
  url = uri ? uri : "";
  const bool clicked = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
  const bool gesture = webkit_navigation_action_is_user_gesture(action) != FALSE;
  // The context menu's "Open Link" comes without a gesture. The mouse button
  // would not do to tell it: script can dispatch clicks of any button.
  const bool from_menu = clicked && !menu_link.empty() && url == menu_link;
  if (from_menu) {
    menu_link.clear();
  }
  NavigationRequest request;
  request.url = url;
  // Script that navigates, even in answer to a click, is the page's own
  // doing, like a redirect: it may be putting a player into a frame, and
  // WebKitGTK does not say which frame navigates.
  request.user_initiated = clicked && (gesture || from_menu);
  // A middle click asks for a new window, as it does in a browser.
  request.new_window = new_window || (clicked && gesture && webkit_navigation_action_get_mouse_button(action) == 2);
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
  g_signal_connect(view_.get(), "context-menu", G_CALLBACK(on_context_menu), this);
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
    auto* engine = static_cast<GtkEngine*>(self);
    std::string url;
    const NavigationRequest request =
        request_of(webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision)),
                   type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION, url, engine->menu_link_);
    if (engine->navigation_requested(request) == NavigationVerdict::Stay) {
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
    auto* engine = static_cast<GtkEngine*>(self);
    std::string url;
    static_cast<void>(engine->navigation_requested(request_of(action, true, url, engine->menu_link_)));
  } catch (...) {
    // As above.
  }
  return nullptr;
}

gboolean GtkEngine::on_context_menu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult* hit,
                                    gpointer self) {
  try {
    const char* link = webkit_hit_test_result_context_is_link(hit) ? webkit_hit_test_result_get_link_uri(hit) : nullptr;
    static_cast<GtkEngine*>(self)->menu_link_ = link ? link : "";
  } catch (...) {
    // Out of memory: "Open Link" counts as the page's own navigation.
  }
  return FALSE;  // WebKit shows its menu
}

}  // namespace velto::webview::gtk
