// Browser gadgets with the real WebKitGTK engine: a window of the window
// library on the test display is the container, the pages come from the
// local test server. Page script drives the bindings; the bound `report`
// brings each outcome back. Every wait runs the main loop with a deadline.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <malloc.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of live heap bytes (its header is not
// installed with the compiler).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "Core/Memory.h"
#include "Core/Strings.h"
#include "Desktop.h"
#include "Gadget/Gadget.h"
#include "GadgetTestSupport.h"
#include "PageSupport.h"
#include "Window/Events.h"
#include "Window/Window.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using testing::pump_for;
using testing::pump_until;
using testing::server_url;

using gadget_testing::Box;
using gadget_testing::have_display;
using gadget_testing::kWindowFlags;

constexpr char kArgumentsVariable[] = "WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS";

// What the bound functions saw: a binding carries no context of its own.
struct Seen {
  std::vector<std::string> reports;  // argument arrays of `report`, UTF-8
  std::vector<std::u16string> answer_calls;
  std::optional<std::string> answer;  // what `answer` returns; nothing: nullptr
  int first = 0;
  int second = 0;
  int gadget_one = 0;
  int gadget_two = 0;
  int page_owned = 0;
  std::vector<std::u16string> echoes;
};

Seen& seen() {
  static Seen state;
  return state;
}

// A memory block of at least `size` bytes holding `text` and its NUL.
char* block_of(const std::string& text, std::size_t size = 0) {
  auto* block = static_cast<char*>(memory_alloc(static_cast<std::intptr_t>(std::max(size, text.size() + 1))));
  if (block) {
    std::memcpy(block, text.data(), text.size());
  }
  return block;
}

char* on_report(const char16_t* arguments) {
  seen().reports.push_back(to_utf8(arguments));
  return nullptr;
}

char* on_answer(const char16_t* arguments) {
  seen().answer_calls.emplace_back(arguments);
  return seen().answer ? block_of(*seen().answer) : nullptr;
}

std::unique_ptr<testing::TempDir>& home() {
  static std::unique_ptr<testing::TempDir> dir;
  return dir;
}

// Where a widget lies in the host's parent (the window's client area), and
// its allocated size.
Box placed(GtkWidget* widget, GtkWidget* host) {
  Box box;
  GtkWidget* area = gtk_widget_get_parent(host);
  if (!area || !gtk_widget_translate_coordinates(widget, area, 0, 0, &box.x, &box.y)) {
    return {-1, -1, -1, -1};
  }
  GtkAllocation allocation{};
  gtk_widget_get_allocation(widget, &allocation);
  box.width = allocation.width;
  box.height = allocation.height;
  return box;
}

// How many colours (up to a few) the screen shows where the widget is, read
// back from the X server through its toplevel window.
[[maybe_unused]] std::size_t colours_shown(GtkWidget* widget) {
  GtkWidget* toplevel = gtk_widget_get_toplevel(widget);
  GdkWindow* window = gtk_widget_get_window(toplevel);
  int x = 0;
  int y = 0;
  if (!window || !gtk_widget_translate_coordinates(widget, toplevel, 0, 0, &x, &y)) {
    return 0;
  }
  const int width = gtk_widget_get_allocated_width(widget);
  const int height = gtk_widget_get_allocated_height(widget);
  GdkPixbuf* shot = width > 0 && height > 0 ? gdk_pixbuf_get_from_window(window, x, y, width, height) : nullptr;
  if (!shot) {
    return 0;
  }
  const guchar* pixels = gdk_pixbuf_get_pixels(shot);
  const int stride = gdk_pixbuf_get_rowstride(shot);
  const int channels = gdk_pixbuf_get_n_channels(shot);
  std::set<std::uint32_t> colours;
  for (int row = 0; row < height && colours.size() < 8; ++row) {
    for (int column = 0; column < width && colours.size() < 8; ++column) {
      const guchar* pixel = pixels + row * stride + column * channels;
      colours.insert(std::uint32_t{pixel[0]} << 16 | std::uint32_t{pixel[1]} << 8 | pixel[2]);
    }
  }
  g_object_unref(shot);
  return colours.size();
}

// Bytes the program's allocator hands out now (ASan's own count in
// sanitised builds, where freed memory waits in quarantine).
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

