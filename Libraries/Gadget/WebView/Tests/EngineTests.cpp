// The portable engine against a backend that records what it is asked to
// do: how answers reach the page, alone or held for a batch.

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Engine.h"

namespace velto::webview {
namespace {

class RecordingEngine final : public Engine {
 public:
  using Engine::hold_replies;
  using Engine::LoadFailure;
  using Engine::navigation_requested;
  using Engine::network_back;
  using Engine::own_page;
  using Engine::page_failed;
  using Engine::page_loaded;
  using Engine::page_process_gone;
  using Engine::on_page_message;
  using Engine::release_replies;
  using Engine::send_replies;
  using Engine::shut_down;

  [[nodiscard]] void* native_handle(webview_native_handle_kind_t) const noexcept override { return nullptr; }

  // Everything sent to the page, in order: "eval:<script>" or "load:<url>".
  std::vector<std::string> sent;
  std::vector<std::function<void()>> tasks;
  int waiting_calls = 0;

  // Only the answers, without the scripts that define bindings.
  [[nodiscard]] std::vector<std::string> answers() const {
    std::vector<std::string> found;
    for (const std::string& entry : sent) {
      if (entry.find("settle(") != std::string::npos) {
        found.push_back(entry);
      }
    }
    return found;
  }

  void run_tasks() {
    auto now = std::exchange(tasks, {});
    for (auto& task : now) {
      task();
    }
  }

 protected:
  [[nodiscard]] std::string_view post_function() const noexcept override { return "(function (m) {})"; }
  void load(const std::string& url) override { sent.push_back("load:" + url); }
  void set_document_script(const std::string&) override {}
  void evaluate(const std::string& script) override { sent.push_back("eval:" + script); }
  void post_task(std::function<void()> task) override { tasks.push_back(std::move(task)); }
  void replies_waiting() override { ++waiting_calls; }
  bool hand_over(const std::string& url) override {
    sent.push_back("hand-over:" + url);
    return true;
  }
  void show_page(const std::string& html) override {
    const auto at = html.find("velto-own-page\" content=\"");
    sent.push_back("page:" + (at == std::string::npos ? std::string("?") : html.substr(at + 25, html.find('"', at + 25) - at - 25)));
  }
  void post_delayed(std::chrono::milliseconds delay, std::function<void()> task) override {
    timers.emplace_back(delay, std::move(task));
  }

 public:
  std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> timers;

  // Runs the timers due so far; answers their delays.
  std::vector<long long> fire_timers() {
    std::vector<long long> delays;
    auto due = std::exchange(timers, {});
    for (auto& [delay, task] : due) {
      delays.push_back(delay.count());
      task();
    }
    return delays;
  }
};

TEST(EngineReplies, OneAnswerIsOneGuardedStatement) {
  RecordingEngine engine;
  ASSERT_EQ(engine.resolve("p-1", 0, "\"x\""), WEBVIEW_ERROR_OK);
  ASSERT_EQ(engine.resolve("p-2", 1, ""), WEBVIEW_ERROR_OK);
  EXPECT_EQ(engine.sent,
            (std::vector<std::string>{R"(eval:window.__velto_webview&&__velto_webview.settle("p-1",0,"\"x\""))",
                                      R"(eval:window.__velto_webview&&__velto_webview.settle("p-2",1,""))"}));
  EXPECT_EQ(engine.resolve("", 0, ""), WEBVIEW_ERROR_INVALID_ARGUMENT);
  EXPECT_EQ(engine.waiting_calls, 0);
}

TEST(EngineReplies, HeldAnswersGoOutAsOneScriptInOrder) {
  RecordingEngine engine;
  engine.hold_replies();
  engine.resolve("p-1", 0, "1");
  engine.resolve("p-2", 1, "\"no\"");
  engine.resolve("p-3", 0, "");
  EXPECT_TRUE(engine.sent.empty());
  EXPECT_EQ(engine.waiting_calls, 1) << "the backend hears once that answers wait";

  // Sending keeps holding.
  engine.send_replies();
  ASSERT_EQ(engine.sent.size(), 1u);
  EXPECT_EQ(engine.sent[0], R"(eval:if(window.__velto_webview){__velto_webview.settle("p-1",0,"1");)"
                            R"(__velto_webview.settle("p-2",1,"\"no\"");__velto_webview.settle("p-3",0,"");})");
  engine.resolve("p-4", 0, "4");
  EXPECT_EQ(engine.sent.size(), 1u);
  EXPECT_EQ(engine.waiting_calls, 2);

  engine.release_replies();
  ASSERT_EQ(engine.sent.size(), 2u);
  EXPECT_EQ(engine.sent[1], R"(eval:if(window.__velto_webview){__velto_webview.settle("p-4",0,"4");})");
  // Released: nothing left, and the next answer goes out at once.
  engine.release_replies();
  engine.resolve("p-5", 0, "5");
  ASSERT_EQ(engine.sent.size(), 3u);
  EXPECT_EQ(engine.sent[2], R"(eval:window.__velto_webview&&__velto_webview.settle("p-5",0,"5"))");
}

