// Browser gadgets in real windows (the test display natively, Wine for the
// Windows builds) with the fake engine, which records what the gadget
// library asks of it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Core/Memory.h"
#include "Core/Strings.h"
#include "FakeWebView.h"
#include "Gadget/Gadget.h"
#include "GadgetInternal.h"
#include "GadgetTestSupport.h"
#include "System/Files.h"
#include "System/Process.h"
#include "Window/Events.h"
#include "Window/Window.h"

#ifdef _WIN32
#include "Core/WinApi.h"
#else
#include <gtk/gtk.h>

#include "Window/WindowNativeGtk.h"
#endif

namespace velto {
namespace {

using namespace std::chrono_literals;

using gadget_testing::Box;
using gadget_testing::have_display;
using gadget_testing::kWindowFlags;

// Runs the toolkit's queued work for a while (bounded).
void pump(std::chrono::milliseconds quiet = 100ms) {
  const auto give_up = std::chrono::steady_clock::now() + 2s;
  auto last = std::chrono::steady_clock::now();
  for (int i = 0; i < 10'000 && std::chrono::steady_clock::now() < give_up; ++i) {
    if (window_event() != 0) {
      last = std::chrono::steady_clock::now();
      continue;
    }
    if (std::chrono::steady_clock::now() - last >= quiet) {
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
}

GadgetRecord* record_of(ObjectNumber number) {
  return registry_get(*gadget_state().registry, number);
}

// ---- What the platform shows, read with its own calls

#ifdef _WIN32
Box box_in_parent(void* handle) {
  const auto window = static_cast<HWND>(handle);
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void* parent_of(void* handle) {
  return GetParent(static_cast<HWND>(handle));
}

void* client_area_of(ObjectNumber window) {
  return window_handle(window);
}

// Child windows of `parent` of the host class.
std::vector<HWND> hosts_in(void* parent) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(static_cast<HWND>(parent), GW_CHILD); child && found.size() < 100;
       child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t name[64] = {};
    GetClassNameW(child, name, 64);
    if (std::wstring(name) == L"QuillWebView") {
      found.push_back(child);
    }
  }
  return found;
}
#else
Box box_in_parent(void* handle) {
  auto* widget = static_cast<GtkWidget*>(handle);
  GtkAllocation allocation{};
  gtk_widget_get_allocation(widget, &allocation);
  GtkWidget* parent = gtk_widget_get_parent(widget);
  GtkAllocation parent_allocation{};
  if (parent && !gtk_widget_get_has_window(parent)) {
    gtk_widget_get_allocation(parent, &parent_allocation);
  }
  // A GtkFixed without a window of its own lays children out in the
  // coordinates of the nearest window.
  return {allocation.x - parent_allocation.x, allocation.y - parent_allocation.y, allocation.width, allocation.height};
}

void* parent_of(void* handle) {
  return gtk_widget_get_parent(static_cast<GtkWidget*>(handle));
}

void* client_area_of(ObjectNumber window) {
  return window_client_area(window_handle(window));
}

bool widget_shown(void* widget) {
  return gtk_widget_get_visible(static_cast<GtkWidget*>(widget)) != FALSE;
}

std::vector<GtkWidget*> hosts_in(void* parent) {
  std::vector<GtkWidget*> found;
  GList* children = gtk_container_get_children(GTK_CONTAINER(parent));
  for (GList* item = children; item; item = item->next) {
    if (GTK_IS_FIXED(item->data)) {
      found.push_back(GTK_WIDGET(item->data));
    }
  }
  g_list_free(children);
  return found;
}
#endif

void* widget_of(webview_t instance) {
  return webview_get_native_handle(instance, WEBVIEW_NATIVE_HANDLE_KIND_UI_WIDGET);
}

std::ptrdiff_t position_in_log(const std::string& line) {
  const std::vector<std::string>& log = fake_webview_log();
  const auto found = std::find(log.begin(), log.end(), line);
  return found == log.end() ? -1 : found - log.begin();
}

class BrowserGadget : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!have_display()) {
      return;
    }
    gadget_testing::libraries_init();
  }

