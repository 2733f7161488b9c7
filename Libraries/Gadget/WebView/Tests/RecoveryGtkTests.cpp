// A view with a home on WebKitGTK, in a real window on the test display:
// what the user sees while the home cannot be reached or cannot be trusted,
// and how it comes back. Which of the engine's pages shows is read from the
// page itself (its "velto-own-page" marker).

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>

#include "PageSupport.h"
#include "PageTest.h"
#include "WebView/webview.h"

namespace {

using namespace std::chrono_literals;
using velto::testing::pump_for;
using velto::testing::pump_until;
using velto::testing::server_url;

template <class T>
struct Unref {
  void operator()(T* object) const noexcept { g_object_unref(object); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref<T>>;

constexpr char kMarker[] =
    "(function(){var m=document.querySelector('meta[name=\"velto-own-page\"]');return m?m.content:'';})()";

// A port on 127.0.0.1 that refuses connections until open(), and from then
// on passes them to the test server: the server "comes back" on the same
// address.
class LatePort {
 public:
  LatePort() {
    socket_.reset(g_socket_new(G_SOCKET_FAMILY_IPV4, G_SOCKET_TYPE_STREAM, G_SOCKET_PROTOCOL_TCP, nullptr));
    const Owned<GInetAddress> loopback(g_inet_address_new_loopback(G_SOCKET_FAMILY_IPV4));
    const Owned<GSocketAddress> any_port(g_inet_socket_address_new(loopback.get(), 0));
    // Bound but not listening: connections are refused, and nobody else
    // can take the port meanwhile.
    if (socket_ && g_socket_bind(socket_.get(), any_port.get(), FALSE, nullptr)) {
      const Owned<GSocketAddress> bound(g_socket_get_local_address(socket_.get(), nullptr));
      if (bound) {
        port_ = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound.get()));
      }
    }
  }
  LatePort(const LatePort&) = delete;
  LatePort& operator=(const LatePort&) = delete;
  ~LatePort() {
    if (service_) {
      g_socket_service_stop(service_.get());
      g_socket_listener_close(G_SOCKET_LISTENER(service_.get()));
    }
  }

  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] int connections() const { return connections_; }
  [[nodiscard]] std::string url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }

  bool open() {
    if (!g_socket_listen(socket_.get(), nullptr)) {
      return false;
    }
    service_.reset(g_socket_service_new());
    g_signal_connect(service_.get(), "incoming", G_CALLBACK(on_incoming), this);
    if (!g_socket_listener_add_socket(G_SOCKET_LISTENER(service_.get()), socket_.get(), nullptr, nullptr)) {
      return false;
    }
    g_socket_service_start(service_.get());
    return true;
  }

 private:
  static gboolean on_incoming(GSocketService*, GSocketConnection* connection, GObject*, gpointer self) {
    ++static_cast<LatePort*>(self)->connections_;
    const char* port = std::getenv("VELTO_TEST_SERVER_PORT");
    const Owned<GSocketClient> client(g_socket_client_new());
    const Owned<GSocketConnection> server(g_socket_client_connect_to_host(
        client.get(), "127.0.0.1", static_cast<guint16>(std::atoi(port ? port : "0")), nullptr, nullptr));
    if (!server) {
      return FALSE;
    }
    // The splice keeps both streams until either side closes.
    g_io_stream_splice_async(G_IO_STREAM(connection), G_IO_STREAM(server.get()), G_IO_STREAM_SPLICE_NONE,
                             G_PRIORITY_DEFAULT, nullptr, nullptr, nullptr);
    return TRUE;
  }

  Owned<GSocket> socket_;
  Owned<GSocketService> service_;
  int port_ = 0;
  int connections_ = 0;
};

class HomeGtk : public velto::testing::PageTest {
 public:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(PageTest::SetUp());
    gtk_widget_show_all(window_);
    ASSERT_NO_FATAL_FAILURE(create_view());
    g_signal_connect(widget_, "load-changed", G_CALLBACK(on_load_changed), this);
  }

  void go_home(const std::string& url) {
    home_ = url;
    ASSERT_EQ(webview_set_home(view_, url.c_str()), WEBVIEW_ERROR_OK);
    ASSERT_EQ(webview_navigate(view_, url.c_str()), WEBVIEW_ERROR_OK);
  }

  // The marker of the engine's page on show ("offline", ...), "" for any
  // other page, "(no answer)" when the page did not answer in time.
  std::string own_page() {
    struct Answer {
      bool done = false;
      std::string text = "(no answer)";
    };
    auto answer = std::make_shared<Answer>();
    webkit_web_view_evaluate_javascript(
        WEBKIT_WEB_VIEW(widget_), kMarker, -1, nullptr, nullptr, nullptr,
        [](GObject* view, GAsyncResult* result, gpointer data) {
          const std::unique_ptr<std::shared_ptr<Answer>> held(static_cast<std::shared_ptr<Answer>*>(data));
          Answer& got = **held;
          got.done = true;
          if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, nullptr)) {
            char* text = jsc_value_to_string(value);
            got.text = text ? text : "";
            g_free(text);
            g_object_unref(value);
          }
        },
        new std::shared_ptr<Answer>(answer));
    pump_until([&] { return answer->done; }, 5s);
    return answer->text;
  }

  bool shows(const std::string& marker, std::chrono::milliseconds timeout) {
    return pump_until([&] { return own_page() == marker; }, timeout);
  }

  // The home itself is on show, loaded to the end.
  bool home_shown(std::chrono::milliseconds timeout) {
    return pump_until(
        [&] {
          const char* uri = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(widget_));
          return uri && uri == home_ && !webkit_web_view_is_loading(WEBKIT_WEB_VIEW(widget_)) && own_page().empty();
        },
        timeout);
  }

  static void on_load_changed(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
    auto* test = static_cast<HomeGtk*>(self);
    // A try has finished, failed or not, when the main resource of the load
    // that finished is the home.
    WebKitWebResource* page = webkit_web_view_get_main_resource(view);
    const char* uri = page ? webkit_web_resource_get_uri(page) : nullptr;
    if (event == WEBKIT_LOAD_FINISHED && uri && uri == test->home_) {
      ++test->home_tries_;
    }
  }

  std::string home_;
  int home_tries_ = 0;
};

