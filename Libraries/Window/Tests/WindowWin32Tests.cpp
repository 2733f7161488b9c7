// Real windows under Windows (or Wine, on the test display with a window
// manager): what the Win32 backend leaves on the platform's side.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Core/WinApi.h"
#include "Window/Events.h"
#include "Window/Window.h"
#include "Window/WindowNativeWin32.h"
#include "WindowInternal.h"
#include "WindowWin32Support.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::hwnd_of;

constexpr std::uint32_t kMainWindowFlags = 0xCF0000;
constexpr std::uint32_t kFirstStartFlags = 0xCF0001;
constexpr int kLoopLimit = 100000;

HINSTANCE instance() {
  return GetModuleHandleW(nullptr);
}

bool class_registered(const wchar_t* name) {
  WNDCLASSW info{};
  return GetClassInfoW(instance(), name, &info) != FALSE;
}

std::wstring class_name_of(ObjectNumber number) {
  return L"WindowClass_" + std::to_wstring(number);
}

LONG_PTR style_of(HWND window) {
  return GetWindowLongPtrW(window, GWL_STYLE);
}

bool is_runtime_event(int code) {
  return code != 0 && event_current().code == code;
}

// Pumps through the retrieval routine until nothing has come for `quiet`
// (or `limit` has passed) and answers the runtime events it returned.
std::vector<Event> pump_events(std::chrono::milliseconds quiet = 250ms, std::chrono::milliseconds limit = 4s) {
  std::vector<Event> events;
  const auto give_up = Clock::now() + limit;
  auto last_activity = Clock::now();
  for (int i = 0; i < kLoopLimit && Clock::now() < give_up; ++i) {
    const int code = window_event();
    if (code != 0) {
      if (is_runtime_event(code)) {
        events.push_back(event_current());
      }
      last_activity = Clock::now();
      continue;
    }
    if (Clock::now() - last_activity >= quiet) {
      break;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  return events;
}

std::vector<int> codes_for(const std::vector<Event>& events, ObjectNumber window,
                           std::initializer_list<int> wanted = {}) {
  std::vector<int> out;
  for (const Event& e : events) {
    if (e.window == window && (wanted.size() == 0 || std::find(wanted.begin(), wanted.end(), e.code) != wanted.end())) {
      out.push_back(e.code);
    }
  }
  return out;
}

std::vector<int> size_events(const std::vector<Event>& events, ObjectNumber window) {
  return codes_for(events, window, {EVENT_MINIMIZE, EVENT_MAXIMIZE, EVENT_RESTORE, EVENT_SIZE});
}

std::vector<Event> queued() {
  return event_state().queue.events();
}

bool queued_contains(int code, ObjectNumber window) {
  const std::vector<Event> events = queued();
  return std::any_of(events.begin(), events.end(), [&](const Event& e) { return e.code == code && e.window == window; });
}

// Pumps until `done` holds, at most `limit`.
template <class Condition>
bool pump_until(Condition done, std::chrono::milliseconds limit = 3s) {
  const auto give_up = Clock::now() + limit;
  for (int i = 0; i < kLoopLimit && Clock::now() < give_up; ++i) {
    if (done()) {
      return true;
    }
    if (window_event() == 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
  }
  return done();
}

// Pumps until the retrieval routine returns the runtime event `code`, at most `limit`.
bool pump_until_event(int code, std::chrono::milliseconds limit = 3s) {
  const auto give_up = Clock::now() + limit;
  for (int i = 0; i < kLoopLimit && Clock::now() < give_up; ++i) {
    const int got = window_event();
    if (got == code && is_runtime_event(got)) {
      return true;
    }
    if (got == 0) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
  }
  return false;
}

// A thread timer that wakes a blocking wait after a while, so that a wait
// for a message that never comes ends (as WM_TIMER) instead of hanging.
class WaitGuard {
 public:
  WaitGuard() : timer_(SetTimer(nullptr, 0, 3000, nullptr)) {}
  ~WaitGuard() { KillTimer(nullptr, timer_); }
  WaitGuard(const WaitGuard&) = delete;
  WaitGuard& operator=(const WaitGuard&) = delete;

 private:
  UINT_PTR timer_;
};

class ChildWindow {
 public:
  ChildWindow(HWND parent, const wchar_t* window_class, DWORD style, int id, DWORD ex_style = 0)
      : handle_(CreateWindowExW(ex_style, window_class, L"", WS_CHILD | WS_VISIBLE | style, 10, 10 + 30 * (id % 16),
                                120, 24, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance(),
                                nullptr)) {}
  ~ChildWindow() {
    if (IsWindow(handle_)) {
      DestroyWindow(handle_);
    }
  }
  ChildWindow(const ChildWindow&) = delete;
  ChildWindow& operator=(const ChildWindow&) = delete;
  [[nodiscard]] HWND get() const { return handle_; }

 private:
  HWND handle_;
};

void send_keys(std::initializer_list<std::pair<WORD, bool>> keys) {
  std::vector<INPUT> inputs;
  for (const auto& [key, down] : keys) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    inputs.push_back(input);
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void press_tab(bool shift = false) {
  if (shift) {
    send_keys({{VK_SHIFT, true}, {VK_TAB, true}, {VK_TAB, false}, {VK_SHIFT, false}});
  } else {
    send_keys({{VK_TAB, true}, {VK_TAB, false}});
  }
}

// The library's start-up and end steps once per suite; every test leaves no
// window and no queued event behind.
class Win32Window : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    event_queue_init();
    window_library_init();
  }
  static void TearDownTestSuite() {
    window_library_end();
    event_queue_end();
  }
  void SetUp() override { settle(); }
  void TearDown() override {
    gadget_message_handler_set(nullptr);
    window_close(ANY_NUMBER);
    settle();
  }
  static void settle() {
    pump_events(150ms);
    event_state().queue.clear();
  }
  // Opens the window, lets the window manager finish with it, empties the queue.
  static HWND open_settled(ObjectNumber number, int x, int y, int width, int height,
                           std::uint32_t flags = kMainWindowFlags) {
    window_open(number, x, y, width, height, u"Velto test", flags);
    settle();
    return hwnd_of(number);
  }
};

// ---- Opening windows

class Win32WindowOpen : public Win32Window {};

TEST_F(Win32WindowOpen, CarriesItsNumberAndClass) {
  const std::intptr_t result = window_open(0, 100, 80, 400, 700, u"Velto", kMainWindowFlags);
  const HWND window = hwnd_of(0);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(result, reinterpret_cast<std::intptr_t>(window));
  EXPECT_EQ(window_exists(0), 1);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(GetPropW(window, L"QX_WindowID")), 1);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  EXPECT_STREQ(class_name, L"WindowClass_0");
  wchar_t title[64] = {};
  GetWindowTextW(window, title, 64);
  EXPECT_STREQ(title, L"Velto");
  EXPECT_TRUE(class_registered(L"PostEventClass"));

  WNDCLASSW info{};
  ASSERT_TRUE(GetClassInfoW(instance(), L"WindowClass_0", &info));
  EXPECT_EQ(info.style, static_cast<UINT>(CS_DBLCLKS));
  EXPECT_EQ(reinterpret_cast<INT_PTR>(info.hbrBackground), COLOR_BTNFACE + 1);
  EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, IDC_ARROW));

  // The two Tab accelerators.
  ACCEL entries[4] = {};
  const auto* data = &window_record(0)->data;
  ASSERT_EQ(CopyAcceleratorTableW(static_cast<HACCEL>(data->accelerators.get()), entries, 4), 2);
  EXPECT_EQ(entries[0].fVirt, 3);
  EXPECT_EQ(entries[0].key, VK_TAB);
  EXPECT_EQ(entries[0].cmd, 64001);
  EXPECT_EQ(entries[1].fVirt, 7);
  EXPECT_EQ(entries[1].key, VK_TAB);
  EXPECT_EQ(entries[1].cmd, 64002);
}