  void SetUp() override {
    if (!have_display()) {
      GTEST_SKIP() << "DISPLAY is not set: run the gui tests through Scripts/with-display";
    }
    fake_webview_log_clear();
  }

  void TearDown() override {
    if (!have_display()) {
      return;
    }
    fake_webview_on_navigate(nullptr);
    gadget_free(ANY_NUMBER);
    window_close(ANY_NUMBER);
    pump(20ms);
    fake_webview_pump();
    event_remove(-1, -1, -1, -1);
  }

  // Window 1, the gadget container.
  static void open_window() {
    ASSERT_NE(window_open(1, 100, 100, 640, 480, u"Gadgets", kWindowFlags), 0);
    pump();
  }
};

TEST_F(BrowserGadget, CreationRunsItsStepsInOrder) {
  open_window();
  gadget_testing::unset_browser_arguments();
  const std::intptr_t host = webview_gadget_create(3, 10, 20, 290, 400);
  ASSERT_NE(host, 0);
  GadgetRecord* record = record_of(3);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(record->handle), host);
  EXPECT_EQ(record->kind, &webview_gadget_kind());
  EXPECT_EQ(record->kind->type_code, 35);
  EXPECT_EQ(record->kind->table_size, 168);
  EXPECT_EQ(record->kind->message_handler, nullptr);
  ASSERT_NE(record->bindings, nullptr);
  EXPECT_GE(record->bindings->bucket_count(), 128u);

  // The engine got the host, and the cache switch was in place before.
  const std::string s = std::to_string(fake_webview_serial(record->instance));
  EXPECT_EQ(fake_webview_parent(record->instance), record->handle);
  EXPECT_EQ(parent_of(record->handle), client_area_of(1));
#ifdef _WIN32
  const std::string cache = "--disk-cache-dir=\"" + to_utf8(temp_directory()) + "\\WebView2_Cache\"";
  EXPECT_EQ(fake_webview_log(),
            (std::vector<std::string>{
                "create " + s, "handle " + s + " UI_WIDGET", "handle " + s + " BROWSER_CONTROLLER",
                "get_CoreWebView2 " + s, "get_Settings " + s, "put_AreDefaultScriptDialogsEnabled " + s + " 1",
                "put_IsWebMessageEnabled " + s + " 1", "settings_release " + s, "put_IsVisible " + s + " 1"}));
  const auto window = static_cast<HWND>(record->handle);
  EXPECT_EQ(GetWindowLongPtrW(window, GWLP_ID), 3);
  EXPECT_EQ(GetPropW(window, L"QX_ID"), reinterpret_cast<HANDLE>(3));
  EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & (WS_CHILD | WS_VISIBLE), WS_CHILD | WS_VISIBLE);
  EXPECT_EQ(hosts_in(client_area_of(1)).size(), 1u);
  // The library holds one reference on the browser interface, until the end.
  EXPECT_EQ(fake_webview_browser_references(record->instance), 1);
#else
  const std::string cache = "--disk-cache-dir=\"" + to_utf8(temp_directory()) + "/WebView2_Cache\"";
  EXPECT_EQ(fake_webview_log(), (std::vector<std::string>{"create " + s, "handle " + s + " UI_WIDGET",
                                                          "handle " + s + " BROWSER_CONTROLLER"}));
  EXPECT_EQ(g_object_get_data(G_OBJECT(record->handle), "QX_ID"), reinterpret_cast<gpointer>(3));
  EXPECT_TRUE(widget_shown(record->controller));
#endif
  EXPECT_EQ(fake_webview_browser_arguments(record->instance), " " + cache);

  // A second gadget finds the switch there already.
  webview_t first = record->instance;
  ASSERT_NE(webview_gadget_create(4, 320, 20, 100, 100), 0);
  EXPECT_EQ(fake_webview_browser_arguments(record_of(4)->instance), " " + cache);

  gadget_free(3);
  EXPECT_EQ(record_of(3), nullptr);
  EXPECT_FALSE(fake_webview_alive(first));
  EXPECT_EQ(fake_webview_browser_references(first), 0);
  EXPECT_NE(record_of(4), nullptr);
}

