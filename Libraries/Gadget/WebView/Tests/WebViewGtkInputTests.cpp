// What the engine adds to WebKitGTK for the user, in a real window on the
// test display with pages of the local test server: the keyboard for the
// page when its window first shows, the zoom and reload keys (sent with
// xdotool, as a user's would be) and which pages may notify.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Desktop.h"
#include "PageSupport.h"
#include "PageTest.h"
#include "WebView/webview.h"

// Last: Xlib's macros (None, Status) clash with the names above.
#include <gdk/gdkx.h>

namespace {

using namespace std::chrono_literals;
using velto::testing::pump_until;
using velto::testing::server_url;
using velto::testing::shell;

// The test server under its name: another origin than server_url's address.
std::string named_server_url(const std::string& path) {
  const char* port = std::getenv("VELTO_TEST_SERVER_PORT");
  return std::string("https://localhost:") + (port ? port : "0") + path;
}

class WebViewGtkInput : public velto::testing::PageTest {
 protected:
  // `home`: set before anything runs in the view.
  void open_view(const std::string& home = {}) {
    ASSERT_NO_FATAL_FAILURE(create_view(home));
    bind_report();
  }

  // Shows the window and waits until it has the keyboard, which the window
  // manager gives a new window.
  void show() {
    gtk_widget_show_all(window_);
    ASSERT_TRUE(pump_until([&] { return gtk_window_has_toplevel_focus(GTK_WINDOW(window_)) != FALSE; }, 10s));
  }

  [[nodiscard]] std::string window_id() const {
    return std::to_string(gdk_x11_window_get_xid(gtk_widget_get_window(window_)));
  }

  [[nodiscard]] double zoom() const { return webkit_web_view_get_zoom_level(WEBKIT_WEB_VIEW(widget_)); }
};

TEST_F(WebViewGtkInput, TheViewTakesTheKeyboardWhenItsWindowFirstShows) {
  open_view();
  show();
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), widget_);
  EXPECT_TRUE(pump_until([&] { return gtk_widget_has_focus(widget_) != FALSE; }, 5s));
}

TEST_F(WebViewGtkInput, AViewAddedToAShownWindowTakesTheKeyboard) {
  show();
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), nullptr);
  open_view();
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), widget_);
  EXPECT_TRUE(pump_until([&] { return gtk_widget_has_focus(widget_) != FALSE; }, 5s));
}

TEST_F(WebViewGtkInput, AFieldTheProgramFocusedKeepsTheKeyboard) {
  GtkWidget* entry = gtk_entry_new();
  gtk_fixed_put(GTK_FIXED(fixed_), entry, 0, 0);
  show();
  gtk_widget_grab_focus(entry);
  open_view();
  EXPECT_EQ(gtk_window_get_focus(GTK_WINDOW(window_)), entry);
}

TEST_F(WebViewGtkInput, ThePageKeepsTheKeysItHandles) {
  open_view();
  show();
  ASSERT_TRUE(load(server_url("/test/bindings")));
  // The page takes Ctrl+plus for itself and leaves Ctrl+minus to the view.
  ASSERT_EQ(settle("document.addEventListener('keydown', function (e) {"
                   "  if (e.ctrlKey && e.key === '+') e.preventDefault();"
                   "  report('key', e.key);"
                   "}), 'listening'"),
            R"(["ok","\"listening\""])");
  reports_.clear();
  shell("xdotool key ctrl+plus ctrl+minus");
  // Both keys reached the page, and only the second zoomed.
  ASSERT_TRUE(pump_until([&] { return zoom() != 1.0; }, 10s)) << "Ctrl+minus did not zoom";
  EXPECT_DOUBLE_EQ(zoom(), 0.9);
  EXPECT_NE(std::find(reports_.begin(), reports_.end(), R"(["key","+"])"), reports_.end());
  EXPECT_NE(std::find(reports_.begin(), reports_.end(), R"(["key","-"])"), reports_.end());
  shell("xdotool key ctrl+0");
  EXPECT_TRUE(pump_until([&] { return zoom() == 1.0; }, 10s)) << "Ctrl+0 did not reset the zoom";
}