TEST_F(Win32WindowOpen, HiddenPostEventWindow) {
  const HWND post = FindWindowW(L"PostEventClass", nullptr);
  ASSERT_NE(post, nullptr);
  EXPECT_FALSE(IsWindowVisible(post));
  EXPECT_EQ(style_of(post) & WS_CAPTION, WS_CAPTION);
  DWORD process = 0;
  GetWindowThreadProcessId(post, &process);
  EXPECT_EQ(process, GetCurrentProcessId());

  event_queue_end();
  EXPECT_FALSE(IsWindow(post));
  EXPECT_FALSE(class_registered(L"PostEventClass"));
  event_queue_init();
  EXPECT_NE(FindWindowW(L"PostEventClass", nullptr), nullptr);
}

TEST_F(Win32WindowOpen, StylesFromFlags) {
  constexpr LONG_PTR kFrameBits = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
  struct Case {
    std::uint32_t flags;
    LONG_PTR frame;  // the style's frame bits
    bool visible, tool_window, maximised, minimised;
  } cases[] = {
      {0xCF0000, kFrameBits, true, false, false, false},
      {0xCF0001, kFrameBits, true, false, false, false},
      {0, WS_CAPTION, true, false, false, false},
      {0x10000000, WS_CAPTION, false, false, false, false},
      {WF_TOOL_WINDOW | 0xCF0000, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, true, true, false, false},
      {WF_TOOL_WINDOW | WF_MAXIMIZE | WF_SYSTEM_MENU, WS_CAPTION | WS_SYSMENU, true, true, false, false},
      {0xCF0000 | WF_MAXIMIZE, kFrameBits, true, false, true, false},
      {0xCF0000 | WF_MINIMIZE, kFrameBits, true, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << c.flags);
    ASSERT_NE(window_open(1, 60, 60, 300, 200, u"Styles", c.flags), 0);
    const HWND window = hwnd_of(1);
    EXPECT_EQ(style_of(window) & kFrameBits, c.frame);
    EXPECT_EQ(IsWindowVisible(window) != FALSE, c.visible);
    EXPECT_EQ((GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) != 0, c.tool_window);
    EXPECT_EQ(IsZoomed(window) != FALSE, c.maximised);
    EXPECT_EQ(IsIconic(window) != FALSE, c.minimised);
    // The library's own bits never reach the platform.
    EXPECT_EQ(style_of(window) & 0x0000000F, 0);
    window_close(1);
    settle();
  }
}

TEST_F(Win32WindowOpen, WithoutActivation) {
  const HWND first = open_settled(0, 100, 100, 300, 200);
  window_open(1, 200, 200, 300, 200, u"Behind", kMainWindowFlags | WF_NO_ACTIVATE);
  EXPECT_TRUE(IsWindowVisible(hwnd_of(1)));
  EXPECT_EQ(GetActiveWindow(), first);
}

TEST_F(Win32WindowOpen, ClientSizeAndOuterFrame) {
  window_open(0, 100, 80, 400, 700, u"Velto", kMainWindowFlags);
  const HWND window = hwnd_of(0);
  EXPECT_EQ(window_width(0), 400);
  EXPECT_EQ(window_height(0), 700);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 400);
  EXPECT_EQ(client.bottom, 700);

  RECT expected{0, 0, 400, 700};
  AdjustWindowRectEx(&expected, kMainWindowFlags, FALSE, 0);
  EXPECT_EQ(window_x(0), 100);
  EXPECT_EQ(window_y(0), 80);
  EXPECT_EQ(window_width(0, GeometryMode::Outer), expected.right - expected.left);
  EXPECT_EQ(window_height(0, GeometryMode::Outer), expected.bottom - expected.top);
  // Mode 1 of the position queries: the client area's corner on the screen.
  EXPECT_EQ(window_x(0, GeometryMode::Inner), 100 - expected.left);
  EXPECT_EQ(window_y(0, GeometryMode::Inner), 80 - expected.top);

  // Stored geometry given back reproduces the window.
  const int x = window_x(0), y = window_y(0), width = window_width(0), height = window_height(0);
  window_open(0, x, y, width, height, u"Velto", kMainWindowFlags);
  EXPECT_EQ(window_x(0), x);
  EXPECT_EQ(window_y(0), y);
  EXPECT_EQ(window_width(0), width);
  EXPECT_EQ(window_height(0), height);
}

TEST_F(Win32WindowOpen, HeightCountsTheMenuBar) {
  const HWND window = open_settled(0, 100, 80, 400, 300);
  HMENU bar = CreateMenu();
  AppendMenuW(bar, MF_STRING, 1, L"File");
  ASSERT_TRUE(SetMenu(window, bar));
  RECT client{};
  GetClientRect(window, &client);
  const int height = window_height(0);
  EXPECT_EQ(height, client.bottom + GetSystemMetrics(SM_CYMENU));
  window_resize(0, IGNORE, IGNORE, IGNORE, height);
  EXPECT_EQ(window_height(0), height);
}