TEST_F(BrowserGadget, WithoutAContainerNothingIsCreated) {
  ASSERT_EQ(gadget_container(), nullptr) << "a window of an earlier test is still open";
  EXPECT_EQ(webview_gadget_create(5, 0, 0, 100, 100), 0);
  EXPECT_EQ(record_of(5), nullptr);
  for (const std::string& line : fake_webview_log()) {
    EXPECT_EQ(line.rfind("create", 0), std::string::npos) << line;
  }
}

TEST_F(BrowserGadget, WithoutABrowserTheHostStaysUnnumbered) {
  open_window();
  fake_webview_fail_next_create();
  EXPECT_EQ(webview_gadget_create(6, 0, 0, 100, 100), 0);
  EXPECT_EQ(record_of(6), nullptr);
  const auto hosts = hosts_in(client_area_of(1));
  ASSERT_EQ(hosts.size(), 1u);
#ifdef _WIN32
  EXPECT_EQ(GetWindowLongPtrW(hosts[0], GWLP_ID), -1);
  EXPECT_EQ(GetPropW(hosts[0], L"QX_ID"), nullptr);
#else
  EXPECT_EQ(g_object_get_data(G_OBJECT(hosts[0]), "QX_ID"), nullptr);
#endif
}

TEST_F(BrowserGadget, ReusingANumberReplacesTheGadgetAfterTheNewBrowserExists) {
  open_window();
  ASSERT_NE(webview_gadget_create(0, 0, 0, 200, 200), 0);
  webview_t first = record_of(0)->instance;
  void* first_host = record_of(0)->handle;
#ifndef _WIN32
  g_object_add_weak_pointer(G_OBJECT(first_host), &first_host);
#endif
  fake_webview_log_clear();
  ASSERT_NE(webview_gadget_create(0, 10, 10, 300, 300), 0);
  webview_t second = record_of(0)->instance;
  ASSERT_NE(second, first);
  const std::ptrdiff_t created = position_in_log("create " + std::to_string(fake_webview_serial(second)));
  const std::ptrdiff_t destroyed = position_in_log("destroy " + std::to_string(fake_webview_serial(first)));
  ASSERT_NE(created, -1);
  ASSERT_NE(destroyed, -1);
  EXPECT_LT(created, destroyed);
  EXPECT_FALSE(fake_webview_alive(first));
  EXPECT_TRUE(fake_webview_alive(second));
#ifdef _WIN32
  EXPECT_FALSE(IsWindow(static_cast<HWND>(first_host)));
#else
  pump(20ms);
  EXPECT_EQ(first_host, nullptr);
#endif
  EXPECT_EQ(hosts_in(client_area_of(1)).size(), 1u);
  EXPECT_EQ(box_in_parent(record_of(0)->handle), (Box{10, 10, 300, 300}));
}

TEST_F(BrowserGadget, ClosingTheWindowEndsItsGadgets) {
  open_window();
  ASSERT_NE(webview_gadget_create(2, 0, 0, 200, 200), 0);
  webview_t instance = record_of(2)->instance;
  webview_gadget_bind(2, u"send", [](const char16_t*) -> char* {
    ADD_FAILURE() << "a call reached a closed gadget";
    return nullptr;
  });
  fake_webview_page_call(instance, "send", "1", "[]");
  event_remove(-1, -1, -1, -1);
  // Queued for the gadget, and for another object.
  event_post(EVENT_GADGET, 2, 99, 0);
  event_post(EVENT_GADGET, 7, 99, 0);

  // The host goes with the window, within window_close; pumping would take
  // the queued events.
  window_close(1);
  EXPECT_EQ(record_of(2), nullptr);
  EXPECT_FALSE(fake_webview_alive(instance));
  EXPECT_EQ(fake_webview_pump(), 0);
  std::vector<ObjectNumber> gadget_events;
  for (int i = 0; i < 100; ++i) {
    const int code = event_pop();
    if (code == 0) {
      break;
    }
    if (code == EVENT_GADGET) {
      gadget_events.push_back(event_current().object);
    }
  }
  EXPECT_EQ(gadget_events, std::vector<ObjectNumber>{7});
}