TEST_F(HomeGtk, AnUnreachableHomeShowsTheOfflinePageUntilItCanBeReached) {
  LatePort port;
  ASSERT_NE(port.port(), 0);
  go_home(port.url("/test/bindings"));
  EXPECT_TRUE(shows("offline", 20s)) << "no offline page; the page says: " << own_page();
  // It keeps trying by itself.
  EXPECT_TRUE(pump_until([&] { return home_tries_ >= 2; }, 20s));
  EXPECT_EQ(own_page(), "offline");

  ASSERT_TRUE(port.open());
  EXPECT_TRUE(home_shown(30s)) << "the home did not come back; the page says: " << own_page();
}

TEST_F(HomeGtk, TheNetworkComingBackRetriesAtOnce) {
  LatePort port;
  ASSERT_NE(port.port(), 0);
  go_home(port.url("/test/bindings"));
  // After the third try the next waits 8 s.
  ASSERT_TRUE(pump_until([&] { return home_tries_ >= 3; }, 30s));
  ASSERT_TRUE(shows("offline", 10s));
  ASSERT_TRUE(port.open());
  g_signal_emit_by_name(g_network_monitor_get_default(), "network-changed", TRUE);
  EXPECT_TRUE(home_shown(6s)) << "the home waited for its scheduled retry";
  EXPECT_EQ(home_tries_, 4);
}

TEST_F(HomeGtk, AnUntrustedCertificateShowsItsPageAndIsNotRetried) {
  const char* untrusted = std::getenv("VELTO_TEST_UNTRUSTED_PORT");
  ASSERT_NE(untrusted, nullptr);
  go_home(std::string("https://127.0.0.1:") + untrusted + "/test/bindings");
  ASSERT_TRUE(shows("certificate", 20s)) << "the page says: " << own_page();
  // Longer than the first retry would wait.
  pump_for(3s);
  EXPECT_EQ(home_tries_, 1);
  EXPECT_EQ(own_page(), "certificate");

  // Its button tries the home again, and the same page says why it failed.
  velto::testing::evaluate(WEBKIT_WEB_VIEW(widget_), "document.getElementById('reload').click();");
  EXPECT_TRUE(pump_until([&] { return home_tries_ == 2; }, 20s)) << "the button did not load the home";
  EXPECT_TRUE(shows("certificate", 20s)) << "the page says: " << own_page();
}

TEST_F(HomeGtk, WithoutAHomeWebKitShowsItsOwnErrorPage) {
  LatePort port;
  ASSERT_NE(port.port(), 0);
  home_ = port.url("/test/bindings");
  ASSERT_EQ(webview_navigate(view_, home_.c_str()), WEBVIEW_ERROR_OK);
  ASSERT_TRUE(
      pump_until([&] { return home_tries_ >= 1 && !webkit_web_view_is_loading(WEBKIT_WEB_VIEW(widget_)); }, 20s));
  EXPECT_EQ(own_page(), "") << "the engine's page showed without a home";
  const int tries = home_tries_;
  pump_for(3s);
  EXPECT_EQ(home_tries_, tries) << "retried without a home";
}

TEST_F(HomeGtk, AnEngineDestroyedWhileARetryWaits) {
  LatePort port;
  ASSERT_NE(port.port(), 0);
  go_home(port.url("/test/bindings"));
  ASSERT_TRUE(shows("offline", 20s));
  close_view();
  ASSERT_TRUE(port.open());
  // Past the first retry: nothing of the engine may run any more.
  pump_for(3s);
  EXPECT_EQ(port.connections(), 0);
}

TEST_F(HomeGtk, AReachableHomeLoadsAsUsual) {
  go_home(server_url("/test/bindings"));
  EXPECT_TRUE(home_shown(20s));
  EXPECT_TRUE(velto::testing::beacon_seen("load", "bindings"));
}

}  // namespace