TEST_F(Win32WindowOpen, CentredOnTheScreen) {
  const int screen_width = GetSystemMetrics(SM_CXSCREEN);
  const int screen_height = GetSystemMetrics(SM_CYSCREEN);
  struct Case {
    int x, y, width, height;
  } cases[] = {
      {0, 0, 400, 700},
      {0, 0, 301, 203},
      {IGNORE, 0, 300, 200},  // centring wins over the default position
      {50, IGNORE, 300, 200},
      {0, 0, screen_width + 200, 300},  // wider than the screen
      {0, 0, 300, screen_height + 200},  // taller than the screen
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height);
    window_open(0, c.x, c.y, c.width, c.height, u"Centred", kFirstStartFlags);
    const int outer_width = window_width(0, GeometryMode::Outer);
    const int outer_height = window_height(0, GeometryMode::Outer);
    EXPECT_EQ(window_x(0), (screen_width - std::min(outer_width, screen_width)) / 2);
    EXPECT_EQ(window_y(0), (screen_height - std::min(outer_height, screen_height)) / 2);
    if (outer_width >= screen_width) {
      EXPECT_EQ(window_x(0), 0);
    }
    if (outer_height >= screen_height) {
      EXPECT_EQ(window_y(0), 0);
    }
    window_close(0);
  }
}

TEST_F(Win32WindowOpen, CentredOnTheParent) {
  const HWND parent = open_settled(0, 200, 150, 600, 500);
  RECT outer{};
  GetWindowRect(parent, &outer);
  window_open(1, 0, 0, 200, 100, u"Child", kMainWindowFlags | WF_CENTER_PARENT, parent);
  const int width = window_width(1, GeometryMode::Outer);
  const int height = window_height(1, GeometryMode::Outer);
  EXPECT_EQ(window_x(1), outer.left + (outer.right - outer.left - width) / 2);
  EXPECT_EQ(window_y(1), outer.top + (outer.bottom - outer.top - height) / 2);
  EXPECT_EQ(GetWindow(hwnd_of(1), GW_OWNER), parent);

  // Without a parent nothing moves.
  window_open(2, 40, 30, 200, 100, u"Alone", kMainWindowFlags | WF_CENTER_PARENT);
  EXPECT_EQ(window_x(2), 40);
  EXPECT_EQ(window_y(2), 30);
}

TEST_F(Win32WindowOpen, DynamicNumbers) {
  const std::intptr_t number = window_open(ANY_NUMBER, 80, 80, 200, 100, u"Dynamic", kMainWindowFlags);
  ASSERT_NE(number, 0);
  const HWND window = hwnd_of(number);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window_exists(number), 1);
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(GetPropW(window, L"QX_WindowID")), number + 1);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  EXPECT_EQ(std::wstring(class_name), class_name_of(number));
  window_close(number);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(window_exists(number), 0);
}

TEST_F(Win32WindowOpen, RefusedCreationLeavesNothing) {
  // A parent that is no window makes the platform refuse the window.
  const auto bogus_parent = reinterpret_cast<NativeWindow>(static_cast<std::intptr_t>(0x7FFF1234));
  EXPECT_EQ(window_open(4, 10, 10, 100, 100, u"Refused", kMainWindowFlags, bogus_parent), 0);
  EXPECT_EQ(window_exists(4), 0);
  EXPECT_EQ(window_handle(4), nullptr);
  EXPECT_FALSE(class_registered(L"WindowClass_4"));
}

TEST_F(Win32WindowOpen, OpeningANumberTwiceClosesTheFirstWindow) {
  window_open(0, 100, 100, 300, 200, u"First", kMainWindowFlags);
  const HWND first = hwnd_of(0);
  window_open(0, 120, 120, 300, 200, u"Second", kMainWindowFlags);
  const HWND second = hwnd_of(0);
  EXPECT_FALSE(IsWindow(first));
  ASSERT_TRUE(IsWindow(second));
  EXPECT_EQ(reinterpret_cast<std::intptr_t>(GetPropW(second, L"QX_WindowID")), 1);
  EXPECT_EQ(window_x(0), 120);
  EXPECT_TRUE(class_registered(L"WindowClass_0"));
}

TEST_F(Win32WindowOpen, CloseOneAndAll) {
  window_open(0, 100, 100, 300, 200, u"Zero", kMainWindowFlags);
  window_open(2, 140, 140, 300, 200, u"Two", kMainWindowFlags);
  const std::intptr_t dynamic = window_open(ANY_NUMBER, 180, 180, 300, 200, u"Any", kMainWindowFlags);
  const HWND handles[] = {hwnd_of(0), hwnd_of(2), hwnd_of(dynamic)};
  event_post(EVENT_MENU, 1, 2, 0);

  window_close(2);
  EXPECT_FALSE(IsWindow(handles[1]));
  EXPECT_EQ(window_exists(2), 0);
  WNDCLASSW window_class{};
  EXPECT_FALSE(GetClassInfoW(GetModuleHandleW(nullptr), L"WindowClass_2", &window_class))
      << "the class goes with its window";
  EXPECT_FALSE(queued_contains(EVENT_MENU, 2));
  window_close(2);  // nothing left to close

  window_close(ANY_NUMBER);
  for (const HWND window : handles) {
    EXPECT_FALSE(IsWindow(window));
  }
  EXPECT_EQ(window_exists(0), 0);
  EXPECT_EQ(window_exists(dynamic), 0);
  for (const Event& e : queued()) {
    EXPECT_TRUE(e.window != 0 && e.window != dynamic) << e.code;
  }
}

TEST_F(Win32WindowOpen, OwnedWindowHandsActivationBack) {
  const HWND owner = open_settled(0, 100, 100, 400, 300);
  window_open(1, 150, 150, 200, 100, u"Owned", kMainWindowFlags, owner);
  EXPECT_EQ(GetActiveWindow(), hwnd_of(1));
  window_close(1);
  EXPECT_EQ(GetActiveWindow(), owner);
}

TEST_F(Win32WindowOpen, ActiveWindowNumber) {
  const HWND window = open_settled(0, 100, 100, 300, 200);
  ASSERT_TRUE(pump_until([&] { return GetForegroundWindow() == window; }));
  EXPECT_EQ(window_active(), 0);

  // A window of this process that is not the library's.
  const HWND other = CreateWindowExW(0, L"STATIC", L"Other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 300, 300, 200, 100,
                                     nullptr, nullptr, instance(), nullptr);
  ASSERT_NE(other, nullptr);
  SetForegroundWindow(other);
  ASSERT_TRUE(pump_until([&] { return GetForegroundWindow() == other; }));
  EXPECT_EQ(window_active(), -1);
  DestroyWindow(other);

  SetForegroundWindow(window);
  ASSERT_TRUE(pump_until([&] { return GetForegroundWindow() == window; }));
  EXPECT_EQ(window_active(), 0);
}

// ---- Resizing

class Win32WindowResize : public Win32Window {};