TEST_F(BrowserGadget, ResizeKeepsWhatIsIgnoredAndTheBrowserCoversTheHost) {
  open_window();
  ASSERT_NE(webview_gadget_create(1, 10, 20, 290, 400), 0);
  pump();
  GadgetRecord* record = record_of(1);
  void* widget = widget_of(record->instance);
  EXPECT_EQ(box_in_parent(record->handle), (Box{10, 20, 290, 400}));
  EXPECT_EQ(box_in_parent(widget), (Box{0, 0, 290, 400}));

  gadget_resize(1, IGNORE, IGNORE, IGNORE, IGNORE);
  pump();
  EXPECT_EQ(box_in_parent(record->handle), (Box{10, 20, 290, 400}));

  gadget_resize(1, IGNORE, 40, 350, IGNORE);
  pump();
  EXPECT_EQ(box_in_parent(record->handle), (Box{10, 40, 350, 400}));
  EXPECT_EQ(box_in_parent(widget), (Box{0, 0, 350, 400}));

  gadget_resize(1, 5, IGNORE, IGNORE, 120);
  pump();
  EXPECT_EQ(box_in_parent(record->handle), (Box{5, 40, 350, 120}));
  EXPECT_EQ(box_in_parent(widget), (Box{0, 0, 350, 120}));

  // Unknown numbers change nothing.
  gadget_resize(9, 0, 0, 10, 10);
  gadget_resize(ANY_NUMBER, 0, 0, 10, 10);
  pump();
  EXPECT_EQ(box_in_parent(record->handle), (Box{5, 40, 350, 120}));
}

TEST_F(BrowserGadget, SetTextNavigatesWithEventsSuspended) {
  open_window();
  ASSERT_NE(webview_gadget_create(1, 0, 0, 100, 100), 0);
  const std::string s = std::to_string(fake_webview_serial(record_of(1)->instance));
  event_remove(-1, -1, -1, -1);
  // What the engine's notifications during a navigation would queue.
  fake_webview_on_navigate([] { event_post(EVENT_GADGET, 1, 1, 0); });
  fake_webview_log_clear();

  gadget_set_text(1, u"");
  gadget_set_text(1);
  gadget_set_text(1, u"https://127.0.0.1:8443/chat?room=\u00e9");
  gadget_set_text(8, u"https://127.0.0.1/");
  EXPECT_EQ(fake_webview_log(),
            (std::vector<std::string>{"navigate " + s + " ", "navigate " + s + " ",
                                      "navigate " + s + " https://127.0.0.1:8443/chat?room=\xc3\xa9"}));
  EXPECT_EQ(event_pop(), 0);
  // Posting works again afterwards.
  event_post(EVENT_GADGET, 1, 1, 0);
  EXPECT_EQ(event_pop(), EVENT_GADGET);
}

TEST_F(BrowserGadget, AnyNumberGivesADynamicNumber) {
  open_window();
  const std::intptr_t number = webview_gadget_create(ANY_NUMBER, 0, 0, 100, 100);
  ASSERT_NE(number, 0);
  GadgetRecord* record = record_of(number);
  ASSERT_NE(record, nullptr);
  EXPECT_NE(reinterpret_cast<std::intptr_t>(record->handle), number);
  EXPECT_EQ(Registry<GadgetRecord>::number_of(*record), number);
#ifdef _WIN32
  EXPECT_EQ(GetWindowLongPtrW(static_cast<HWND>(record->handle), GWLP_ID), number);
#else
  EXPECT_EQ(g_object_get_data(G_OBJECT(record->handle), "QX_ID"), reinterpret_cast<gpointer>(number));
#endif
  const std::string s = std::to_string(fake_webview_serial(record->instance));
  fake_webview_log_clear();
  gadget_set_text(number, u"about:blank");
  webview_gadget_bind(number, u"send", nullptr);
  EXPECT_EQ(fake_webview_log(), (std::vector<std::string>{"navigate " + s + " about:blank", "bind " + s + " send"}));

  webview_t instance = record->instance;
  gadget_free(number);
  EXPECT_EQ(record_of(number), nullptr);
  EXPECT_FALSE(fake_webview_alive(instance));
  EXPECT_TRUE(hosts_in(client_area_of(1)).empty());
}

