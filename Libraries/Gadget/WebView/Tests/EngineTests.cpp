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

}  // namespace
}  // namespace velto::webview