TEST_F(Win32WindowResize, IgnoreKeepsTheCurrentValue) {
  struct Case {
    int x, y, width, height;
    int expect_x, expect_y, expect_width, expect_height;
  } cases[] = {
      {IGNORE, IGNORE, IGNORE, IGNORE, 100, 80, 400, 300},
      {150, IGNORE, IGNORE, IGNORE, 150, 80, 400, 300},
      {IGNORE, 90, IGNORE, IGNORE, 100, 90, 400, 300},
      {IGNORE, IGNORE, 500, IGNORE, 100, 80, 500, 300},
      {IGNORE, IGNORE, IGNORE, 260, 100, 80, 400, 260},
      {130, 110, 320, 240, 130, 110, 320, 240},
      {IGNORE, 60, 350, IGNORE, 100, 60, 350, 300},
  };
  open_settled(0, 100, 80, 400, 300);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
    window_resize(0, 100, 80, 400, 300);
    window_resize(0, c.x, c.y, c.width, c.height);
    EXPECT_EQ(window_x(0), c.expect_x);
    EXPECT_EQ(window_y(0), c.expect_y);
    EXPECT_EQ(window_width(0), c.expect_width);
    EXPECT_EQ(window_height(0), c.expect_height);
  }
}

TEST_F(Win32WindowResize, NoWindowNoChange) {
  window_resize(7, 10, 10, 100, 100);
  EXPECT_EQ(window_exists(7), 0);
  EXPECT_EQ(window_x(7), 0);
  EXPECT_EQ(window_width(7), 0);
}

TEST_F(Win32WindowResize, MaximisedWindowKeepsItsPlaceButLeavesTheState) {
  const HWND window = open_settled(0, 100, 80, 400, 300);
  ShowWindow(window, SW_MAXIMIZE);
  settle();
  ASSERT_TRUE(IsZoomed(window));
  const int x = window_x(0), y = window_y(0), width = window_width(0), height = window_height(0);

  window_resize(0, IGNORE, IGNORE, IGNORE, IGNORE);
  EXPECT_FALSE(IsZoomed(window));
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(window_x(0), x);
  EXPECT_EQ(window_y(0), y);
  EXPECT_EQ(window_width(0), width);
  EXPECT_EQ(window_height(0), height);
}

TEST_F(Win32WindowResize, HiddenMaximisedWindowStaysHidden) {
  window_open(0, 100, 80, 400, 300, u"Hidden", kMainWindowFlags | WF_MAXIMIZE | WF_INVISIBLE);
  const HWND window = hwnd_of(0);
  ASSERT_TRUE(IsZoomed(window));
  ASSERT_FALSE(IsWindowVisible(window));
  window_resize(0, 100, 80, 400, 300);
  EXPECT_FALSE(IsZoomed(window));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(window_width(0), 400);
  EXPECT_EQ(window_height(0), 300);
}

// While maximised, the normal placement is the geometry that restoring gives back.
TEST_F(Win32WindowResize, MaximisedWindowKeepsItsNormalPlacement) {
  const HWND window = open_settled(0, 100, 80, 400, 300);
  EXPECT_EQ(window_maximized(0), 0);
  ShowWindow(window, SW_MAXIMIZE);
  settle();
  ASSERT_TRUE(IsZoomed(window));
  EXPECT_EQ(window_maximized(0), 1);
  EXPECT_NE(window_width(0), 400);
  const auto normal = window_normal_placement(0);
  ASSERT_TRUE(normal);
  EXPECT_EQ(normal->x, 100);
  EXPECT_EQ(normal->y, 80);
  EXPECT_EQ(normal->width, 400);
  EXPECT_EQ(normal->height, 300);

  ShowWindow(window, SW_MINIMIZE);
  settle();
  EXPECT_EQ(window_maximized(0), 0) << "a minimised window counts as minimised";
  EXPECT_EQ(window_minimized(0), 1);
}

// Opened maximised, the window's normal geometry is the one it was opened
// with (centred, when asked): restoring it gives that geometry.
TEST_F(Win32WindowOpen, OpenedMaximisedItRestoresToTheGeometryAskedFor) {
  const struct {
    std::uint32_t flags;
    bool centred;
  } cases[] = {{kMainWindowFlags | WF_MAXIMIZE, false}, {kMainWindowFlags | WF_MAXIMIZE | WF_CENTER_SCREEN, true}};
  RECT frame{0, 0, 320, 240};
  AdjustWindowRectEx(&frame, kMainWindowFlags, FALSE, 0);
  const int outer_width = frame.right - frame.left;
  const int outer_height = frame.bottom - frame.top;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << c.flags);
    const HWND window = open_settled(0, 130, 90, 320, 240, c.flags);
    ASSERT_TRUE(IsZoomed(window));
    EXPECT_EQ(window_maximized(0), 1);
    EXPECT_GT(window_width(0), 320);
    const int want_x = c.centred ? (GetSystemMetrics(SM_CXSCREEN) - outer_width) / 2 : 130;
    const int want_y = c.centred ? (GetSystemMetrics(SM_CYSCREEN) - outer_height) / 2 : 90;
    const auto normal = window_normal_placement(0);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->x, want_x);
    EXPECT_EQ(normal->y, want_y);
    EXPECT_EQ(normal->width, 320);
    EXPECT_EQ(normal->height, 240);

    ShowWindow(window, SW_RESTORE);
    settle();
    EXPECT_FALSE(IsZoomed(window));
    EXPECT_EQ(window_x(0), want_x);
    EXPECT_EQ(window_y(0), want_y);
    EXPECT_EQ(window_width(0), 320);
    EXPECT_EQ(window_height(0), 240);
    window_close(0);
    settle();
  }
}

// The minimum stays with the program on this platform (it springs back on
// EVENT_SIZE): the system still lets the window get smaller.
TEST_F(Win32WindowResize, MinimumSizeLeavesTheWindowToTheProgram) {
  const HWND window = open_settled(0, 100, 80, 400, 700);
  window_set_minimum_size(0, 290, 400);
  RECT outer{0, 0, 200, 300};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(style_of(window)), FALSE, 0);
  SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(window_width(0), 200);
  EXPECT_EQ(window_height(0), 300);
}

// ---- Events

class Win32WindowEvents : public Win32Window {};

TEST_F(Win32WindowEvents, OpeningRaisesOnlyTheActivation) {
  for (const std::uint32_t flags : {kMainWindowFlags, kFirstStartFlags}) {
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << flags);
    window_open(0, 30, 40, 300, 200, u"Quiet", flags);
    EXPECT_TRUE(queued_contains(EVENT_ACTIVATE, 0));
    EXPECT_FALSE(queued_contains(EVENT_MOVE, 0));
    EXPECT_FALSE(queued_contains(EVENT_SIZE, 0));
    EXPECT_FALSE(queued_contains(EVENT_MAXIMIZE, 0));
    window_close(0);
    settle();
  }
}

