// The engine where no browser runtime exists (as under Wine): creation
// fails cleanly and leaves the parent as it was.

#include <gtest/gtest.h>

#include "WebView/webview.h"
#include "WebViewTestWindow.h"

namespace velto::webview {
namespace {

using namespace std::chrono_literals;
using testing::ParentWindow;

TEST(WebViewWithoutRuntime, CreationFailsAndLeavesTheParentAlone) {
  ParentWindow parent;
  ASSERT_NE(parent.handle(), nullptr);
  HWND handle = parent.handle();
  for (int attempt = 0; attempt < 3; ++attempt) {
    EXPECT_EQ(webview_create(0, &handle), nullptr) << "attempt " << attempt;
    EXPECT_EQ(webview_create(1, &handle), nullptr) << "attempt " << attempt;
    EXPECT_TRUE(parent.children().empty()) << "attempt " << attempt;
  }
  testing::pump_for(100ms);
  EXPECT_TRUE(IsWindow(handle));
  EXPECT_TRUE(parent.children().empty());
}

TEST(WebViewWithoutRuntime, NoParentNoBrowser) {
  EXPECT_EQ(webview_create(0, nullptr), nullptr);
  HWND none = nullptr;
  EXPECT_EQ(webview_create(0, &none), nullptr);
  HWND gone = nullptr;
  {
    ParentWindow parent;
    gone = parent.handle();
  }
  EXPECT_EQ(webview_create(0, &gone), nullptr);
}

}  // namespace
}  // namespace velto::webview