TEST_F(WebViewGtkInput, CtrlWithTheWheelZoomsInsteadOfScrolling) {
  open_view();
  show();
  ASSERT_TRUE(load(server_url("/test/bindings")));
  ASSERT_EQ(settle("document.body.style.height = '5000px', window.scrollY"), R"(["ok","0"])");
  shell("xdotool mousemove --window " + window_id() + " 300 200");
  shell("xdotool keydown ctrl click 5 keyup ctrl");
  ASSERT_TRUE(pump_until([&] { return zoom() != 1.0; }, 10s)) << "Ctrl with the wheel did not zoom";
  EXPECT_DOUBLE_EQ(zoom(), 0.9);
  EXPECT_EQ(settle("window.scrollY"), R"(["ok","0"])") << "the page scrolled as well";
  // The wheel alone still scrolls the page.
  shell("xdotool click 5");
  EXPECT_TRUE(pump_until([&] { return settle("window.scrollY > 0") == R"(["ok","true"])"; }, 10s));
  EXPECT_DOUBLE_EQ(zoom(), 0.9);
}

TEST_F(WebViewGtkInput, F5ReloadsAndTheZoomStays) {
  open_view();
  show();
  ASSERT_TRUE(load(server_url("/test/bindings")));
  const std::string normal = settle("window.innerWidth");
  shell("xdotool key ctrl+plus");
  ASSERT_TRUE(pump_until([&] { return zoom() != 1.0; }, 10s));
  const std::string zoomed = settle("window.innerWidth");
  ASSERT_NE(zoomed, normal);
  ASSERT_EQ(settle("window.marked = 1"), R"(["ok","1"])");
  finished_ = 0;
  shell("xdotool key F5");
  ASSERT_TRUE(pump_until([&] { return finished_ > 0; }, 20s)) << "F5 did not reload";
  EXPECT_EQ(settle("typeof window.marked"), R"(["ok","\"undefined\""])");
  EXPECT_EQ(settle("window.innerWidth"), zoomed);
  // Another origin, in another web process.
  ASSERT_TRUE(load(named_server_url("/test/bindings")));
  EXPECT_EQ(settle("window.innerWidth"), zoomed);
}

TEST_F(WebViewGtkInput, NotificationsAreTheHomesOnly) {
  open_view(server_url("/test/bindings"));
  ASSERT_TRUE(load(server_url("/test/bindings")));
  // Known to the home's pages before they ask, and granted when they do.
  EXPECT_EQ(settle("Notification.permission"), R"(["ok","\"granted\""])");
  EXPECT_EQ(settle("Notification.requestPermission()"), R"(["ok","\"granted\""])");

  // A page of another origin, in the view's top frame.
  ASSERT_TRUE(load(named_server_url("/test/bindings")));
  EXPECT_EQ(settle("Notification.permission"), R"(["ok","\"default\""])");
  EXPECT_EQ(settle("Notification.requestPermission()"), R"(["ok","\"denied\""])");
}

TEST_F(WebViewGtkInput, WithoutAHomeWebKitAnswers) {
  open_view();
  ASSERT_TRUE(load(server_url("/test/bindings")));
  EXPECT_EQ(settle("Notification.permission"), R"(["ok","\"default\""])");
  // WebKit's own answer to every request is no.
  EXPECT_EQ(settle("Notification.requestPermission()"), R"(["ok","\"denied\""])");
}

TEST_F(WebViewGtkInput, OtherPermissionsKeepWebKitsAnswer) {
  open_view(server_url("/test/bindings"));
  // WebKit holds a hidden page's requests for a location back.
  show();
  ASSERT_TRUE(load(server_url("/test/bindings")));
  // 1: PERMISSION_DENIED.
  EXPECT_EQ(settle("new Promise(function (resolve) {"
                   "  navigator.geolocation.getCurrentPosition(function () { resolve('position'); },"
                   "                                           function (e) { resolve(e.code); });"
                   "})"),
            R"(["ok","1"])");
}

}  // namespace