TEST_F(Win32WindowEvents, MinimiseRestoreMaximise) {
  const HWND window = open_settled(0, 100, 80, 400, 300);
  // What the platform reports while ShowWindow runs; the window manager may
  // follow up with size changes of its own, which only add size events.
  struct Step {
    int command;
    std::vector<int> events;
  } steps[] = {
      {SW_MINIMIZE, {EVENT_MINIMIZE}},
      {SW_RESTORE, {EVENT_RESTORE, EVENT_SIZE}},
      {SW_MAXIMIZE, {EVENT_MAXIMIZE, EVENT_SIZE}},
      {SW_RESTORE, {EVENT_RESTORE, EVENT_SIZE}},
      {SW_MINIMIZE, {EVENT_MINIMIZE}},
      {SW_RESTORE, {EVENT_RESTORE, EVENT_SIZE}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << "show command " << step.command);
    ShowWindow(window, step.command);
    EXPECT_EQ(size_events(queued(), 0), step.events);
    const std::vector<int> pumped = size_events(pump_events(), 0);
    ASSERT_GE(pumped.size(), step.events.size());
    EXPECT_TRUE(std::equal(step.events.begin(), step.events.end(), pumped.begin()));
    // Minimising never raises a size event.
    if (step.command == SW_MINIMIZE) {
      EXPECT_EQ(pumped, step.events);
    }
    for (std::size_t i = step.events.size(); i < pumped.size(); ++i) {
      EXPECT_EQ(pumped[i], EVENT_SIZE);
    }
  }
}

