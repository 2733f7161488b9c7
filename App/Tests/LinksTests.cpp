// Links in the chat, as a user follows them: the real client shows the local
// server's chat page; links to other sites, new windows and mail addresses
// go to the desktop's default browser (a stand-in that notes what it got),
// never local files or script, and the chat page stays where it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Desktop.h"
#include "LocalServer.h"
#include "UserDesktop.h"

namespace velto::testing {
namespace {

std::string lines(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) {
    text += item + "\n";
  }
  return text;
}

struct TestLink {
  std::string label;
  std::string kind;  // same-tab, new-tab, open (window.open), download
  std::string href;
};

// A message from someone else with `text` and the given links under it.
void post_message(const std::string& text, const std::vector<TestLink>& links = {}) {
  std::string query = "/test/message?author=Anna&text=" + url_encoded(text);
  for (const TestLink& link : links) {
    query += "&link=" + url_encoded(link.label + "|" + link.kind + "|" + link.href);
  }
  server_fetch(query);
}

class Links : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = end_to_end_unavailable()) {
      GTEST_SKIP() << *why;
    }
  }

  // Clicks and waits until the browser got `url`.
  void follow(ChatClient& client, const std::string& label, const std::string& url, int button = 1) {
    ASSERT_TRUE(client.click(label, button)) << label << " was never shown";
    EXPECT_TRUE(eventually(
        [&] {
          const auto got = desktop_.browsed();
          return !got.empty() && got.back() == url;
        },
        15s, 100ms))
        << label << ": the browser did not get " << url << "; it got:\n"
        << lines(desktop_.browsed());
  }

  UserDesktop desktop_;
};

TEST_F(Links, LinksElsewhereOpenInTheBrowserAndTheChatStays) {
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  const std::string elsewhere = "https://example.org/article?id=1&lang=ru";
  const std::string in_text = "https://example.org/news/today";
  const std::string popup = "https://example.org/popup";
  const std::string mail = "mailto:anna@example.org?subject=Hello";
  post_message("Новости: " + in_text + ", читай.",
               {{"elsewhere", "same-tab", elsewhere}, {"popup", "open", popup}, {"mail", "same-tab", mail}});

  follow(client, "elsewhere", elsewhere);
  // The chat's own links open a new window; the page's "window.open" too.
  follow(client, "text-link:" + in_text, in_text);
  follow(client, "popup", popup);
  follow(client, "mail", mail);
  EXPECT_EQ(desktop_.browsed(), (std::vector<std::string>{elsewhere, in_text, popup, mail}));

  // Still the same chat page: nothing else loaded, and it still answers.
  EXPECT_EQ(beacon_count("load"), 1U) << "another page was loaded in the view";
  EXPECT_TRUE(client.chat_answers()) << "the chat page no longer answers";
  EXPECT_EQ(client.close(), 0);
}

TEST_F(Links, TheContextMenuAndTheMiddleButtonOpenLinksInTheBrowser) {
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  const std::string open = "https://example.org/open";
  const std::string new_window = "https://example.org/new-window";
  // A middle click asks for a new window, which the chat never opens itself,
  // even for its own pages.
  const std::string own = std::string(kServer) + "/chat?room=2";
  post_message("Меню", {{"open", "same-tab", open}, {"new-window", "same-tab", new_window}, {"own", "same-tab", own}});

  ASSERT_TRUE(client.choose_from_menu("open", 1)) << "no context menu";
  EXPECT_TRUE(eventually([&] { return desktop_.browsed() == std::vector<std::string>{open}; }, 15s, 100ms))
      << "\"Open Link\" did not reach the browser";
  ASSERT_TRUE(client.choose_from_menu("new-window", 2)) << "no context menu";
  EXPECT_TRUE(eventually([&] { return desktop_.browsed().size() == 2; }, 15s, 100ms))
      << "\"Open Link in New Window\" did not reach the browser";
  follow(client, "own", own, 2);
  EXPECT_EQ(desktop_.browsed(), (std::vector<std::string>{open, new_window, own}));
  EXPECT_EQ(beacon_count("load"), 1U);
  EXPECT_TRUE(client.chat_answers());
  EXPECT_EQ(client.close(), 0);
}

TEST_F(Links, LocalFilesAndScriptNeverReachTheBrowser) {
  ChatClient client(desktop_);
  ASSERT_FALSE(client.failure()) << *client.failure();
  const std::string sentinel = "https://example.org/after";
  post_message("Не открывать", {{"file", "same-tab", "file:///etc/passwd"},
                                {"file-window", "new-tab", "file:///usr/bin/xterm"},
                                {"file-open", "open", "file:///etc/hostname"},
                                {"script", "same-tab", "javascript:void(document.title='script')"},
                                {"script-window", "new-tab", "javascript:void(document.title='window')"},
                                {"data", "new-tab", "data:text/html,<b>data</b>"},
                                {"after", "same-tab", sentinel}});
  for (const char* label : {"file", "file-window", "file-open", "script", "script-window", "data"}) {
    ASSERT_TRUE(client.click(label)) << label << " was never shown";
  }
  // Clicks are handled in order: once the last one arrived, the others have
  // been dealt with.
  follow(client, "after", sentinel);
  EXPECT_EQ(desktop_.browsed(), std::vector<std::string>{sentinel});
  EXPECT_EQ(beacon_count("load"), 1U);
  EXPECT_TRUE(client.chat_answers());
  EXPECT_EQ(client.close(), 0);
}

}  // namespace
}  // namespace velto::testing