std::size_t resident_bytes() {
  std::ifstream statm("/proc/self/statm");
  std::size_t size = 0;
  std::size_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

// A browser gadget as the test sees it: the host it was given, the
// WebKitWebView inside (both weakly held: null once destroyed), and its
// finished loads. `report` is bound on it.
class Browser {
 public:
  explicit Browser(ObjectNumber number, int x = 0, int y = 0, int width = 400, int height = 300) : number_(number) {
    host_ = reinterpret_cast<GtkWidget*>(webview_gadget_create(number, x, y, width, height));
    if (!host_) {
      return;
    }
    g_object_add_weak_pointer(G_OBJECT(host_), reinterpret_cast<gpointer*>(&host_));
    GList* children = gtk_container_get_children(GTK_CONTAINER(host_));
    for (GList* item = children; item; item = item->next) {
      if (WEBKIT_IS_WEB_VIEW(item->data)) {
        view_ = WEBKIT_WEB_VIEW(item->data);
      }
    }
    g_list_free(children);
    if (view_) {
      g_object_add_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
      g_signal_connect(view_, "load-changed", G_CALLBACK(on_load_changed), this);
    }
    webview_gadget_bind(number, u"report", on_report);
  }

  ~Browser() {
    if (view_) {
      g_signal_handlers_disconnect_by_data(view_, this);
      g_object_remove_weak_pointer(G_OBJECT(view_), reinterpret_cast<gpointer*>(&view_));
    }
    if (host_) {
      g_object_remove_weak_pointer(G_OBJECT(host_), reinterpret_cast<gpointer*>(&host_));
    }
  }

  Browser(const Browser&) = delete;
  Browser& operator=(const Browser&) = delete;

  [[nodiscard]] GtkWidget* host() const { return host_; }
  [[nodiscard]] WebKitWebView* view() const { return view_; }
  [[nodiscard]] GtkWidget* widget() const { return GTK_WIDGET(view_); }

  // Loads through gadget_set_text and waits for the load to finish.
  bool load_url(TextView url) {
    finished_ = 0;
    gadget_set_text(number_, url);
    return pump_until([&] { return finished_ > 0; }, 60s);
  }

  // A page of the test server.
  bool load(const std::string& path) { return load_url(from_utf8(server_url(path))); }

  // The outcome of a page expression, as `report` received it.
  std::string settle(const std::string& expression, std::chrono::milliseconds timeout = 10s) {
    if (!view_) {
      return "(no browser)";
    }
    seen().reports.clear();
    testing::evaluate(view_, testing::settle_script(expression));
    if (!pump_until([] { return !seen().reports.empty(); }, timeout)) {
      return "(no report)";
    }
    return seen().reports.front();
  }

 private:
  static void on_load_changed(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_FINISHED) {
      ++static_cast<Browser*>(self)->finished_;
    }
  }

  ObjectNumber number_;
  GtkWidget* host_ = nullptr;
  WebKitWebView* view_ = nullptr;
  int finished_ = 0;
};

class GadgetWebKit : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The engine's data and the gadget's cache directory stay in the test's
    // own directory.
    home() = std::make_unique<testing::TempDir>();
    setenv("TMPDIR", home()->path().c_str(), 1);
    setenv("XDG_DATA_HOME", (home()->path() + "/data").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home()->path() + "/cache").c_str(), 1);
    unsetenv(kArgumentsVariable);
    if (!have_display()) {
      return;
    }
    gadget_testing::libraries_init();
    webview_library_init();
  }

  void SetUp() override {
    if (!have_display()) {
      GTEST_SKIP() << "DISPLAY is not set: run the gui tests through Scripts/with-display";
    }
    ASSERT_NE(std::getenv("VELTO_TEST_SERVER_PORT"), nullptr) << "run through Scripts/with-test-server";
    seen() = {};
  }

  void TearDown() override {
    if (!have_display()) {
      return;
    }
    gadget_free(ANY_NUMBER);
    window_close(ANY_NUMBER);
    pump_for(50ms);
    event_remove(-1, -1, -1, -1);
  }

  // Window 1, the gadget container.
  static void open_window() {
    ASSERT_NE(window_open(1, 100, 100, 640, 480, u"Gadgets", kWindowFlags), 0);
    pump_for(100ms);
  }
};