TEST_F(Win32WindowEvents, SizeChangesLeaveOneSizeEventAtTheNewerPlace) {
  const HWND window = open_settled(0, 100, 80, 400, 300);
  SetWindowPos(window, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(window, nullptr, 150, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(window, nullptr, 0, 0, 520, 420, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(window, nullptr, 0, 0, 540, 440, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  EXPECT_EQ(codes_for(queued(), 0, {EVENT_MOVE, EVENT_SIZE}), (std::vector<int>{EVENT_MOVE, EVENT_SIZE}));

  // A size event already queued stays where it is when the window is maximised.
  event_state().queue.clear();
  SetWindowPos(window, nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(window, SW_MAXIMIZE);
  const std::vector<int> codes = codes_for(queued(), 0, {EVENT_SIZE, EVENT_MAXIMIZE});
  EXPECT_EQ(codes, (std::vector<int>{EVENT_SIZE, EVENT_MAXIMIZE, EVENT_SIZE}));
}

TEST_F(Win32WindowEvents, MovesAreReportedWithTheWindowNumber) {
  const HWND window = open_settled(3, 100, 80, 300, 200);
  SetWindowPos(window, nullptr, 120, 90, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(window, nullptr, 140, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  const std::vector<Event> events = queued();
  ASSERT_EQ(codes_for(events, 3, {EVENT_MOVE}), (std::vector<int>{EVENT_MOVE}));
  const auto move = std::find_if(events.begin(), events.end(), [](const Event& e) { return e.code == EVENT_MOVE; });
  EXPECT_EQ(move->object, 3);
}

TEST_F(Win32WindowEvents, ClicksRepaintAndTimers) {
  const HWND window = open_settled(0, 100, 80, 300, 200);
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(20, 10));
  SendMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(10, 10));
  SendMessageW(window, WM_LBUTTONDBLCLK, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(codes_for(queued(), 0),
            (std::vector<int>{EVENT_LEFT_CLICK, EVENT_RIGHT_CLICK, EVENT_LEFT_DOUBLE_CLICK}));

  event_state().queue.clear();
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ERASENOW);
  EXPECT_TRUE(queued_contains(EVENT_REPAINT, 0));

  event_state().queue.clear();
  SetTimer(window, 7, 10, nullptr);
  const bool timer_seen = pump_until_event(EVENT_TIMER);
  KillTimer(window, 7);
  ASSERT_TRUE(timer_seen);
  EXPECT_EQ(event_object(), 7);
  EXPECT_EQ(event_window(), 0);
}

TEST_F(Win32WindowEvents, RealMouseClick) {
  const HWND window = open_settled(0, 100, 80, 300, 200);
  POINT inside{150, 100};
  ClientToScreen(window, &inside);
  SetCursorPos(inside.x, inside.y);
  INPUT clicks[2] = {};
  clicks[0].type = clicks[1].type = INPUT_MOUSE;
  clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, clicks, sizeof(INPUT));
  EXPECT_EQ(codes_for(pump_events(), 0, {EVENT_LEFT_CLICK}), (std::vector<int>{EVENT_LEFT_CLICK}));
}

TEST_F(Win32WindowEvents, CloseBoxQueuesCloseAndUnlocksTheWait) {
  const HWND window = open_settled(3, 100, 80, 300, 200);
  const int unlock = static_cast<int>(RegisterWindowMessageW(L"QX_UnlockQueueEventMessage"));
  ASSERT_GE(unlock, 0xC000);

  // What the close box does: a system command whose default processing sends WM_CLOSE.
  PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  WaitGuard guard;
  EXPECT_EQ(window_wait_event(), WM_SYSCOMMAND);
  EXPECT_EQ(window_message_data().w_param, static_cast<std::intptr_t>(SC_CLOSE));
  EXPECT_EQ(window_wait_event(), EVENT_CLOSE);
  EXPECT_EQ(event_window(), 3);
  EXPECT_EQ(event_object(), 3);
  EXPECT_EQ(window_message_data().w_param, 0);
  bool unlocked = false;
  for (int i = 0; i < 20 && !unlocked; ++i) {
    unlocked = window_wait_event() == unlock;
  }
  EXPECT_TRUE(unlocked);
  EXPECT_EQ(window_exists(3), 1);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(Win32WindowEvents, CloseSentDuringAWaitReturnsTheUnlockMessage) {
  const HWND window = open_settled(0, 100, 80, 300, 200);
  const int unlock = static_cast<int>(RegisterWindowMessageW(L"QX_UnlockQueueEventMessage"));
  // The window procedure runs inside the wait for a message sent from
  // another thread; only the posted unlock message ends the wait.
  std::thread closer([window] { SendMessageW(window, WM_CLOSE, 0, 0); });
  {
    WaitGuard guard;
    EXPECT_EQ(window_wait_event(), unlock);
    EXPECT_EQ(window_wait_event(), EVENT_CLOSE);
    EXPECT_EQ(event_window(), 0);
  }
  closer.join();
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(window_exists(0), 1);
}

TEST_F(Win32WindowEvents, SizeChangedFromAnotherThreadEndsTheWait) {
  const HWND window = open_settled(0, 100, 80, 300, 200);
  const int unlock = static_cast<int>(RegisterWindowMessageW(L"QX_UnlockQueueEventMessage"));
  // Another program (or the system) resizing the window reaches the window
  // procedure inside the wait; the size event must not wait for some other
  // message to come along.
  std::thread resizer([window] { SetWindowPos(window, nullptr, 0, 0, 250, 180, SWP_NOMOVE | SWP_NOZORDER); });
  {
    WaitGuard guard;
    EXPECT_EQ(window_wait_event(), unlock);
    EXPECT_EQ(window_wait_event(), EVENT_SIZE);
  }
  resizer.join();
}

TEST_F(Win32WindowEvents, QuitIsAnOrdinaryMessage) {
  open_settled(0, 100, 80, 300, 200);
  PostQuitMessage(0);
  WaitGuard guard;
  EXPECT_EQ(window_wait_event(), WM_QUIT);
  // The loop goes on.
  PostMessageW(hwnd_of(0), WM_NULL, 5, 6);
  EXPECT_EQ(window_wait_event(), WM_NULL);
  EXPECT_EQ(window_message_data().w_param, 5);
  EXPECT_EQ(window_message_data().l_param, 6);
}

TEST_F(Win32WindowEvents, RetrievalWithoutWaiting) {
  open_settled(0, 100, 80, 300, 200);
  EXPECT_EQ(window_event(), 0);
  event_post(EVENT_MENU, 9, 0, 0);
  PostMessageW(hwnd_of(0), WM_NULL, 1, 2);
  EXPECT_EQ(window_event(), EVENT_MENU);  // queued events come first
  EXPECT_EQ(window_message_data().w_param, 0);
  EXPECT_EQ(window_event(), WM_NULL);
  EXPECT_EQ(window_message_data().l_param, 2);

  // A positive time-out waits for a message; none comes and it answers 0.
  MessageData data;
  EXPECT_EQ(platform::pump_message(30, data), 0);
  PostMessageW(hwnd_of(0), WM_USER + 7, 3, 4);
  EXPECT_EQ(platform::pump_message(1000, data), WM_USER + 7);
  EXPECT_EQ(data.w_param, 3);
}

TEST_F(Win32WindowEvents, AnsweredWithTheLastErrorCleared) {
  const HWND window = open_settled(0, 100, 80, 300, 200);
  SetLastError(1234);
  SendMessageW(window, WM_MOVE, 0, 0);
  EXPECT_EQ(GetLastError(), 0u);
  SetLastError(1234);
  SendMessageW(window, WM_USER + 20, 0, 0);
  EXPECT_EQ(GetLastError(), 0u);
}

// ---- Keyboard focus

class Win32Focus : public Win32Window {
 protected:
  void SetUp() override {
    Win32Window::SetUp();
    window_ = open_settled(0, 100, 80, 400, 400);
    ASSERT_TRUE(pump_until([&] { return GetActiveWindow() == window_ && GetForegroundWindow() == window_; }));
  }
  HWND window_ = nullptr;
};

TEST_F(Win32Focus, TabCommandsWrapAmongTabStops) {
  ChildWindow a(window_, L"BUTTON", WS_TABSTOP, 1);
  ChildWindow b(window_, L"EDIT", WS_TABSTOP | WS_BORDER, 2);
  ChildWindow no_stop(window_, L"BUTTON", 0, 3);
  ChildWindow disabled(window_, L"EDIT", WS_TABSTOP | WS_DISABLED, 4);
  ChildWindow hidden(window_, L"BUTTON", WS_TABSTOP, 5);
  ShowWindow(hidden.get(), SW_HIDE);
  ChildWindow e(window_, L"BUTTON", WS_TABSTOP, 6);

  const auto navigate = [&](WORD command) {
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(command, 1), 0);
    return GetFocus();
  };
  SetFocus(a.get());
  EXPECT_EQ(navigate(64001), b.get());
  EXPECT_EQ(navigate(64001), e.get());
  EXPECT_EQ(navigate(64001), a.get());
  EXPECT_EQ(navigate(64002), e.get());
  EXPECT_EQ(navigate(64002), b.get());
  EXPECT_EQ(navigate(64002), a.get());

  // From a control that is no stop: next keeps the focus, previous goes to the last.
  SetFocus(no_stop.get());
  EXPECT_EQ(navigate(64001), no_stop.get());
  EXPECT_EQ(navigate(64002), e.get());

  // Nothing focused: the first or the last stop.
  SetFocus(window_);
  EXPECT_EQ(navigate(64001), a.get());
  SetFocus(window_);
  EXPECT_EQ(navigate(64002), e.get());
  EXPECT_TRUE(codes_for(queued(), 0, {EVENT_MENU, EVENT_GADGET}).empty());  // navigation raises no event
}

TEST_F(Win32Focus, TabKeysGoThroughTheAccelerators) {
  ChildWindow a(window_, L"BUTTON", WS_TABSTOP, 1);
  ChildWindow b(window_, L"EDIT", WS_TABSTOP | WS_BORDER, 2);
  ChildWindow c(window_, L"BUTTON", WS_TABSTOP, 3);
  const auto after_keys = [&](bool shift) {
    HWND before = GetFocus();
    press_tab(shift);
    pump_until([&] { return GetFocus() != before; }, 2s);
    pump_events(100ms);
    return GetFocus();
  };
  SetFocus(a.get());
  EXPECT_EQ(after_keys(false), b.get());
  EXPECT_EQ(after_keys(false), c.get());
  EXPECT_EQ(after_keys(false), a.get());
  EXPECT_EQ(after_keys(true), c.get());
  EXPECT_EQ(after_keys(true), b.get());
}

TEST_F(Win32Focus, RichEditKeepsTabUnlessReadOnly) {
  const HMODULE rich_edit = LoadLibraryW(L"riched20.dll");
  ASSERT_NE(rich_edit, nullptr);
  ChildWindow a(window_, L"BUTTON", WS_TABSTOP, 1);
  ChildWindow editor(window_, L"RichEdit20W", WS_TABSTOP | ES_MULTILINE | WS_BORDER, 2);
  ChildWindow read_only(window_, L"RichEdit20W", WS_TABSTOP | ES_MULTILINE | ES_READONLY | WS_BORDER, 3);
  ASSERT_NE(editor.get(), nullptr);

  SetFocus(editor.get());
  press_tab();
  pump_events(200ms);
  EXPECT_EQ(GetFocus(), editor.get());
  wchar_t text[16] = {};
  GetWindowTextW(editor.get(), text, 16);
  EXPECT_STREQ(text, L"\t");

  SetFocus(read_only.get());
  press_tab();
  ASSERT_TRUE(pump_until([&] { return GetFocus() != read_only.get(); }));
  EXPECT_EQ(GetFocus(), a.get());
}

TEST_F(Win32Focus, HotkeyControlGetsTheTab) {
  ChildWindow a(window_, L"BUTTON", WS_TABSTOP, 1);
  ChildWindow hotkey(window_, L"EDIT", WS_TABSTOP | WS_BORDER, 2);
  SetPropW(hotkey.get(), L"QX_Hotkey", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(1)));
  SetFocus(hotkey.get());
  press_tab();
  pump_events(200ms);
  EXPECT_EQ(GetFocus(), hotkey.get());
  RemovePropW(hotkey.get(), L"QX_Hotkey");
}

TEST_F(Win32Focus, ReactivationRestoresTheFocus) {
  ChildWindow a(window_, L"BUTTON", WS_TABSTOP, 1);
  ChildWindow b(window_, L"EDIT", WS_TABSTOP | WS_BORDER, 2);
  SetFocus(b.get());
  window_open(1, 300, 300, 200, 100, u"Other", kMainWindowFlags | WF_NO_GADGET_LIST);
  pump_events(150ms);
  EXPECT_EQ(GetPropW(window_, L"QX_Focus"), b.get());

  window_close(1);
  SetForegroundWindow(window_);
  ASSERT_TRUE(pump_until([&] { return GetActiveWindow() == window_; }));
  EXPECT_EQ(GetFocus(), b.get());
}

TEST_F(Win32Focus, ActivationEvents) {
  window_open(1, 300, 300, 200, 100, u"Other", kMainWindowFlags);
  const std::initializer_list<int> kActivation = {EVENT_ACTIVATE, EVENT_DEACTIVATE};
  EXPECT_EQ(codes_for(queued(), 0, kActivation), (std::vector<int>{EVENT_DEACTIVATE}));
  EXPECT_EQ(codes_for(queued(), 1, kActivation), (std::vector<int>{EVENT_ACTIVATE}));
}

// Wine keeps no keyboard-cue state (WM_QUERYUISTATE always answers 0), so a
// probe in front of the window procedure keeps it the way Windows does and
// records what the library asks for.
class KeyboardCueProbe {
 public:
  explicit KeyboardCueProbe(HWND window) : window_(window) {
    hidden_ = 0;
    updates_.clear();
    previous_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&probe)));
  }
  ~KeyboardCueProbe() { SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_)); }
  KeyboardCueProbe(const KeyboardCueProbe&) = delete;
  KeyboardCueProbe& operator=(const KeyboardCueProbe&) = delete;

  static void hide() { hidden_ = UISF_HIDEFOCUS | UISF_HIDEACCEL; }
  [[nodiscard]] static WPARAM hidden() { return hidden_; }
  [[nodiscard]] static const std::vector<WPARAM>& updates() { return updates_; }

 private:
  static LRESULT CALLBACK probe(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    if (message == WM_QUERYUISTATE) {
      return static_cast<LRESULT>(hidden_);
    }
    if (message == WM_UPDATEUISTATE) {
      updates_.push_back(w_param);
      if (LOWORD(w_param) == UIS_SET) {
        hidden_ |= HIWORD(w_param);
      } else if (LOWORD(w_param) == UIS_CLEAR) {
        hidden_ &= ~static_cast<WPARAM>(HIWORD(w_param));
      }
    }
    return CallWindowProcW(previous_, window, message, w_param, l_param);
  }

  HWND window_;
  static inline WNDPROC previous_ = nullptr;
  static inline WPARAM hidden_ = 0;
  static inline std::vector<WPARAM> updates_;
};