TEST(EngineReplies, EverythingElseSendsHeldAnswersFirst) {
  RecordingEngine engine;
  const webview_bind_fn_t ignore = [](const char*, const char*, void*) {};

  engine.hold_replies();
  engine.resolve("p-1", 0, "1");
  ASSERT_EQ(engine.navigate("https://example.invalid/"), WEBVIEW_ERROR_OK);
  ASSERT_EQ(engine.sent.size(), 2u);
  EXPECT_NE(engine.sent[0].find(R"(settle("p-1",0,"1"))"), std::string::npos);
  EXPECT_EQ(engine.sent[1], "load:https://example.invalid/");

  engine.resolve("p-2", 0, "2");
  ASSERT_EQ(engine.bind("late", ignore, nullptr), WEBVIEW_ERROR_OK);
  ASSERT_GE(engine.sent.size(), 4u);
  EXPECT_NE(engine.sent[2].find(R"(settle("p-2",0,"2"))"), std::string::npos);
  EXPECT_NE(engine.sent[3].find("define(\"late\")"), std::string::npos);

  engine.resolve("p-3", 0, "3");
  const std::size_t before = engine.sent.size();
  ASSERT_EQ(engine.unbind("late"), WEBVIEW_ERROR_OK);
  ASSERT_EQ(engine.sent.size(), before + 2);
  EXPECT_NE(engine.sent[before].find(R"(settle("p-3",0,"3"))"), std::string::npos);
  EXPECT_NE(engine.sent[before + 1].find("remove(\"late\")"), std::string::npos);
}

TEST(EngineReplies, HeldAnswersAreBoundedAndDroppedAtShutDown) {
  RecordingEngine engine;
  engine.hold_replies();
  const std::string big(std::size_t{600} * 1024, 'a');
  engine.resolve("p-1", 0, big);
  EXPECT_TRUE(engine.sent.empty());
  // Over a mebibyte held: out at once, still holding afterwards.
  engine.resolve("p-2", 0, big);
  ASSERT_EQ(engine.sent.size(), 1u);
  EXPECT_NE(engine.sent[0].find(R"("p-2")"), std::string::npos);
  engine.resolve("p-3", 0, "3");
  EXPECT_EQ(engine.sent.size(), 1u);

  engine.shut_down();
  engine.release_replies();
  EXPECT_EQ(engine.sent.size(), 1u) << "answers held at shut-down are dropped with the page";
}

// Page calls through the queue: a call for a binding that is gone is
// refused, and that refusal is held like any answer.
TEST(EngineReplies, RefusalsOfABatchAreHeldToo) {
  RecordingEngine engine;
  struct Seen {
    RecordingEngine* engine;
    std::vector<std::string> requests;
  } seen{&engine, {}};
  const webview_bind_fn_t echo = [](const char* id, const char* request, void* arg) {
    auto* s = static_cast<Seen*>(arg);
    s->requests.emplace_back(request);
    s->engine->resolve(id, 0, request);
  };
  ASSERT_EQ(engine.bind("echo", echo, &seen), WEBVIEW_ERROR_OK);
  engine.sent.clear();

  engine.on_page_message(R"({"id":"p-1","method":"echo","params":[1]})");
  engine.on_page_message(R"({"id":"p-2","method":"gone","params":[]})");
  engine.on_page_message(R"({"id":"p-3","method":"echo","params":[3]})");
  engine.on_page_message("not an envelope");
  ASSERT_EQ(engine.tasks.size(), 3u);

  engine.hold_replies();
  engine.run_tasks();
  EXPECT_TRUE(engine.sent.empty());
  engine.release_replies();
  EXPECT_EQ(seen.requests, (std::vector<std::string>{"[1]", "[3]"}));
  EXPECT_EQ(engine.answers(),
            (std::vector<std::string>{R"(eval:if(window.__velto_webview){__velto_webview.settle("p-1",0,"[1]");)"
                                      R"(__velto_webview.settle("p-2",1,"\"binding removed\"");)"
                                      R"(__velto_webview.settle("p-3",0,"[3]");})"}));
}


// ---- A view with a home

using Failure = RecordingEngine::LoadFailure;

TEST(EngineHome, WithoutAHomeNothingIsRetriedOrHandedOver) {
  RecordingEngine engine;
  engine.page_failed(Failure::Network);
  engine.page_process_gone();
  EXPECT_EQ(engine.navigation_requested({"https://example.org/", true, true, true}), NavigationVerdict::Refuse);
  EXPECT_TRUE(engine.sent.empty());
  EXPECT_TRUE(engine.timers.empty());
  EXPECT_EQ(engine.set_home("file:///etc/passwd"), WEBVIEW_ERROR_INVALID_ARGUMENT);
}