TEST_F(GadgetWebKit, ARealPageLoadsAndShows) {
  open_window();
  Browser browser(0, 0, 0, 400, 300);
  ASSERT_NE(browser.view(), nullptr);
  ASSERT_EQ(testing::shell("curl -s --max-time 5 '" + server_url("/test/reset") + "'"), R"({"reset": true})");
  ASSERT_TRUE(browser.load("/test/bindings"));
  EXPECT_EQ(webkit_web_view_get_uri(browser.view()), server_url("/test/bindings"));
  EXPECT_TRUE(testing::beacon_seen("load", "bindings"));
#if defined(__SANITIZE_ADDRESS__)
  // In a sanitised host process WebKit leaves the view white although the
  // page runs (the beacon above), so there is nothing to look at there.
#else
  // White page, black text: more than one colour once painted (a loaded
  // machine may take a while; the bound only matters when it never paints).
  EXPECT_TRUE(pump_until([&] { return colours_shown(browser.widget()) > 1; }, 60s));
#endif

  // An empty text is a blank page.
  ASSERT_TRUE(browser.load_url(u""));
  EXPECT_STREQ(webkit_web_view_get_uri(browser.view()), "about:blank");
}

TEST_F(GadgetWebKit, TheBrowserCoversItsHostThroughResizes) {
  open_window();
  Browser browser(3, 20, 30, 100, 100);
  ASSERT_NE(browser.view(), nullptr);
  const auto shows = [&](const Box& box) {
    return pump_until(
        [&] {
          return placed(browser.host(), browser.host()) == box && placed(browser.widget(), browser.host()) == box;
        },
        5s);
  };
  EXPECT_TRUE(shows({20, 30, 100, 100})) << placed(browser.widget(), browser.host());

  gadget_resize(3, 0, 0, 290, 400);
  EXPECT_TRUE(shows({0, 0, 290, 400})) << placed(browser.widget(), browser.host());

  gadget_resize(3, IGNORE, IGNORE, IGNORE, IGNORE);
  EXPECT_TRUE(shows({0, 0, 290, 400})) << placed(browser.widget(), browser.host());

  gadget_resize(3, 10, IGNORE, IGNORE, 200);
  EXPECT_TRUE(shows({10, 0, 290, 200})) << placed(browser.widget(), browser.host());

  gadget_resize(3, IGNORE, 40, 350, IGNORE);
  EXPECT_TRUE(shows({10, 40, 350, 200})) << placed(browser.widget(), browser.host());
}

TEST_F(GadgetWebKit, GadgetsEndWithTheirNumberAndTheirWindow) {
  // No window, no container, no gadget.
  ASSERT_EQ(gadget_container(), nullptr) << "a window of an earlier test is still open";
  EXPECT_EQ(webview_gadget_create(5, 0, 0, 100, 100), 0);

  open_window();
  auto first = std::make_unique<Browser>(0);
  ASSERT_NE(first->view(), nullptr);
  ASSERT_TRUE(first->load("/test/bindings"));
  webview_gadget_bind(0, u"first_only", [](const char16_t*) -> char* {
    ++seen().first;
    return nullptr;
  });
  EXPECT_EQ(first->settle("first_only()"), R"(["ok","undefined"])");
  EXPECT_EQ(seen().first, 1);

  // The number names the new gadget; the first browser and its bindings go.
  Browser second(0, 10, 10, 300, 300);
  ASSERT_NE(second.view(), nullptr);
  EXPECT_NE(second.view(), first->view());
  EXPECT_TRUE(pump_until([&] { return !first->view() && !first->host(); }, 30s));
  ASSERT_TRUE(second.load("/test/bindings"));
  EXPECT_EQ(second.settle("typeof first_only"), R"(["ok","\"undefined\""])");
  gadget_resize(0, 20, 20, 200, 100);
  EXPECT_TRUE(pump_until([&] { return placed(second.widget(), second.host()) == Box{20, 20, 200, 100}; }, 30s));
  EXPECT_EQ(seen().first, 1);

  // Closing the window ends the gadget and its browser.
  Browser other(2, 320, 0, 200, 200);
  ASSERT_NE(other.view(), nullptr);
  window_close(1);
  EXPECT_TRUE(pump_until([&] { return !second.view() && !second.host() && !other.view() && !other.host(); }, 30s));
  // The numbers are free: nothing reaches a browser any more.
  gadget_set_text(0, u"about:blank");
  gadget_resize(2, 0, 0, 10, 10);
  webview_gadget_bind(2, u"late", on_answer);
  EXPECT_EQ(gadget_container(), nullptr);
  EXPECT_EQ(webview_gadget_create(0, 0, 0, 100, 100), 0);
}