TEST_F(Win32Focus, KeyboardCues) {
  ChildWindow a(window_, L"BUTTON", WS_TABSTOP, 1);
  ChildWindow b(window_, L"BUTTON", WS_TABSTOP, 2);
  SetFocus(a.get());
  KeyboardCueProbe probe(window_);

  // A modifier key shows hidden cues.
  KeyboardCueProbe::hide();
  send_keys({{VK_CONTROL, true}});
  pump_events(150ms);
  send_keys({{VK_CONTROL, false}});
  pump_events(100ms);
  EXPECT_EQ(KeyboardCueProbe::hidden(), 0u);
  ASSERT_FALSE(KeyboardCueProbe::updates().empty());
  EXPECT_EQ(KeyboardCueProbe::updates().front(), 0x30002u);

  // So does a translated Tab; shown cues are not shown again.
  KeyboardCueProbe::hide();
  press_tab();
  ASSERT_TRUE(pump_until([&] { return GetFocus() == b.get(); }));
  EXPECT_EQ(KeyboardCueProbe::hidden(), 0u);
  const std::size_t updates = KeyboardCueProbe::updates().size();
  send_keys({{VK_SHIFT, true}});
  pump_events(100ms);
  send_keys({{VK_SHIFT, false}});
  pump_events(100ms);
  EXPECT_EQ(KeyboardCueProbe::updates().size(), updates);

  // Deactivation hides them.
  window_open(1, 300, 300, 200, 100, u"Other", kMainWindowFlags | WF_NO_GADGET_LIST);
  EXPECT_EQ(KeyboardCueProbe::hidden(), static_cast<WPARAM>(UISF_HIDEFOCUS | UISF_HIDEACCEL));
  EXPECT_EQ(KeyboardCueProbe::updates().back(), 0x30001u);
}

// ---- Gadget containers and control messages

class Win32Gadgets : public Win32Window {
 protected:
  struct Call {
    ObjectNumber gadget;
    UINT message;
  };
  static inline std::vector<Call> calls;
  static inline LRESULT answer = MESSAGE_DECLINED;
  static LRESULT record_call(ObjectNumber gadget, HWND, UINT message, WPARAM, LPARAM) {
    calls.push_back({gadget, message});
    return answer;
  }
  void SetUp() override {
    Win32Window::SetUp();
    calls.clear();
    answer = MESSAGE_DECLINED;
  }
};

std::wstring marker_name() {
  return L"QX_GadgetStack_" + std::to_wstring(reinterpret_cast<std::intptr_t>(instance()));
}

