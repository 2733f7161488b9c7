// The engine against a fake runtime library placed beside the test program
// as the loader: what it asks of the runtime, in which order, and that it
// gives everything back.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FakeRuntime/FakeRuntime.h"
#include "WebView/webview.h"
#include "WebViewTestWindow.h"

namespace velto::webview {
namespace {

using namespace std::chrono_literals;
using testing::ParentWindow;
using testing::pump_for;
using testing::pump_until;

std::vector<std::string> runtime_log() {
  std::vector<std::string> log;
  for (int i = 0; i < fake_runtime_log_size(); ++i) {
    log.emplace_back(fake_runtime_log_entry(i));
  }
  return log;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Index of the first entry at or after `from` that starts with `prefix`; -1 if none.
int find_entry(const std::vector<std::string>& log, const std::string& prefix, int from = 0) {
  for (int i = std::max(from, 0); i < static_cast<int>(log.size()); ++i) {
    if (starts_with(log[static_cast<std::size_t>(i)], prefix)) {
      return i;
    }
  }
  return -1;
}

std::string hwnd_text(HWND window) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(window));
}

struct Call {
  std::string id;
  std::string request;
};

void record_call(const char* id, const char* request, void* arg) {
  static_cast<std::vector<Call>*>(arg)->push_back({id, request});
}

class WebViewFakeRuntime : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_runtime_fail(nullptr);
    fake_runtime_clear_log();
    ASSERT_NE(parent_.handle(), nullptr);
  }
  void TearDown() override {
    fake_runtime_fail(nullptr);
    pump_for(50ms);
  }

  webview_t create(int debug) {
    HWND handle = parent_.handle();
    return webview_create(debug, &handle);
  }

  ParentWindow parent_;
};

TEST_F(WebViewFakeRuntime, CreationSetsTheBrowserUpInOrderAndDestroyGivesEverythingBack) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  HWND widget = static_cast<HWND>(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET));
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(GetParent(widget), parent_.handle());
  wchar_t class_name[64] = {};
  GetClassNameW(widget, class_name, 64);
  EXPECT_EQ(std::wstring(class_name), L"webview_widget");
  RECT client{};
  GetClientRect(widget, &client);
  EXPECT_EQ(client.right, 0);
  EXPECT_EQ(client.bottom, 0);
  EXPECT_EQ(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW), parent_.handle());
  EXPECT_NE(webview_get_native_handle(w, WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER), nullptr);

  const std::vector<std::string> log = runtime_log();
  ASSERT_FALSE(log.empty());
  // No browser folder, no options; the profile lives under the roaming
  // application data, named after the program.
  EXPECT_TRUE(starts_with(log[0], "CreateCoreWebView2EnvironmentWithOptions <null> ")) << log[0];
  EXPECT_NE(log[0].find("\\webview_fake_runtime_tests.exe <null>"), std::string::npos) << log[0];
  int at = 1;
  for (const std::string& step :
       {"CreateCoreWebView2Controller " + hwnd_text(widget), std::string("get_CoreWebView2"),
        std::string("get_Settings"), std::string("put_IsStatusBarEnabled 0"), std::string("put_AreDevToolsEnabled 0"),
        std::string("put_AreDefaultScriptDialogsEnabled 1"), std::string("put_IsWebMessageEnabled 1"),
        std::string("add_WebMessageReceived"), std::string("AddScriptToExecuteOnDocumentCreated "),
        std::string("put_IsVisible 1"), std::string("put_Bounds 0 0 0 0")}) {
    const int found = find_entry(log, step, at);
    EXPECT_GE(found, at) << "missing or out of order: " << step;
    at = found < 0 ? at : found + 1;
  }
  const int script = find_entry(log, "AddScriptToExecuteOnDocumentCreated ");
  ASSERT_GE(script, 0);
  EXPECT_NE(log[static_cast<std::size_t>(script)].find("window.chrome.webview.postMessage"), std::string::npos)
      << "the document script carries the bridge";

  // The browser follows the widget's client area.
  MoveWindow(widget, 5, 6, 300, 200, TRUE);
  EXPECT_EQ(runtime_log().back(), "put_Bounds 0 0 300 200");

  fake_runtime_clear_log();
  EXPECT_EQ(webview_navigate(w, "https://127.0.0.1:8443/chat?x=\xC3\xBC"), WEBVIEW_ERROR_OK);
  EXPECT_EQ(webview_navigate(w, ""), WEBVIEW_ERROR_OK);
  EXPECT_EQ(webview_navigate(w, nullptr), WEBVIEW_ERROR_OK);
  EXPECT_EQ(runtime_log(), (std::vector<std::string>{"Navigate https://127.0.0.1:8443/chat?x=\xC3\xBC",
                                                     "Navigate about:blank", "Navigate about:blank"}));

  fake_runtime_clear_log();
  EXPECT_EQ(webview_destroy(w), WEBVIEW_ERROR_OK);
  EXPECT_EQ(runtime_log(), (std::vector<std::string>{"remove_WebMessageReceived 7", "Close"}));
  EXPECT_FALSE(IsWindow(widget));
  EXPECT_TRUE(parent_.children().empty());
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, DeveloperToolsFollowTheDebugFlag) {
  for (int debug : {1, 0, 1}) {
    fake_runtime_clear_log();
    webview_t w = create(debug);
    ASSERT_NE(w, nullptr);
    const std::vector<std::string> log = runtime_log();
    EXPECT_GE(find_entry(log, "put_AreDevToolsEnabled " + std::to_string(debug)), 0) << "debug " << debug;
    EXPECT_EQ(find_entry(log, "put_AreDevToolsEnabled " + std::to_string(1 - debug)), -1) << "debug " << debug;
    webview_destroy(w);
    EXPECT_EQ(fake_runtime_live_objects(), 0);
  }
}