TEST_F(GadgetWebKit, BindingResultsSettleThePagePromise) {
  open_window();
  Browser browser(1);
  ASSERT_NE(browser.view(), nullptr);
  ASSERT_TRUE(browser.load("/test/bindings"));
  webview_gadget_bind(1, u"answer", on_answer);

  struct Case {
    std::optional<std::string> answer;
    std::string outcome;
  };
  const std::vector<Case> cases = {
      {std::nullopt, R"(["ok","undefined"])"},  // no block at all
      {"42", R"(["ok","42"])"},                 // a number, not the text "42"
      {R"("hi")", R"(["ok","\"hi\""])"},
      {"bare", R"(["err","Error: Failed to parse binding result as JSON"])"},
      {"", R"(["ok","undefined"])"},  // an empty block
  };
  for (const Case& c : cases) {
    seen().answer = c.answer;
    EXPECT_EQ(browser.settle("answer()"), c.outcome) << c.answer.value_or("(null)");
  }

  // The arguments arrive as the JSON array text, UTF-16, unchanged.
  seen().answer.reset();
  seen().answer_calls.clear();
  EXPECT_EQ(browser.settle("answer()"), R"(["ok","undefined"])");
  EXPECT_EQ(browser.settle(R"(answer("Привет, 世界 🎉", 7))"), R"(["ok","undefined"])");
  EXPECT_EQ(seen().answer_calls, (std::vector<std::u16string>{u"[]", u"[\"Привет, 世界 🎉\",7]"}));
}

TEST_F(GadgetWebKit, BindingNamesBelongToOneGadget) {
  open_window();
  Browser one(1, 0, 0, 300, 300);
  Browser two(2, 310, 0, 300, 300);
  ASSERT_NE(one.view(), nullptr);
  ASSERT_NE(two.view(), nullptr);
  ASSERT_TRUE(one.load("/test/bindings"));
  ASSERT_TRUE(two.load("/test/bindings"));

  // Bound again, the name reaches the second callback only.
  webview_gadget_bind(1, u"twice", [](const char16_t*) -> char* {
    ++seen().first;
    return nullptr;
  });
  webview_gadget_bind(1, u"twice", [](const char16_t*) -> char* {
    ++seen().second;
    return nullptr;
  });
  EXPECT_EQ(one.settle("twice()"), R"(["ok","undefined"])");
  EXPECT_EQ(seen().first, 0);
  EXPECT_EQ(seen().second, 1);

  // The same name on two gadgets: two functions.
  webview_gadget_bind(1, u"send", [](const char16_t*) -> char* {
    ++seen().gadget_one;
    return block_of("1");
  });
  webview_gadget_bind(2, u"send", [](const char16_t*) -> char* {
    ++seen().gadget_two;
    return block_of("2");
  });
  EXPECT_EQ(one.settle("send()"), R"(["ok","1"])");
  EXPECT_EQ(two.settle("send()"), R"(["ok","2"])");
  EXPECT_EQ(two.settle("send()"), R"(["ok","2"])");
  EXPECT_EQ(seen().gadget_one, 1);
  EXPECT_EQ(seen().gadget_two, 2);

  // A page's own global stays, in this page and the next.
  webview_gadget_bind(1, u"page_owned", [](const char16_t*) -> char* {
    ++seen().page_owned;
    return nullptr;
  });
  EXPECT_EQ(one.settle("page_owned()"), R"(["ok","\"page\""])");
  ASSERT_TRUE(one.load("/test/bindings"));
  EXPECT_EQ(one.settle("page_owned()"), R"(["ok","\"page\""])");
  EXPECT_EQ(seen().page_owned, 0);

  // A freed gadget's browser goes with its functions; its number binds
  // nothing.
  gadget_free(2);
  EXPECT_TRUE(pump_until([&] { return !two.view() && !two.host(); }, 30s));
  webview_gadget_bind(2, u"send", on_answer);
  EXPECT_EQ(one.settle("send()"), R"(["ok","1"])");
  EXPECT_EQ(seen().gadget_one, 2);
  EXPECT_EQ(seen().gadget_two, 2);
  EXPECT_TRUE(seen().answer_calls.empty());
}