TEST(EngineHome, LinksElsewhereGoToTheDesktopAndTheViewStays) {
  RecordingEngine engine;
  ASSERT_EQ(engine.set_home("https://localhost:8443/chat"), WEBVIEW_ERROR_OK);
  EXPECT_EQ(engine.navigation_requested({"https://example.org/a", false, true, true}), NavigationVerdict::HandOver);
  EXPECT_EQ(engine.navigation_requested({"javascript:alert(1)", true, true, true}), NavigationVerdict::Refuse);
  EXPECT_EQ(engine.navigation_requested({"https://localhost:8443/chat/x", false, true, true}),
            NavigationVerdict::Stay);
  EXPECT_EQ(engine.sent, (std::vector<std::string>{"hand-over:https://example.org/a"}));
}

TEST(EngineHome, AFailedLoadShowsTheOfflinePageAndRetriesWithLongerWaits) {
  RecordingEngine engine;
  ASSERT_EQ(engine.set_home("https://localhost:8443/chat"), WEBVIEW_ERROR_OK);
  engine.page_failed(Failure::Network);
  EXPECT_EQ(engine.own_page(), OwnPage::Offline);
  EXPECT_EQ(engine.fire_timers(), (std::vector<long long>{2000}));
  engine.page_failed(Failure::Network);
  EXPECT_EQ(engine.fire_timers(), (std::vector<long long>{4000}));
  EXPECT_EQ(engine.sent, (std::vector<std::string>{"page:offline", "load:https://localhost:8443/chat", "page:offline",
                                                   "load:https://localhost:8443/chat"}));
  // Back in the chat: the next outage starts with a short wait again.
  engine.page_loaded();
  EXPECT_FALSE(engine.own_page());
  engine.page_failed(Failure::Network);
  EXPECT_EQ(engine.fire_timers(), (std::vector<long long>{2000}));
}

TEST(EngineHome, TheNetworkComingBackRetriesAtOnceAndOnlyOnce) {
  RecordingEngine engine;
  ASSERT_EQ(engine.set_home("https://localhost:8443/chat"), WEBVIEW_ERROR_OK);
  engine.page_failed(Failure::Network);
  engine.sent.clear();
  engine.network_back();
  engine.network_back();
  // The timer that was pending does nothing any more.
  engine.fire_timers();
  EXPECT_EQ(engine.sent, (std::vector<std::string>{"load:https://localhost:8443/chat"}));
  // Nothing to retry while the chat shows.
  engine.page_loaded();
  engine.network_back();
  EXPECT_EQ(engine.sent.size(), 1U);
}

TEST(EngineHome, ACertificateFailureIsNeverRetried) {
  RecordingEngine engine;
  ASSERT_EQ(engine.set_home("https://localhost:8443/chat"), WEBVIEW_ERROR_OK);
  engine.page_failed(Failure::Network);
  engine.page_failed(Failure::Certificate);
  engine.network_back();
  engine.fire_timers();
  EXPECT_EQ(engine.own_page(), OwnPage::Certificate);
  EXPECT_EQ(engine.sent, (std::vector<std::string>{"page:offline", "page:certificate"}));
}

TEST(EngineHome, ACrashedPageComesBackAFewTimesThenWaitsForTheUser) {
  RecordingEngine engine;
  ASSERT_EQ(engine.set_home("https://localhost:8443/chat"), WEBVIEW_ERROR_OK);
  for (int i = 0; i < CrashGuard::kLimit; ++i) {
    engine.page_process_gone();
    EXPECT_EQ(engine.fire_timers(), (std::vector<long long>{1000})) << i;
    engine.page_loaded();
  }
  engine.page_process_gone();
  EXPECT_TRUE(engine.timers.empty());
  EXPECT_EQ(engine.own_page(), OwnPage::Crashed);
  EXPECT_EQ(engine.sent.back(), "page:crashed");
  // The page's Reload button: the user's navigation home gives the page its
  // reloads back.
  EXPECT_EQ(engine.navigation_requested({"https://localhost:8443/chat", false, true, true}), NavigationVerdict::Stay);
  engine.page_process_gone();
  EXPECT_EQ(engine.fire_timers(), (std::vector<long long>{1000}));
}

TEST(EngineHome, ADestroyedEngineRunsNoPendingRetry) {
  std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> timers;
  {
    RecordingEngine engine;
    ASSERT_EQ(engine.set_home("https://localhost:8443/chat"), WEBVIEW_ERROR_OK);
    engine.page_failed(Failure::Network);
    timers = std::exchange(engine.timers, {});
    engine.shut_down();
  }
  for (auto& entry : timers) {
    entry.second();  // must not touch the engine
  }
  SUCCEED();
}

}  // namespace
}  // namespace velto::webview
