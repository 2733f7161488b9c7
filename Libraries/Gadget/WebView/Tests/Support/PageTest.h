#pragma once

// The fixture of the tests that show the engine's view in a real GtkWindow
// on the test display, with pages of the local test server: the window and
// its GtkFixed, the view with its finished loads counted, the page's
// `report` binding and a private data directory for WebKit.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <string>
#include <vector>

#include "WebView/webview.h"

namespace velto::testing {

// Public: the tests reach it from callbacks too.
class PageTest : public ::testing::Test {
 public:
  static void SetUpTestSuite();
  // The window, not shown yet; no view.
  void SetUp() override;
  void TearDown() override;

  // The view in the window; `home`, when given, is set before anything runs
  // in it.
  void create_view(const std::string& home = {});
  void close_view();
  // Binds `report`, which gathers its requests in reports_.
  void bind_report();

  // Navigates and waits (at most 20 s) for the load to finish.
  bool load(const char* url);
  bool load(const std::string& url) { return load(url.c_str()); }
  // The outcome of a page expression, as `report` received it.
  std::string settle(const std::string& expression, std::chrono::milliseconds timeout = std::chrono::seconds(10));

  static void on_report(const char* id, const char* request, void* self);

  GtkWidget* window_ = nullptr;
  GtkWidget* fixed_ = nullptr;
  GtkWidget* widget_ = nullptr;
  webview_t view_ = nullptr;
  int finished_ = 0;
  std::vector<std::string> reports_;
};

}  // namespace velto::testing