#ifdef _WIN32
// A moved gadget leaves part of its window uncovered: that part is
// repainted, not left with the gadget's old picture.
TEST_F(BrowserGadget, MovingRepaintsWhatTheGadgetLeaves) {
  open_window();
  ASSERT_NE(webview_gadget_create(1, 10, 20, 100, 80), 0);
  pump();
  const auto host = static_cast<HWND>(record_of(1)->handle);
  const HWND parent = GetParent(host);
  ASSERT_NE(parent, nullptr);
  UpdateWindow(parent);
  ValidateRect(parent, nullptr);
  gadget_resize(1, 300, 250, IGNORE, IGNORE);
  EXPECT_EQ(box_in_parent(host), (Box{300, 250, 100, 80}));
  RECT update{};
  ASSERT_TRUE(GetUpdateRect(parent, &update, FALSE)) << "nothing of the parent is to be repainted";
  const RECT left{10, 20, 110, 100};
  RECT overlap{};
  EXPECT_TRUE(IntersectRect(&overlap, &update, &left));
}

// A widget whose host cannot be measured keeps its size rather than
// becoming 0 x 0.
TEST_F(BrowserGadget, AWidgetWhoseHostCannotBeMeasuredKeepsItsSize) {
  open_window();
  ASSERT_NE(webview_gadget_create(1, 10, 20, 100, 80), 0);
  pump();
  webview_t instance = record_of(1)->instance;
  const auto widget = static_cast<HWND>(widget_of(instance));
  const HWND host = GetParent(widget);
  ASSERT_EQ(box_in_parent(widget), (Box{0, 0, 100, 80}));
  // Made a top-level window without an owner: it has no parent to measure.
  const LONG_PTR style = GetWindowLongPtrW(widget, GWL_STYLE);
  const auto popup = (static_cast<DWORD>(style) & ~static_cast<DWORD>(WS_CHILD)) | static_cast<DWORD>(WS_POPUP);
  SetWindowLongPtrW(widget, GWL_STYLE, static_cast<LONG_PTR>(popup));
  SetParent(widget, nullptr);
  ASSERT_EQ(GetParent(widget), nullptr);
  RECT before{};
  GetWindowRect(widget, &before);
  webview_fit(instance);
  RECT after{};
  GetWindowRect(widget, &after);
  EXPECT_EQ(after.right - after.left, 100);
  EXPECT_EQ(after.bottom - after.top, 80);
  EXPECT_TRUE(EqualRect(&before, &after));
  SetParent(widget, host);
  SetWindowLongPtrW(widget, GWL_STYLE, style);
}
#endif

TEST_F(BrowserGadget, FreeingEveryGadget) {
  open_window();
  ASSERT_NE(webview_gadget_create(0, 0, 0, 100, 100), 0);
  ASSERT_NE(webview_gadget_create(12, 100, 0, 100, 100), 0);
  const std::intptr_t dynamic = webview_gadget_create(ANY_NUMBER, 200, 0, 100, 100);
  ASSERT_NE(dynamic, 0);
  gadget_free(ANY_NUMBER);
  EXPECT_EQ(record_of(0), nullptr);
  EXPECT_EQ(record_of(12), nullptr);
  EXPECT_EQ(record_of(dynamic), nullptr);
  EXPECT_TRUE(hosts_in(client_area_of(1)).empty());
  // Unknown numbers are ignored.
  gadget_free(12);
  gadget_free(4711);
}

}  // namespace
}  // namespace velto
