// The engine in a real GtkWindow on the test display, showing pages of the
// local test server. Page script drives the bindings; a second binding,
// `report`, brings each outcome back. Every wait runs the main loop with a
// deadline.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "Desktop.h"
#include "PageSupport.h"
#include "PageTest.h"
#include "WebView/webview.h"

namespace {

using namespace std::chrono_literals;
using velto::testing::files_under;
using velto::testing::pump_for;
using velto::testing::pump_until;
using velto::testing::server_url;

class WebViewGtk : public velto::testing::PageTest {
 public:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(PageTest::SetUp());
    gtk_widget_show_all(window_);
    open_view();
  }

  void open_view() {
    ASSERT_NO_FATAL_FAILURE(create_view());
    ASSERT_NE(widget_, nullptr);
    g_signal_connect(webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(widget_)),
                     "script-message-received::velto_webview", G_CALLBACK(on_page_message), this);
    bind_report();
  }

  void evaluate(const std::string& script) { velto::testing::evaluate(WEBKIT_WEB_VIEW(widget_), script); }

  // Sees each page message right after the engine has queued it.
  static void on_page_message(WebKitUserContentManager*, WebKitJavascriptResult* result, gpointer self) {
    auto* test = static_cast<WebViewGtk*>(self);
    char* text = jsc_value_to_string(webkit_javascript_result_get_js_value(result));
    // A copy: the handler may replace itself.
    if (const auto handler = test->on_message) {
      handler(text);
    }
    g_free(text);
  }

  std::function<void(const std::string&)> on_message;

  // `answer`: records its requests and replies with the given status and text.
  struct Answer {
    explicit Answer(WebViewGtk* owner) : test(owner) {}
    WebViewGtk* test;
    int status = 0;
    std::string result;
    std::vector<std::string> requests;
  };
  static void on_answer(const char* id, const char* request, void* arg) {
    auto* answer = static_cast<Answer*>(arg);
    answer->requests.emplace_back(request);
    webview_return(answer->test->view_, id, answer->status, answer->result.c_str());
  }
};