TEST_F(WebViewFakeRuntime, PageCallsReachTheBindingFromTheMessageLoopAndRepliesGoBack) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  pump_for(50ms);
  std::vector<Call> calls;
  fake_runtime_clear_log();
  ASSERT_EQ(webview_bind(w, "add", record_call, &calls), WEBVIEW_ERROR_OK);
  pump_for(50ms);
  // The new document script replaces the first one.
  const std::vector<std::string> after_bind = runtime_log();
  EXPECT_GE(find_entry(after_bind, "RemoveScriptToExecuteOnDocumentCreated script-1"), 0);
  const int added = find_entry(after_bind, "AddScriptToExecuteOnDocumentCreated ");
  ASSERT_GE(added, 0);
  EXPECT_NE(after_bind[static_cast<std::size_t>(added)].find("\"add\""), std::string::npos);

  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"c1","method":"add","params":[1,"\u00fc"]})"), 1);
  EXPECT_TRUE(calls.empty()) << "never inside the page's call";
  ASSERT_TRUE(pump_until([&] { return !calls.empty(); }, 5s));
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].id, "c1");
  EXPECT_EQ(calls[0].request, R"([1,"\u00fc"])");

  fake_runtime_clear_log();
  EXPECT_EQ(webview_return(w, "c1", 0, "42"), WEBVIEW_ERROR_OK);
  const std::vector<std::string> after_return = runtime_log();
  const int reply = find_entry(after_return, "ExecuteScript ");
  ASSERT_GE(reply, 0);
  EXPECT_NE(after_return[static_cast<std::size_t>(reply)].find("\"c1\""), std::string::npos);
  EXPECT_NE(after_return[static_cast<std::size_t>(reply)].find("42"), std::string::npos);

  // Not an envelope: ignored.
  ASSERT_EQ(fake_runtime_post_message(L"hello"), 1);
  pump_for(100ms);
  EXPECT_EQ(calls.size(), 1u);

  webview_destroy(w);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

TEST_F(WebViewFakeRuntime, QueuedCallsAreDroppedByUnbindAndByDestroy) {
  webview_t w = create(0);
  ASSERT_NE(w, nullptr);
  std::vector<Call> calls;
  ASSERT_EQ(webview_bind(w, "f", record_call, &calls), WEBVIEW_ERROR_OK);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"1","method":"f","params":[]})"), 1);
  ASSERT_EQ(webview_unbind(w, "f"), WEBVIEW_ERROR_OK);
  pump_for(200ms);
  EXPECT_TRUE(calls.empty());

  ASSERT_EQ(webview_bind(w, "f", record_call, &calls), WEBVIEW_ERROR_OK);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"2","method":"f","params":[]})"), 1);
  ASSERT_EQ(fake_runtime_post_message(LR"({"id":"3","method":"f","params":[]})"), 1);
  EXPECT_EQ(webview_destroy(w), WEBVIEW_ERROR_OK);
  pump_for(200ms);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(fake_runtime_live_objects(), 0);
  EXPECT_EQ(fake_runtime_post_message(LR"({"id":"4","method":"f","params":[]})"), 0) << "handler gone";
}

TEST_F(WebViewFakeRuntime, FailedCreationReturnsNullAndLeavesNothing) {
  for (const char* step : {"environment", "controller"}) {
    fake_runtime_fail(step);
    EXPECT_EQ(create(0), nullptr) << step;
    EXPECT_TRUE(parent_.children().empty()) << step;
    pump_for(50ms);
    EXPECT_EQ(fake_runtime_live_objects(), 0) << step;
  }
  fake_runtime_fail(nullptr);
  for (int round = 0; round < 3; ++round) {
    webview_t w = create(0);
    ASSERT_NE(w, nullptr) << round;
    webview_destroy(w);
    EXPECT_TRUE(parent_.children().empty()) << round;
  }
  pump_for(50ms);
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

}  // namespace
}  // namespace velto::webview