TEST_F(Win32Gadgets, OpenedWindowBecomesTheContainer) {
  const HWND first = open_settled(0, 100, 80, 300, 200);
  EXPECT_EQ(gadget_container(), first);
  const HANDLE marker = GetPropW(first, marker_name().c_str());
  EXPECT_NE(marker, nullptr);
  WNDCLASSW info{};
  ASSERT_TRUE(GetClassInfoW(instance(), L"WindowClass_0", &info));
  const LONG_PTR procedure = GetWindowLongPtrW(first, GWLP_WNDPROC);
  EXPECT_NE(procedure, reinterpret_cast<LONG_PTR>(info.lpfnWndProc));

  // A window opened without the gadget list leaves the container alone.
  const HWND second = open_settled(1, 140, 120, 300, 200, kMainWindowFlags | WF_NO_GADGET_LIST);
  EXPECT_EQ(gadget_container(), first);
  EXPECT_EQ(GetPropW(second, marker_name().c_str()), nullptr);
  EXPECT_EQ(gadget_container_use(nullptr), first);
  EXPECT_EQ(gadget_container(), first);

  // Marking twice keeps the one marker and procedure.
  EXPECT_EQ(gadget_container_use(second), first);
  EXPECT_EQ(gadget_container_use(first), second);
  EXPECT_EQ(GetPropW(first, marker_name().c_str()), marker);
  EXPECT_EQ(GetWindowLongPtrW(first, GWLP_WNDPROC), procedure);

  // Messages still reach the window procedure behind the marker's.
  SendMessageW(first, WM_LBUTTONUP, 0, 0);
  EXPECT_TRUE(queued_contains(EVENT_LEFT_CLICK, 0));

  window_close(0);
  EXPECT_EQ(gadget_container(), nullptr);
}

TEST_F(Win32Gadgets, ControlMessagesGoToTheGadgetHandler) {
  const HWND window = open_settled(0, 100, 80, 300, 300);
  ChildWindow gadget(window, L"BUTTON", 0, 5);
  ChildWindow mismatched(window, L"BUTTON", 0, 6);
  ChildWindow plain(window, L"BUTTON", 0, 8);
  ChildWindow zero(window, L"BUTTON", 0, 0);
  SetPropW(gadget.get(), L"QX_ID", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(5)));
  SetPropW(mismatched.get(), L"QX_ID", reinterpret_cast<HANDLE>(static_cast<INT_PTR>(7)));
  SetPropW(zero.get(), L"QX_ID", nullptr);
  gadget_message_handler_set(record_call);

  const auto command = [&](HWND control, int id) {
    return SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
  };
  // Declined: the window procedure raises the gadget event itself.
  EXPECT_EQ(command(gadget.get(), 5), 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].gadget, 5);
  EXPECT_EQ(calls[0].message, static_cast<UINT>(WM_COMMAND));
  ASSERT_EQ(queued().size(), 1u);
  EXPECT_EQ(queued()[0].code, EVENT_GADGET);
  EXPECT_EQ(queued()[0].object, 5);
  EXPECT_EQ(queued()[0].type, BN_CLICKED);

  // A "QX_ID" that is not the control's id finds no handler.
  event_state().queue.clear();
  calls.clear();
  command(mismatched.get(), 6);
  EXPECT_TRUE(calls.empty());
  // A property holding 0 on a control with id 0 still names gadget 0.
  command(zero.get(), 0);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].gadget, 0);
  // No "QX_ID": nothing at all.
  calls.clear();
  event_state().queue.clear();
  command(plain.get(), 8);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(queued().empty());

  // Handled: no event.
  answer = 1234;
  EXPECT_EQ(command(gadget.get(), 5), 0);
  EXPECT_TRUE(queued().empty());
  NMHDR header{gadget.get(), 5, 0};
  EXPECT_EQ(SendMessageW(window, WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&header)), 1234);
  EXPECT_EQ(SendMessageW(window, WM_CTLCOLORBTN, 0, reinterpret_cast<LPARAM>(gadget.get())), 1234);
  EXPECT_EQ(SendMessageW(window, 13120, 0, reinterpret_cast<LPARAM>(gadget.get())), 1234);
  EXPECT_EQ(calls.back().message, 13120u);

  // Without a handler every control message is declined.
  gadget_message_handler_set(nullptr);
  calls.clear();
  EXPECT_EQ(SendMessageW(window, WM_NOTIFY, 5, reinterpret_cast<LPARAM>(&header)), 0);
  EXPECT_TRUE(calls.empty());
}

TEST_F(Win32Gadgets, MenuCommands) {
  const HWND window = open_settled(0, 100, 80, 300, 300);
  ChildWindow menu_like(window, L"BUTTON", 0, -10000);
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(33, 0), 0);
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(44, 1), 0);
  SendMessageW(window, WM_COMMAND, MAKEWPARAM(-10000, BN_CLICKED), reinterpret_cast<LPARAM>(menu_like.get()));
  const std::vector<Event> events = queued();
  ASSERT_EQ(codes_for(events, 0), (std::vector<int>{EVENT_MENU, EVENT_MENU, EVENT_MENU}));
  EXPECT_EQ(events[0].object, 33);
  EXPECT_EQ(events[1].object, 44);
  EXPECT_EQ(events[2].object, 0xD8F0);  // the low word of -10000
}

TEST_F(Win32Gadgets, TrackingLimits) {
  const HWND tool = open_settled(1, 100, 80, 200, 100, WF_TOOL_WINDOW | WF_SYSTEM_MENU);
  MINMAXINFO info{};
  SendMessageW(tool, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 1);

  const HWND window = open_settled(0, 100, 80, 300, 200);
  WindowRecord* record = window_record(0);
  record->min_width = 200;
  record->max_height = 500;
  RECT frame{};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(style_of(window)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  info = MINMAXINFO{};
  info.ptMinTrackSize.y = 77;
  SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize.x, 200 + frame.right - frame.left);
  EXPECT_EQ(info.ptMinTrackSize.y, 77);
  EXPECT_EQ(info.ptMaxTrackSize.y, 500 + frame.bottom - frame.top);
  EXPECT_EQ(info.ptMaxTrackSize.x, 0);
}

int colour_changes = 0;
LRESULT CALLBACK count_colour_changes(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message == WM_SYSCOLORCHANGE) {
    ++colour_changes;
  }
  return DefWindowProcW(window, message, w_param, l_param);
}

TEST_F(Win32Gadgets, ColourChangesReachEveryDescendant) {
  WNDCLASSW probe{};
  probe.lpfnWndProc = count_colour_changes;
  probe.hInstance = instance();
  probe.lpszClassName = L"VeltoColourProbe";
  RegisterClassW(&probe);
  const HWND window = open_settled(0, 100, 80, 300, 300);
  ChildWindow child(window, L"VeltoColourProbe", 0, 1);
  ChildWindow grandchild(child.get(), L"VeltoColourProbe", 0, 2);
  colour_changes = 0;
  SendMessageW(window, WM_SYSCOLORCHANGE, 0, 0);
  EXPECT_EQ(colour_changes, 2);
}

}  // namespace
}  // namespace velto
