#include "PageTest.h"

#include <webkit2/webkit2.h>

#include <cstdlib>
#include <memory>

#include "Desktop.h"
#include "PageSupport.h"

namespace velto::testing {

using namespace std::chrono_literals;

namespace {

void on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer finished) {
  if (event == WEBKIT_LOAD_FINISHED) {
    ++*static_cast<int*>(finished);
  }
}

}  // namespace

void PageTest::SetUpTestSuite() {
  // WebKit's default data must not land in the real home directory. One
  // directory for the program: WebKit reads the variables once.
  static std::unique_ptr<TempDir> data;
  if (!data) {
    data = std::make_unique<TempDir>();
    setenv("XDG_DATA_HOME", (data->path() + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (data->path() + "/cache").c_str(), 1);
  }
  unsetenv("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
}

void PageTest::SetUp() {
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display";
  ASSERT_NE(std::getenv("VELTO_TEST_SERVER_PORT"), nullptr) << "run through Scripts/with-test-server";
  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window_), 640, 480);
  fixed_ = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(window_), fixed_);
}

void PageTest::TearDown() {
  close_view();
  if (window_) {
    gtk_widget_destroy(window_);
  }
  pump_for(20ms);
}

void PageTest::create_view(const std::string& home) {
  view_ = webview_create(0, &fixed_);
  ASSERT_NE(view_, nullptr);
  widget_ = static_cast<GtkWidget*>(webview_get_native_handle(view_, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET));
  gtk_widget_set_size_request(widget_, 640, 480);
  if (!home.empty()) {
    ASSERT_EQ(webview_set_home(view_, home.c_str()), WEBVIEW_ERROR_OK);
  }
  g_signal_connect(widget_, "load-changed", G_CALLBACK(on_load_changed), &finished_);
}

void PageTest::close_view() {
  if (view_) {
    g_signal_handlers_disconnect_by_data(widget_, this);
    g_signal_handlers_disconnect_by_data(widget_, &finished_);
    g_signal_handlers_disconnect_by_data(webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(widget_)), this);
    EXPECT_EQ(webview_destroy(view_), WEBVIEW_ERROR_OK);
    view_ = nullptr;
  }
}

void PageTest::bind_report() {
  ASSERT_EQ(webview_bind(view_, "report", on_report, this), WEBVIEW_ERROR_OK);
}

bool PageTest::load(const char* url) {
  finished_ = 0;
  return webview_navigate(view_, url) == WEBVIEW_ERROR_OK && pump_until([&] { return finished_ > 0; }, 20s);
}

std::string PageTest::settle(const std::string& expression, std::chrono::milliseconds timeout) {
  reports_.clear();
  evaluate(WEBKIT_WEB_VIEW(widget_), settle_script(expression));
  if (!pump_until([&] { return !reports_.empty(); }, timeout)) {
    return "(no report)";
  }
  return reports_.front();
}

void PageTest::on_report(const char* id, const char* request, void* self) {
  auto* test = static_cast<PageTest*>(self);
  test->reports_.emplace_back(request);
  webview_return(test->view_, id, 0, "");
}

}  // namespace velto::testing
