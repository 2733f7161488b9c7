// The Windows browser gadget from end to end under Wine: the real gadget
// library and the real engine, with a fake browser runtime beside the test
// program as its loader. What the runtime is asked, and in which order, is
// what a real runtime would be asked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "Core/Memory.h"
#include "Core/WinApi.h"
#include "FakeRuntime/FakeRuntime.h"
#include "Gadget/Gadget.h"
#include "Runtime/Runtime.h"
#include "System/Files.h"
#include "System/Process.h"
#include "Window/Window.h"

namespace velto {
namespace {

std::vector<std::string> runtime_log() {
  std::vector<std::string> log;
  for (int i = 0; i < fake_runtime_log_size(); ++i) {
    log.emplace_back(fake_runtime_log_entry(i));
  }
  return log;
}

// Whether `steps` appear in the log in this order (other entries between).
::testing::AssertionResult in_order(const std::vector<std::string>& steps) {
  const std::vector<std::string> log = runtime_log();
  auto at = log.begin();
  for (const std::string& step : steps) {
    at = std::find_if(at, log.end(), [&](const std::string& entry) { return entry.rfind(step, 0) == 0; });
    if (at == log.end()) {
      std::string all;
      for (const std::string& entry : log) {
        all += "\n  " + entry.substr(0, 80);
      }
      return ::testing::AssertionFailure() << "missing or out of order: " << step << "; the log:" << all;
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

void pump(int rounds = 20) {
  for (int i = 0; i < rounds; ++i) {
    static_cast<void>(window_event());
    Sleep(5);
  }
}

std::vector<std::u16string>& received() {
  static std::vector<std::u16string> calls;
  return calls;
}

char* answer_42(const char16_t* arguments) {
  received().emplace_back(arguments);
  auto* block = static_cast<char*>(memory_alloc(3));
  std::memcpy(block, "42", 3);
  return block;
}

class GadgetWebView2 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { runtime_start(); }
  static void TearDownTestSuite() { runtime_end(); }

  void SetUp() override {
    env_set(u"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
    fake_runtime_fail(nullptr);
    fake_runtime_clear_log();
    received().clear();
    ASSERT_NE(window_open(0, 50, 50, 400, 300, u"gadget", 0xCF0000), 0);
  }
  void TearDown() override {
    window_close(ANY_NUMBER);
    pump();
  }
};

TEST_F(GadgetWebView2, CreationAsksTheRuntimeInOrderAndTheBrowserFollowsTheGadget) {
  ASSERT_NE(webview_gadget_create(0, 0, 0, 400, 300), 0);
  EXPECT_TRUE(
      in_order({"CreateCoreWebView2EnvironmentWithOptions", "CreateCoreWebView2Controller", "put_IsStatusBarEnabled 0",
                "put_AreDevToolsEnabled 0", "put_Bounds 0 0 400 300", "get_CoreWebView2", "get_Settings",
                "put_AreDefaultScriptDialogsEnabled 1", "put_IsWebMessageEnabled 1", "put_IsVisible 1"}));
  EXPECT_EQ(env_get(u"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS"),
            u" --disk-cache-dir=\"" + temp_directory() + u"\\WebView2_Cache\"");

  fake_runtime_clear_log();
  gadget_resize(0, IGNORE, IGNORE, 290, 400);
  EXPECT_EQ(runtime_log().back(), "put_Bounds 0 0 290 400");
  gadget_set_text(0, u"https://localhost:8443/chat");
  gadget_set_text(0);
  EXPECT_TRUE(in_order({"Navigate https://localhost:8443/chat", "Navigate about:blank"}));

  fake_runtime_clear_log();
  window_close(0);
  pump();
  EXPECT_TRUE(in_order({"Close"}));
  EXPECT_EQ(fake_runtime_live_objects(), 0) << "the runtime's objects were not all given back";
}

TEST_F(GadgetWebView2, APageCallReachesTheBindingLaterAndIsAnswered) {
  ASSERT_NE(webview_gadget_create(0, 0, 0, 400, 300), 0);
  fake_runtime_clear_log();
  webview_gadget_bind(0, u"qx_notify_new_message", answer_42);
  EXPECT_TRUE(in_order({"AddScriptToExecuteOnDocumentCreated", "ExecuteScript"}))
      << "the function is defined for later pages and in the current one";

  ASSERT_TRUE(fake_runtime_post_message(LR"({"id":"7","method":"qx_notify_new_message","params":["Анна","hi"]})"));
  EXPECT_TRUE(received().empty()) << "the call ran inside the page's message";
  for (int i = 0; i < 100 && received().empty(); ++i) {
    pump(1);
  }
  ASSERT_EQ(received().size(), 1U);
  EXPECT_EQ(received()[0], u"[\"Анна\",\"hi\"]");
  const std::vector<std::string> log = runtime_log();
  const bool answered = std::any_of(log.begin(), log.end(), [](const std::string& entry) {
    return entry.rfind("ExecuteScript", 0) == 0 && entry.find("\"7\"") != std::string::npos &&
           entry.find("42") != std::string::npos;
  });
  EXPECT_TRUE(answered) << "call 7 was not answered with 42";
}

TEST_F(GadgetWebView2, AFailingRuntimeLeavesNoGadgetAndNothingAlive) {
  fake_runtime_fail("controller");
  EXPECT_EQ(webview_gadget_create(0, 0, 0, 400, 300), 0);
  gadget_resize(0, 0, 0, 10, 10);
  gadget_set_text(0, u"https://localhost:8443/chat");
  const std::vector<std::string> log = runtime_log();
  EXPECT_TRUE(
      std::none_of(log.begin(), log.end(), [](const std::string& entry) { return entry.rfind("Navigate", 0) == 0; }));
  EXPECT_EQ(fake_runtime_live_objects(), 0);
}

}  // namespace
}  // namespace velto