TEST_F(GadgetWebKit, FloodIsAnsweredInOrderInBoundedMemory) {
  open_window();
  Browser browser(1);
  ASSERT_NE(browser.view(), nullptr);
  ASSERT_TRUE(browser.load("/test/bindings"));
  // Each answer is a large block, so that blocks the library failed to free
  // would show.
  constexpr std::size_t kBlockSize = 16 * 1024;
  webview_gadget_bind(1, u"echo", [](const char16_t* arguments) -> char* {
    seen().echoes.emplace_back(arguments);
    return block_of(to_utf8(arguments), kBlockSize);
  });
  const auto flood = [&](int calls) {
    std::string script = R"((function () {
      var got = [], all = [];
      for (var i = 0; i < CALLS; ++i) all.push(echo(i).then(function (v) { got.push(v[0]); }));
      return Promise.all(all).then(function () {
        for (var i = 0; i < got.length; ++i) if (got[i] !== i) return "out of order at " + i;
        return got.length;
      });
    })())";
    script.replace(script.find("CALLS"), 5, std::to_string(calls));
    return browser.settle(script, 120s);
  };
  // The first calls grow the engine's and the allocator's pools.
  EXPECT_EQ(flood(500), R"(["ok","500"])");
  pump_for(200ms);
  seen().echoes.clear();
  seen().echoes.reserve(10'000);
  const std::size_t heap_before = heap_in_use();
  const std::size_t resident_before = resident_bytes();

  EXPECT_EQ(flood(10'000), R"(["ok","10000"])");
  pump_for(200ms);
  ASSERT_EQ(seen().echoes.size(), 10'000u);
  for (std::size_t i = 0; i < seen().echoes.size(); ++i) {
    ASSERT_EQ(seen().echoes[i], u"[" + from_utf8(std::to_string(i)) + u"]");
  }
  // Unfreed answers alone would be 160 MB.
  const std::size_t heap_after = heap_in_use();
  EXPECT_LT(heap_after, heap_before + 32 * 1024 * 1024) << heap_before << " -> " << heap_after;
  const std::size_t resident_after = resident_bytes();
  EXPECT_LT(resident_after, resident_before + 512 * 1024 * 1024) << resident_before << " -> " << resident_after;
  EXPECT_EQ(browser.settle("typeof echo"), R"(["ok","\"function\""])");
}

TEST_F(GadgetWebKit, TheArgumentsVariableNamesTheEnginesDirectories) {
  open_window();
  // Unset, the gadget names the cache in the temporary directory (TMPDIR
  // ends without a separator, the library adds one and the suffix brings
  // its own).
  unsetenv(kArgumentsVariable);
  {
    Browser browser(1);
    ASSERT_NE(browser.view(), nullptr);
    const char* value = std::getenv(kArgumentsVariable);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(std::string(value), " --disk-cache-dir=\"" + home()->path() + "//WebView2_Cache\"");
    ASSERT_TRUE(browser.load("/test/bindings"));
    EXPECT_TRUE(pump_until([&] { return testing::files_under(home()->path() + "//WebView2_Cache") > 0; }, 60s));
  }
  gadget_free(1);

  // Both directories named: the engine's data lands there.
  const testing::TempDir dirs;
  const std::string data = dirs.path() + "/user data";
  const std::string cache = dirs.path() + "/disk cache";
  const std::string named = "--user-data-dir=\"" + data + "\" --disk-cache-dir=\"" + cache + "\"";
  setenv(kArgumentsVariable, named.c_str(), 1);
  Browser browser(1);
  ASSERT_NE(browser.view(), nullptr);
  EXPECT_EQ(std::string(std::getenv(kArgumentsVariable)), named);
  ASSERT_TRUE(browser.load("/test/bindings"));
  EXPECT_EQ(browser.settle("localStorage.getItem('velto_test')"), R"(["ok","\"stored\""])");
  EXPECT_TRUE(pump_until([&] { return testing::files_under(data) > 0; }, 60s)) << data;
  EXPECT_TRUE(pump_until([&] { return testing::files_under(cache) > 0; }, 60s)) << cache;
  gadget_free(1);
  pump_for(100ms);
  unsetenv(kArgumentsVariable);
}

}  // namespace
}  // namespace velto