TEST_F(WebViewGtk, CreatesLoadsAndNavigates) {
  // Handles: the window around the widget; the widget is the browser.
  EXPECT_EQ(webview_get_native_handle(view_, WEBVIEW_NATIVE_HANDLE_KIND_UI_WINDOW), window_);
  EXPECT_EQ(webview_get_native_handle(view_, WEBVIEW_NATIVE_HANDLE_KIND_BROWSER_CONTROLLER), widget_);
  EXPECT_TRUE(WEBKIT_IS_WEB_VIEW(widget_));
  EXPECT_EQ(gtk_widget_get_parent(widget_), fixed_);

  // No parent, no browser; no instance, no operation.
  GtkWidget* none = nullptr;
  EXPECT_EQ(webview_create(0, nullptr), nullptr);
  EXPECT_EQ(webview_create(0, &none), nullptr);
  EXPECT_EQ(webview_get_native_handle(nullptr, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET), nullptr);
  EXPECT_EQ(webview_navigate(nullptr, "about:blank"), WEBVIEW_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(webview_bind(nullptr, "x", on_report, nullptr), WEBVIEW_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(webview_bind(view_, nullptr, on_report, nullptr), WEBVIEW_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(webview_unbind(nullptr, "x"), WEBVIEW_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(webview_return(nullptr, "1", 0, ""), WEBVIEW_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(webview_destroy(nullptr), WEBVIEW_ERROR_INVALID_ARGUMENT);

  // The page loads and its own script reaches the server.
  const std::string url = server_url("/test/bindings");
  ASSERT_TRUE(load(url.c_str()));
  EXPECT_EQ(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(widget_)), url);
  EXPECT_TRUE(velto::testing::beacon_seen("load", "bindings"));

  ASSERT_TRUE(load(""));
  EXPECT_STREQ(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(widget_)), "about:blank");
  ASSERT_TRUE(load(url.c_str()));
  ASSERT_TRUE(load(nullptr));
  EXPECT_STREQ(webkit_web_view_get_uri(WEBKIT_WEB_VIEW(widget_)), "about:blank");
}

TEST_F(WebViewGtk, BindingsSettleThePagePromises) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  Answer answer{this};
  ASSERT_EQ(webview_bind(view_, "answer", on_answer, &answer), WEBVIEW_ERROR_OK);
  EXPECT_EQ(webview_bind(view_, "answer", on_answer, &answer), WEBVIEW_ERROR_DUPLICATE);
  EXPECT_EQ(webview_unbind(view_, "never_bound"), WEBVIEW_ERROR_NOT_FOUND);

  struct Case {
    int status;
    std::string result;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {0, "", R"(["ok","undefined"])"},
      {0, "42", R"(["ok","42"])"},
      {0, R"("x")", R"(["ok","\"x\""])"},
      {0, R"({"a":[1,null]})", R"(["ok","{\"a\":[1,null]}"])"},
      {0, "bareword", R"(["err","Error: Failed to parse binding result as JSON"])"},
      {1, R"("refused")", R"(["err","\"refused\""])"},
      {1, "bareword", R"(["err","Error: Failed to parse binding result as JSON"])"},
      // Text the page could mistake for script stays text.
      {0, "\"\xE2\x80\xA8</script>\\\"\"",
       R"(["ok","\")"
       "\xE2\x80\xA8"
       R"(</script>\\\"\""])"},
  };
  for (const Case& c : cases) {
    answer.status = c.status;
    answer.result = c.result;
    EXPECT_EQ(settle("answer()"), c.outcome) << c.result;
  }

  // The request is the JSON array of the arguments, text as the page had it.
  answer.status = 0;
  answer.result = "";
  answer.requests.clear();
  EXPECT_EQ(settle("answer()"), R"(["ok","undefined"])");
  EXPECT_EQ(settle(R"(answer("Привет, мир", "😀", 1.5, {"k": [true, null]}))"), R"(["ok","undefined"])");
  ASSERT_EQ(answer.requests.size(), 2u);
  EXPECT_EQ(answer.requests[0], "[]");
  EXPECT_EQ(answer.requests[1], R"(["Привет, мир","😀",1.5,{"k":[true,null]}])");

  // Bindings made before a load are there in the next page too.
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  EXPECT_EQ(settle("typeof answer"), R"(["ok","\"function\""])");
}

TEST_F(WebViewGtk, PageGlobalsAndUnbinding) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  Answer owned{this};
  // The page's own function stays, now and in later pages.
  ASSERT_EQ(webview_bind(view_, "page_owned", on_answer, &owned), WEBVIEW_ERROR_OK);
  EXPECT_EQ(settle("page_owned()"), R"(["ok","\"page\""])");
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  EXPECT_EQ(settle("page_owned()"), R"(["ok","\"page\""])");
  EXPECT_TRUE(owned.requests.empty());

  Answer temp{this};
  ASSERT_EQ(webview_bind(view_, "temp", on_answer, &temp), WEBVIEW_ERROR_OK);
  EXPECT_EQ(settle("typeof temp"), R"(["ok","\"function\""])");
  // Kept before removal, called after it: refused, never delivered.
  evaluate("window.kept = temp;");
  ASSERT_EQ(webview_unbind(view_, "temp"), WEBVIEW_ERROR_OK);
  EXPECT_EQ(settle("typeof temp"), R"(["ok","\"undefined\""])");
  EXPECT_EQ(settle("kept()"), R"(["err","\"binding removed\""])");
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  EXPECT_EQ(settle("typeof temp"), R"(["ok","\"undefined\""])");
  EXPECT_TRUE(temp.requests.empty());

  // The name can be bound again.
  ASSERT_EQ(webview_bind(view_, "temp", on_answer, &temp), WEBVIEW_ERROR_OK);
  EXPECT_EQ(settle("temp(7)"), R"(["ok","undefined"])");
  EXPECT_EQ(temp.requests, std::vector<std::string>{"[7]"});
}

TEST_F(WebViewGtk, QueuedCallsNeverReachARemovedBinding) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  Answer old_answer{this};
  Answer new_answer{this};
  ASSERT_EQ(webview_bind(view_, "victim", on_answer, &old_answer), WEBVIEW_ERROR_OK);

  // Removed while its call waits in the queue.
  on_message = [&](const std::string& message) {
    if (message.find(R"("method":"victim")") != std::string::npos) {
      webview_unbind(view_, "victim");
    }
  };
  EXPECT_EQ(settle("victim(1)"), R"(["err","\"binding removed\""])");
  EXPECT_TRUE(old_answer.requests.empty());

  // Replaced while its call waits: neither function sees it.
  ASSERT_EQ(webview_bind(view_, "victim", on_answer, &old_answer), WEBVIEW_ERROR_OK);
  on_message = [&](const std::string& message) {
    if (message.find(R"("method":"victim")") != std::string::npos) {
      webview_unbind(view_, "victim");
      webview_bind(view_, "victim", on_answer, &new_answer);
    }
  };
  EXPECT_EQ(settle("victim(2)"), R"(["err","\"binding removed\""])");
  on_message = nullptr;
  EXPECT_TRUE(old_answer.requests.empty());
  EXPECT_TRUE(new_answer.requests.empty());
  // Later calls reach the new one.
  EXPECT_EQ(settle("victim(3)"), R"(["ok","undefined"])");
  EXPECT_EQ(new_answer.requests, std::vector<std::string>{"[3]"});
}

TEST_F(WebViewGtk, DestroyDropsQueuedCalls) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  Answer victim{this};
  ASSERT_EQ(webview_bind(view_, "victim", on_answer, &victim), WEBVIEW_ERROR_OK);
  // The first call's arrival schedules the destruction ahead of the queue.
  bool scheduled = false;
  on_message = [&](const std::string&) {
    if (std::exchange(scheduled, true)) {
      return;
    }
    g_idle_add_full(
        G_PRIORITY_HIGH - 10,
        [](gpointer self) {
          auto* test = static_cast<WebViewGtk*>(self);
          test->close_view();
          return gboolean{G_SOURCE_REMOVE};
        },
        this, nullptr);
  };
  evaluate("for (var i = 0; i < 100; ++i) victim(i);");
  ASSERT_TRUE(pump_until([&] { return view_ == nullptr; }, 10s));
  pump_for(300ms);
  EXPECT_TRUE(victim.requests.empty());
}

TEST_F(WebViewGtk, DestroyInsideABoundFunction) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  struct Killer {
    WebViewGtk* test;
    int calls;
  } killer{this, 0};
  ASSERT_EQ(webview_bind(
                view_, "killer",
                [](const char*, const char*, void* arg) {
                  auto* k = static_cast<Killer*>(arg);
                  if (++k->calls == 1) {
                    k->test->close_view();
                  }
                },
                &killer),
            WEBVIEW_ERROR_OK);
  evaluate("for (var i = 0; i < 50; ++i) killer(i);");
  ASSERT_TRUE(pump_until([&] { return view_ == nullptr; }, 10s));
  pump_for(300ms);
  EXPECT_EQ(killer.calls, 1);
}

TEST_F(WebViewGtk, WindowClosedBeforeTheEngine) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  Answer answer{this};
  ASSERT_EQ(webview_bind(view_, "answer", on_answer, &answer), WEBVIEW_ERROR_OK);
  evaluate("for (var i = 0; i < 20; ++i) answer(i);");
  gtk_widget_destroy(window_);
  window_ = nullptr;
  // The engine outlives its widget: calls still arrive, answers go nowhere.
  EXPECT_EQ(webview_navigate(view_, "about:blank"), WEBVIEW_ERROR_OK);
  EXPECT_EQ(webview_unbind(view_, "answer"), WEBVIEW_ERROR_OK);
  pump_for(300ms);
  close_view();
  EXPECT_TRUE(answer.requests.empty());
}

TEST_F(WebViewGtk, FloodIsAnsweredInOrder) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  struct Echo {
    WebViewGtk* test;
    std::vector<std::string> requests;
  } echo{this, {}};
  ASSERT_EQ(webview_bind(
                view_, "echo",
                [](const char* id, const char* request, void* arg) {
                  auto* e = static_cast<Echo*>(arg);
                  e->requests.emplace_back(request);
                  webview_return(e->test->view_, id, 0, request);
                },
                &echo),
            WEBVIEW_ERROR_OK);
  const std::string outcome = settle(R"((function () {
      var got = [], all = [];
      for (var i = 0; i < 10000; ++i) all.push(echo(i).then(function (v) { got.push(v[0]); }));
      return Promise.all(all).then(function () {
        for (var i = 0; i < got.length; ++i) if (got[i] !== i) return "out of order at " + i;
        return got.length;
      });
    })())",
                                     120s);
  EXPECT_EQ(outcome, R"(["ok","10000"])");
  ASSERT_EQ(echo.requests.size(), 10000u);
  for (std::size_t i = 0; i < echo.requests.size(); ++i) {
    ASSERT_EQ(echo.requests[i], "[" + std::to_string(i) + "]");
  }
}

// A binding that runs a nested main loop (a modal dialog): answers given
// before it reach the page during that loop, although the answers to a
// burst of calls otherwise go out together after the burst; and calls that
// wait meanwhile run inside that loop, as window messages would.
TEST_F(WebViewGtk, BindingsThatRunANestedLoop) {
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  Answer quick{this};
  quick.result = "1";
  ASSERT_EQ(webview_bind(view_, "quick", on_answer, &quick), WEBVIEW_ERROR_OK);
  struct Modal {
    WebViewGtk* test;
    std::function<bool()> until;
    bool ended_by_condition = false;
  } modal{this, nullptr};
  ASSERT_EQ(webview_bind(
                view_, "modal",
                [](const char* id, const char*, void* arg) {
                  auto* m = static_cast<Modal*>(arg);
                  m->ended_by_condition = pump_until(m->until, 5s);
                  webview_return(m->test->view_, id, 0, "");
                },
                &modal),
            WEBVIEW_ERROR_OK);
  // Keeps the program busy at the first call of each burst, so that the
  // rest of the burst is waiting when the queue runs.
  bool slowed = false;
  on_message = [&](const std::string&) {
    if (!std::exchange(slowed, true)) {
      std::this_thread::sleep_for(200ms);
    }
  };

  auto* web_view = WEBKIT_WEB_VIEW(widget_);
  modal.until = [&] {
    const char* title = webkit_web_view_get_title(web_view);
    return title && std::string_view(title) == "quick settled";
  };
  EXPECT_EQ(settle(R"((function () {
      var first = quick().then(function () { document.title = "quick settled"; });
      return Promise.all([first, modal()]).then(function () { return "done"; });
    })())"),
            R"(["ok","\"done\""])");
  EXPECT_TRUE(modal.ended_by_condition) << "the answer before the nested loop was held back";

  slowed = false;
  quick.requests.clear();
  modal.until = [&] { return !quick.requests.empty(); };
  EXPECT_EQ(settle(R"(Promise.all([modal(), quick()]).then(function () { return "done"; }))"), R"(["ok","\"done\""])");
  EXPECT_TRUE(modal.ended_by_condition) << "the waiting call did not run inside the nested loop";
  on_message = nullptr;
  EXPECT_EQ(quick.requests.size(), 1u);
}

TEST_F(WebViewGtk, DataGoesToTheNamedDirectories) {
  const velto::testing::TempDir dirs;
  const std::string data = dirs.path() + "/user data";
  const std::string cache = dirs.path() + "/disk cache";
  close_view();
  setenv("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS",
         ("--no-first-run --user-data-dir=\"" + data + "\" --disk-cache-dir=\"" + cache + "\"").c_str(), 1);
  open_view();
  unsetenv("WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS");
  ASSERT_TRUE(load(server_url("/test/bindings").c_str()));
  EXPECT_EQ(settle("localStorage.getItem('velto_test')"), R"(["ok","\"stored\""])");
  EXPECT_TRUE(pump_until([&] { return files_under(data) > 0; }, 15s)) << data;
  EXPECT_TRUE(pump_until([&] { return files_under(cache) > 0; }, 15s)) << cache;
  close_view();
}

}  // namespace
