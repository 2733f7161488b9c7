// Real windows on the test display (Xvfb with openbox), driven and inspected
// from outside with xdotool, wmctrl, xprop and xwininfo, as a user would.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "Window/Events.h"
#include "Window/Window.h"
#include "Window/WindowNativeGtk.h"
#include "WindowGui.h"

// Last: Xlib's macros (None, Bool) clash with GoogleTest's names.
#include <gdk/gdkx.h>

extern char** environ;

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::capture;
using testing::ChildProcess;
using testing::client_geometry;
using testing::frame_extents;
using testing::Geometry;
using testing::succeeds;

constexpr auto kDeadline = 5s;
constexpr std::uint32_t kMainFlags = 0xCF0000;  // caption, system menu, sizable, both boxes

// ---- Running the X tools

std::string id_text(unsigned long xid) {
  return std::to_string(xid);
}

// The window manager's frame around the client; nothing without frame extents.
std::optional<Geometry> outer_geometry(unsigned long xid) {
  const auto client = client_geometry(xid);
  const auto e = frame_extents(xid);
  if (!client || !e) {
    return std::nullopt;
  }
  return Geometry{client->x - e->left, client->y - e->top, client->width + e->left + e->right,
                  client->height + e->top + e->bottom};
}

bool window_alive(unsigned long xid) {
  return succeeds("xwininfo -id " + id_text(xid));
}

bool map_state_is(unsigned long xid, const std::string& state) {
  return capture("xwininfo -id " + id_text(xid)).find("Map State: " + state) != std::string::npos;
}

bool net_state_has(unsigned long xid, const std::string& atom) {
  return capture("xprop -id " + id_text(xid) + " _NET_WM_STATE").find(atom) != std::string::npos;
}

unsigned long xid_of(ObjectNumber n) {
  auto* widget = static_cast<GtkWidget*>(window_handle(n));
  GdkWindow* window = widget ? gtk_widget_get_window(widget) : nullptr;
  return window ? GDK_WINDOW_XID(window) : 0;
}

// ---- Events

bool is_state_event(int code) {
  return code == EVENT_MINIMIZE || code == EVENT_MAXIMIZE || code == EVENT_RESTORE || code == EVENT_SIZE ||
         code == EVENT_CLOSE;
}

// Runtime events, gathered while the loop runs.
class EventLog {
 public:
  // Pumps until done() holds or the deadline passes; answers done().
  template <class Done>
  bool until(Done done) {
    const auto deadline = Clock::now() + kDeadline;
    while (!done()) {
      if (Clock::now() >= deadline) {
        return false;
      }
      if (const int code = window_event()) {
        if (code >= EVENT_GADGET && code <= EVENT_SIZE) {
          codes.push_back(code);
          windows.push_back(event_window());
        }
      } else {
        std::this_thread::sleep_for(2ms);
      }
    }
    return true;
  }

  // Pumps until `code` is in the log.
  bool until_event(int code) {
    return until([&] { return saw(code); });
  }

  bool saw(int code) const { return std::find(codes.begin(), codes.end(), code) != codes.end(); }

  // Size, state and close events in order; moves and activation left out.
  std::vector<int> state_events() const {
    std::vector<int> out;
    std::copy_if(codes.begin(), codes.end(), std::back_inserter(out), is_state_event);
    return out;
  }

  std::vector<int> codes;
  std::vector<ObjectNumber> windows;
};

class WindowGui : public testing::WindowGuiTest {
 protected:
  // Opens window `n`; its X window id, 0 when it did not open.
  unsigned long open(ObjectNumber n, int x, int y, int width, int height, std::uint32_t flags,
                     TextView title = u"Velto", NativeWindow parent = nullptr) {
    if (!window_open(n, x, y, width, height, title, flags, parent)) {
      return 0;
    }
    return xid_of(n);
  }

  EventLog log;
};

// ---- Opening

TEST_F(WindowGui, CentredOnTheScreenWithTheExactClientSizeAndTitle) {
  const unsigned long xid = open(0, 0, 0, 400, 700, 0xCF0001, u"Velto Чат");
  ASSERT_NE(xid, 0u);
  EXPECT_EQ(window_width(0), 400);
  EXPECT_EQ(window_height(0), 700);

  const auto client = client_geometry(xid);
  const auto outer = outer_geometry(xid);
  ASSERT_TRUE(client && outer);
  EXPECT_EQ(client->width, 400);
  EXPECT_EQ(client->height, 700);
  const Geometry screen = testing::screen_size();
  EXPECT_EQ(outer->x, (screen.width - outer->width) / 2);
  EXPECT_EQ(outer->y, (screen.height - outer->height) / 2);

  EXPECT_EQ(window_x(0), outer->x);
  EXPECT_EQ(window_y(0), outer->y);
  EXPECT_EQ(window_width(0, GeometryMode::Outer), outer->width);
  EXPECT_EQ(window_height(0, GeometryMode::Outer), outer->height);
  EXPECT_EQ(window_x(0, GeometryMode::Inner), client->x);
  EXPECT_EQ(window_y(0, GeometryMode::Inner), client->y);

  EXPECT_NE(capture("xprop -id " + id_text(xid) + " _NET_WM_NAME").find("\"Velto Чат\""), std::string::npos);
}

TEST_F(WindowGui, PositionNamesTheOuterFrame) {
  const struct {
    int x, y, width, height;
  } cases[] = {{100, 50, 300, 200}, {0, 0, 320, 240}, {333, 211, 180, 90}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
    const unsigned long xid = open(0, c.x, c.y, c.width, c.height, kMainFlags);
    ASSERT_NE(xid, 0u);
    const auto outer = outer_geometry(xid);
    const auto client = client_geometry(xid);
    ASSERT_TRUE(outer && client);
    EXPECT_EQ(outer->x, c.x);
    EXPECT_EQ(outer->y, c.y);
    EXPECT_EQ(client->width, c.width);
    EXPECT_EQ(client->height, c.height);
    EXPECT_EQ(window_x(0), c.x);
    EXPECT_EQ(window_y(0), c.y);
    EXPECT_EQ(window_width(0), c.width);
    EXPECT_EQ(window_height(0), c.height);
  }
}

TEST_F(WindowGui, IgnoredPositionLetsTheWindowManagerPlace) {
  const unsigned long xid = open(0, IGNORE, 40, 260, 180, kMainFlags);
  ASSERT_NE(xid, 0u);
  EXPECT_TRUE(map_state_is(xid, "IsViewable"));
  EXPECT_EQ(window_width(0), 260);
  EXPECT_EQ(window_height(0), 180);
  const auto outer = outer_geometry(xid);
  ASSERT_TRUE(outer);
  EXPECT_EQ(window_x(0), outer->x);
  EXPECT_EQ(window_y(0), outer->y);
}

TEST_F(WindowGui, CentredOnTheParentAndTransientForIt) {
  const unsigned long parent = open(0, 100, 100, 600, 500, kMainFlags);
  ASSERT_NE(parent, 0u);
  const unsigned long child = open(1, 0, 0, 200, 100, kMainFlags | WF_CENTER_PARENT, u"Child", window_handle(0));
  ASSERT_NE(child, 0u);
  const auto p = outer_geometry(parent);
  const auto c = outer_geometry(child);
  ASSERT_TRUE(p && c);
  EXPECT_EQ(c->x, p->x + (p->width - c->width) / 2);
  EXPECT_EQ(c->y, p->y + (p->height - c->height) / 2);
  EXPECT_NE(capture("xprop -id " + id_text(child) + " WM_TRANSIENT_FOR").find("0x"), std::string::npos);
}

TEST_F(WindowGui, InvisibleWindowStaysHidden) {
  const unsigned long xid = open(0, 10, 10, 200, 150, WF_INVISIBLE);
  ASSERT_NE(xid, 0u);
  EXPECT_NE(window_exists(0), 0);
  EXPECT_TRUE(map_state_is(xid, "IsUnMapped"));
  EXPECT_EQ(window_width(0), 200);
  EXPECT_EQ(window_height(0), 150);
  EXPECT_EQ(window_x(0), 10);
  EXPECT_EQ(window_y(0), 10);
  EXPECT_NE(window_active(), 0);
}

TEST_F(WindowGui, WindowWithoutSizableFrameHasAFixedSize) {
  const unsigned long xid = open(0, 20, 20, 300, 200, WF_TITLE_BAR | WF_SYSTEM_MENU);
  ASSERT_NE(xid, 0u);
  const std::string hints = capture("xprop -id " + id_text(xid) + " WM_NORMAL_HINTS");
  EXPECT_NE(hints.find("minimum size: 300 by 200"), std::string::npos) << hints;
  EXPECT_NE(hints.find("maximum size: 300 by 200"), std::string::npos) << hints;
  EXPECT_EQ(window_width(0), 300);
  EXPECT_EQ(window_height(0), 200);

  window_resize(0, IGNORE, IGNORE, 320, 240);
  EXPECT_TRUE(log.until([] { return window_width(0) == 320 && window_height(0) == 240; }));
  const auto client = client_geometry(xid);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->width, 320);
  EXPECT_EQ(client->height, 240);
}

TEST_F(WindowGui, OpeningAFixedNumberAgainClosesTheFirstWindow) {
  const unsigned long first = open(0, 10, 10, 200, 100, kMainFlags);
  ASSERT_NE(first, 0u);
  const unsigned long second = open(0, 20, 20, 220, 120, kMainFlags);
  ASSERT_NE(second, 0u);
  EXPECT_NE(first, second);
  EXPECT_TRUE(log.until([&] { return !window_alive(first); }));
  EXPECT_NE(window_exists(0), 0);
  EXPECT_EQ(window_width(0), 220);
}

TEST_F(WindowGui, DynamicNumbers) {
  const auto n = static_cast<ObjectNumber>(window_open(ANY_NUMBER, 10, 10, 150, 100, u"Dynamic", kMainFlags));
  ASSERT_NE(n, 0);
  EXPECT_NE(window_exists(n), 0);
  EXPECT_EQ(window_width(n), 150);
  const unsigned long xid = xid_of(n);
  window_close(n);
  EXPECT_EQ(window_exists(n), 0);
  EXPECT_TRUE(log.until([&] { return !window_alive(xid); }));
}

TEST_F(WindowGui, ClientAreaPlacesChildrenWithoutGrowingTheWindow) {
  const unsigned long xid = open(0, 10, 10, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  GtkFixed* area = window_client_area(window_handle(0));
  ASSERT_NE(area, nullptr);
  EXPECT_EQ(gtk_widget_get_toplevel(GTK_WIDGET(area)), window_handle(0));

  // A child larger than the client area, as a gadget may be.
  GtkWidget* child = gtk_drawing_area_new();
  gtk_widget_set_size_request(child, 400, 300);
  gtk_fixed_put(area, child, 10, 20);
  gtk_widget_show(child);
  GtkAllocation placed{};
  EXPECT_TRUE(log.until([&] {
    gtk_widget_get_allocation(child, &placed);
    return placed.width == 400;
  }));
  EXPECT_EQ(placed.x, 10);
  EXPECT_EQ(placed.y, 20);
  EXPECT_EQ(placed.height, 300);
  EXPECT_EQ(window_width(0), 300);
  EXPECT_EQ(window_height(0), 200);
  const std::string hints = capture("xprop -id " + id_text(xid) + " WM_NORMAL_HINTS");
  EXPECT_EQ(hints.find("minimum size: 400"), std::string::npos) << hints;

  EXPECT_EQ(window_client_area(nullptr), nullptr);
  GtkWidget* foreign = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  EXPECT_EQ(window_client_area(foreign), nullptr);
  gtk_widget_destroy(foreign);
}

TEST_F(WindowGui, GadgetContainerFollowsTheWindows) {
  ASSERT_NE(open(0, 10, 10, 150, 100, kMainFlags), 0u);
  NativeWindow first = window_handle(0);
  EXPECT_EQ(gadget_container(), first);
  ASSERT_NE(open(1, 200, 10, 150, 100, kMainFlags | WF_NO_GADGET_LIST), 0u);
  NativeWindow second = window_handle(1);
  EXPECT_EQ(gadget_container(), first);

  EXPECT_EQ(gadget_container_use(second), first);
  EXPECT_EQ(gadget_container_use(nullptr), second);
  EXPECT_EQ(gadget_container_use(first), second);  // marked before: simply taken again
  EXPECT_EQ(gadget_container(), first);

  // A destroyed container takes no more gadgets.
  window_close(0);
  EXPECT_EQ(gadget_container(), nullptr);
  EXPECT_EQ(gadget_container_use(second), nullptr);
  window_close(1);
  EXPECT_EQ(gadget_container(), nullptr);
}

// What the window manager makes of the flags.
TEST_F(WindowGui, FramesFollowTheFlags) {
  const struct {
    std::uint32_t flags;
    const char* property;
    const char* present;  // in the property's value, or nullptr
    const char* absent;   // nullptr for nothing
  } cases[] = {
      {kMainFlags, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE", nullptr},
      {kMainFlags, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MAXIMIZE_VERT", nullptr},
      {WF_TITLE_BAR | WF_SYSTEM_MENU, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_MOVE", "_NET_WM_ACTION_RESIZE"},
      {WF_TITLE_BAR | WF_SYSTEM_MENU, "_NET_WM_ALLOWED_ACTIONS", nullptr, "_NET_WM_ACTION_MAXIMIZE"},
      {WF_TITLE_BAR | WF_SIZE_GADGET, "_NET_WM_ALLOWED_ACTIONS", "_NET_WM_ACTION_RESIZE", nullptr},
      // Motif functions and decorations, for window managers that honour
      // them (openbox keeps its buttons whatever they say).
      {kMainFlags, "_MOTIF_WM_HINTS", "= 0x3, 0x3e, 0x7e,", nullptr},
      {WF_TITLE_BAR | WF_SIZE_GADGET, "_MOTIF_WM_HINTS", "= 0x3, 0x6, 0xe,", nullptr},
      {WF_TOOL_WINDOW, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_UTILITY", nullptr},
      {WF_TOOL_WINDOW, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR", nullptr},
      {0, "_NET_FRAME_EXTENTS", nullptr, "= 0, 0, 0, 0"},
      {0x80000000, "_NET_FRAME_EXTENTS", "= 0, 0, 0, 0", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << c.flags << " " << c.property);
    const unsigned long xid = open(0, 10, 10, 200, 100, c.flags);
    ASSERT_NE(xid, 0u);
    const std::string value = capture("xprop -id " + id_text(xid) + " " + c.property);
    if (c.present) {
      EXPECT_NE(value.find(c.present), std::string::npos) << value;
    }
    if (c.absent) {
      EXPECT_EQ(value.find(c.absent), std::string::npos) << value;
    }
    EXPECT_EQ(window_width(0), 200);
    EXPECT_EQ(window_height(0), 100);
  }
}

TEST_F(WindowGui, NoActivateLeavesTheFocusAlone) {
  ASSERT_NE(open(0, 10, 10, 200, 100, kMainFlags), 0u);
  ASSERT_TRUE(log.until([] { return window_active() == 0; }));
  const unsigned long quiet = open(1, 300, 10, 200, 100, kMainFlags | WF_NO_ACTIVATE);
  ASSERT_NE(quiet, 0u);
  EXPECT_TRUE(map_state_is(quiet, "IsViewable"));
  // The close request passes the window manager after the new window's map,
  // so any focus change the map caused has arrived before its event.
  ASSERT_TRUE(succeeds("wmctrl -i -c " + id_text(quiet)));
  ASSERT_TRUE(log.until_event(EVENT_CLOSE));
  EXPECT_EQ(window_active(), 0);
}

// Opening raises no move or size events, whatever the window manager sends
// late; the close request, which passes the window manager after everything
// the opening made it do, marks the end.
TEST_F(WindowGui, OpeningRaisesNoGeometryEvents) {
  const std::uint32_t flags[] = {kMainFlags, kMainFlags | WF_CENTER_SCREEN, kMainFlags | WF_MAXIMIZE,
                                 WF_TITLE_BAR | WF_SYSTEM_MENU};
  for (const std::uint32_t f : flags) {
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << f);
    EventLog events;
    const unsigned long xid = open(0, 30, 40, 300, 200, f);
    ASSERT_NE(xid, 0u);
    ASSERT_TRUE(succeeds("wmctrl -i -c " + id_text(xid)));
    ASSERT_TRUE(events.until_event(EVENT_CLOSE));
    EXPECT_EQ(events.state_events(), std::vector<int>{EVENT_CLOSE});
    EXPECT_FALSE(events.saw(EVENT_MOVE));
  }
}

TEST_F(WindowGui, OpeningMaximisedAndMinimised) {
  const unsigned long xid = open(0, 30, 40, 300, 200, kMainFlags | WF_MAXIMIZE);
  ASSERT_NE(xid, 0u);
  EXPECT_TRUE(net_state_has(xid, "_NET_WM_STATE_MAXIMIZED_VERT"));
  EXPECT_GT(window_width(0), 300);

  const unsigned long iconic = open(1, 30, 40, 300, 200, kMainFlags | WF_MINIMIZE);
  ASSERT_NE(iconic, 0u);
  EXPECT_TRUE(net_state_has(iconic, "_NET_WM_STATE_HIDDEN"));
  ASSERT_TRUE(succeeds("wmctrl -i -a " + id_text(iconic)));
  ASSERT_TRUE(log.until_event(EVENT_SIZE));
  EXPECT_EQ(log.state_events(), (std::vector<int>{EVENT_RESTORE, EVENT_SIZE}));
  EXPECT_EQ(window_width(1), 300);
  EXPECT_EQ(window_height(1), 200);
}

// ---- Geometry changes

TEST_F(WindowGui, ResizeKeepsWhatIsIgnored) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  const struct {
    int x, y, width, height;        // arguments
    int want_x, want_y, want_w, want_h;  // result
  } cases[] = {
      {IGNORE, IGNORE, 500, IGNORE, 50, 60, 500, 200},
      {120, IGNORE, IGNORE, 250, 120, 60, 500, 250},
      {IGNORE, IGNORE, IGNORE, IGNORE, 120, 60, 500, 250},
      {IGNORE, 90, IGNORE, IGNORE, 120, 90, 500, 250},
      {10, 20, 320, 240, 10, 20, 320, 240},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "resize to " << c.want_w << "x" << c.want_h << "+" << c.want_x << "+"
                                      << c.want_y);
    window_resize(0, c.x, c.y, c.width, c.height);
    // The resize waits for the window manager's answer, so this normally
    // holds at once; the loop only keeps a slow machine from failing it.
    EXPECT_TRUE(log.until([&] {
      return window_x(0) == c.want_x && window_y(0) == c.want_y && window_width(0) == c.want_w &&
             window_height(0) == c.want_h;
    })) << window_width(0) << "x" << window_height(0) << "+" << window_x(0) << "+" << window_y(0);
    const auto outer = outer_geometry(xid);
    const auto client = client_geometry(xid);
    ASSERT_TRUE(outer && client);
    EXPECT_EQ(outer->x, c.want_x);
    EXPECT_EQ(outer->y, c.want_y);
    EXPECT_EQ(client->width, c.want_w);
    EXPECT_EQ(client->height, c.want_h);
  }
}

TEST_F(WindowGui, ResizeRaisesSizeEvent) {
  ASSERT_NE(open(0, 50, 60, 300, 200, kMainFlags), 0u);
  window_resize(0, IGNORE, IGNORE, 310, 220);
  ASSERT_TRUE(log.until_event(EVENT_SIZE));
  EXPECT_EQ(log.state_events(), std::vector<int>{EVENT_SIZE});
}

TEST_F(WindowGui, UserResizeRaisesSizeEvent) {
  const unsigned long xid = open(0, 50, 60, 400, 700, kMainFlags);
  ASSERT_NE(xid, 0u);
  ASSERT_TRUE(succeeds("xdotool windowsize " + id_text(xid) + " 200 300"));
  ASSERT_TRUE(log.until_event(EVENT_SIZE));
  EXPECT_TRUE(log.until([] { return window_width(0) == 200 && window_height(0) == 300; }));
  EXPECT_EQ(log.windows.back(), 0);

  // Back to the size the program asked for last: still a real change.
  window_resize(0, IGNORE, IGNORE, 400, 700);
  EXPECT_TRUE(log.until([] { return window_width(0) == 400 && window_height(0) == 700; }));
}

TEST_F(WindowGui, UserMoveRaisesMoveEvent) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  const auto e = frame_extents(xid);
  ASSERT_TRUE(e);
  ASSERT_TRUE(succeeds("xdotool windowmove " + id_text(xid) + " 200 150"));
  ASSERT_TRUE(log.until_event(EVENT_MOVE));
  std::optional<Geometry> outer;
  EXPECT_TRUE(log.until([&] {
    outer = outer_geometry(xid);
    return outer && outer->x != 50;
  }));
  ASSERT_TRUE(outer);
  EXPECT_EQ(window_x(0), outer->x);
  EXPECT_EQ(window_y(0), outer->y);
  EXPECT_FALSE(log.saw(EVENT_SIZE));
}

TEST_F(WindowGui, MinimiseThenRestore) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  ASSERT_TRUE(succeeds("xdotool windowminimize " + id_text(xid)));
  ASSERT_TRUE(log.until_event(EVENT_MINIMIZE));
  ASSERT_TRUE(succeeds("wmctrl -i -a " + id_text(xid)));
  ASSERT_TRUE(log.until_event(EVENT_SIZE));
  // Minimising raises no size event; restoring raises restore, then size.
  EXPECT_EQ(log.state_events(), (std::vector<int>{EVENT_MINIMIZE, EVENT_RESTORE, EVENT_SIZE}));
  EXPECT_EQ(window_width(0), 300);
  EXPECT_EQ(window_height(0), 200);
}

TEST_F(WindowGui, MaximiseThenResizeLeavesTheMaximisedState) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  ASSERT_TRUE(succeeds("wmctrl -i -r " + id_text(xid) + " -b add,maximized_vert,maximized_horz"));
  ASSERT_TRUE(log.until_event(EVENT_SIZE));
  // The frame fills the screen once openbox has also dropped its borders.
  const Geometry screen = testing::screen_size();
  EXPECT_TRUE(log.until([&] { return window_width(0, GeometryMode::Outer) == screen.width; }));
  EXPECT_EQ(log.state_events(), (std::vector<int>{EVENT_MAXIMIZE, EVENT_SIZE}));

  // All IGNORE on a maximised window: it is restored with the maximised geometry.
  const int x = window_x(0), y = window_y(0), width = window_width(0), height = window_height(0);
  log.codes.clear();
  window_resize(0, IGNORE, IGNORE, IGNORE, IGNORE);
  EXPECT_TRUE(log.until([&] { return !net_state_has(xid, "_NET_WM_STATE_MAXIMIZED_VERT"); }));
  EXPECT_TRUE(log.until_event(EVENT_SIZE));
  EXPECT_EQ(log.state_events().front(), EVENT_RESTORE);
  EXPECT_TRUE(log.until([&] {
    return window_x(0) == x && window_y(0) == y && window_width(0) == width && window_height(0) == height;
  })) << window_width(0) << "x" << window_height(0) << "+" << window_x(0) << "+" << window_y(0);
}

bool placement_is(ObjectNumber n, int x, int y, int width, int height) {
  const auto normal = window_normal_placement(n);
  return normal && normal->x == x && normal->y == y && normal->width == width && normal->height == height;
}

std::string placement_text(ObjectNumber n) {
  const auto normal = window_normal_placement(n).value_or(WindowPlacement{-1, -1, -1, -1});
  return std::to_string(normal.width) + "x" + std::to_string(normal.height) + "+" + std::to_string(normal.x) + "+" +
         std::to_string(normal.y);
}

// While maximised, the normal placement is the geometry that un-maximising
// gives back, even though the window manager reports the maximised size in
// between.
TEST_F(WindowGui, MaximisedWindowKeepsItsNormalPlacement) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  EXPECT_EQ(window_maximized(0), 0);
  ASSERT_TRUE(succeeds("wmctrl -i -r " + id_text(xid) + " -b add,maximized_vert,maximized_horz"));
  const Geometry screen = testing::screen_size();
  ASSERT_TRUE(log.until([&] { return window_width(0, GeometryMode::Outer) == screen.width; }));
  ASSERT_TRUE(log.until_event(EVENT_SIZE));
  EXPECT_EQ(window_maximized(0), 1);
  EXPECT_EQ(window_minimized(0), 0);
  EXPECT_TRUE(placement_is(0, 50, 60, 300, 200)) << placement_text(0);

  ASSERT_TRUE(succeeds("wmctrl -i -r " + id_text(xid) + " -b remove,maximized_vert,maximized_horz"));
  EXPECT_TRUE(log.until([&] {
    return window_maximized(0) == 0 && window_x(0) == 50 && window_y(0) == 60 && window_width(0) == 300 &&
           window_height(0) == 200;
  })) << window_width(0) << "x" << window_height(0) << "+" << window_x(0) << "+" << window_y(0);
  EXPECT_TRUE(placement_is(0, 50, 60, 300, 200)) << placement_text(0);
}

// Opened maximised, the window's normal geometry is the one it was opened
// with (centred, when asked): un-maximising it gives that geometry.
TEST_F(WindowGui, OpenedMaximisedItRestoresToTheGeometryAskedFor) {
  const Geometry screen = testing::screen_size();
  const struct {
    std::uint32_t flags;
    bool centred;
  } cases[] = {{kMainFlags | WF_MAXIMIZE, false}, {kMainFlags | WF_MAXIMIZE | WF_CENTER_SCREEN, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << c.flags);
    EventLog events;
    const unsigned long xid = open(0, 130, 90, 320, 240, c.flags);
    ASSERT_NE(xid, 0u);
    EXPECT_TRUE(net_state_has(xid, "_NET_WM_STATE_MAXIMIZED_VERT"));
    EXPECT_TRUE(net_state_has(xid, "_NET_WM_STATE_MAXIMIZED_HORZ"));
    EXPECT_EQ(window_maximized(0), 1);
    EXPECT_TRUE(events.until([&] { return window_width(0, GeometryMode::Outer) == screen.width; }));
    const auto normal = window_normal_placement(0);
    ASSERT_TRUE(normal);
    EXPECT_EQ(normal->width, 320);
    EXPECT_EQ(normal->height, 240);
    if (!c.centred) {
      EXPECT_EQ(normal->x, 130);
      EXPECT_EQ(normal->y, 90);
    }

    ASSERT_TRUE(succeeds("wmctrl -i -r " + id_text(xid) + " -b remove,maximized_vert,maximized_horz"));
    EXPECT_TRUE(events.until([&] {
      return window_maximized(0) == 0 && window_x(0) == normal->x && window_y(0) == normal->y &&
             window_width(0) == 320 && window_height(0) == 240;
    })) << window_width(0) << "x" << window_height(0) << "+" << window_x(0) << "+" << window_y(0) << ", normal "
        << placement_text(0);
    const auto outer = outer_geometry(xid);
    const auto client = client_geometry(xid);
    ASSERT_TRUE(outer && client);
    EXPECT_EQ(outer->x, normal->x);
    EXPECT_EQ(outer->y, normal->y);
    EXPECT_EQ(client->width, 320);
    EXPECT_EQ(client->height, 240);
    if (c.centred) {
      EXPECT_EQ(outer->x, (screen.width - outer->width) / 2);
      EXPECT_EQ(outer->y, (screen.height - outer->height) / 2);
    }
    window_close(0);
  }
}

// ---- Minimum size

TEST_F(WindowGui, TheWindowManagerKeepsTheMinimumSize) {
  const unsigned long xid = open(0, 50, 60, 400, 700, kMainFlags);
  ASSERT_NE(xid, 0u);
  window_set_minimum_size(0, 290, 400);
  const std::string hints = capture("xprop -id " + id_text(xid) + " WM_NORMAL_HINTS");
  EXPECT_NE(hints.find("program specified minimum size: 290 by 400"), std::string::npos) << hints;
  EXPECT_EQ(hints.find("maximum size"), std::string::npos) << hints;

  // The library itself never resizes the window back: the window manager does not let it get smaller.
  ASSERT_TRUE(succeeds("xdotool windowsize " + id_text(xid) + " 200 300"));
  EXPECT_TRUE(log.until([] { return window_width(0) == 290 && window_height(0) == 400; }))
      << window_width(0) << "x" << window_height(0);
  ASSERT_TRUE(succeeds("xdotool windowsize " + id_text(xid) + " 500 300"));
  EXPECT_TRUE(log.until([] { return window_width(0) == 500 && window_height(0) == 400; }))
      << window_width(0) << "x" << window_height(0);
  const auto client = client_geometry(xid);
  ASSERT_TRUE(client);
  EXPECT_EQ(client->width, 500);
  EXPECT_EQ(client->height, 400);
}

TEST_F(WindowGui, AWindowWithoutSizableFrameKeepsItsFixedSize) {
  const unsigned long xid = open(0, 20, 20, 300, 200, WF_TITLE_BAR | WF_SYSTEM_MENU);
  ASSERT_NE(xid, 0u);
  window_set_minimum_size(0, 290, 400);
  const std::string hints = capture("xprop -id " + id_text(xid) + " WM_NORMAL_HINTS");
  EXPECT_NE(hints.find("minimum size: 300 by 200"), std::string::npos) << hints;
  EXPECT_NE(hints.find("maximum size: 300 by 200"), std::string::npos) << hints;
}

// ---- Close box, closing, focus, clicks

TEST_F(WindowGui, CloseBoxRaisesCloseAndKeepsTheWindow) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  ASSERT_TRUE(succeeds("wmctrl -i -c " + id_text(xid)));
  ASSERT_TRUE(log.until_event(EVENT_CLOSE));
  EXPECT_EQ(event_window(), 0);
  EXPECT_EQ(event_object(), 0);
  EXPECT_NE(window_exists(0), 0);
  EXPECT_TRUE(map_state_is(xid, "IsViewable"));

  window_close(0);
  EXPECT_EQ(window_exists(0), 0);
  EXPECT_EQ(window_handle(0), nullptr);
  EXPECT_TRUE(log.until([&] { return !window_alive(xid); }));
}

TEST_F(WindowGui, ActiveWindowFollowsTheFocus) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags | WF_CENTER_SCREEN);
  ASSERT_NE(xid, 0u);
  ASSERT_TRUE(log.until([] { return window_active() == 0; }));
  EXPECT_TRUE(log.until_event(EVENT_ACTIVATE));

  // The C locale keeps X toolkit programs from warning about fonts.
  ChildProcess other({"xmessage", "-title", "velto-focus-probe", "-geometry", "+5+5", "focus probe"}, {"LC_ALL=C"});
  ASSERT_GT(other.pid(), 0);
  const std::string found = capture("xdotool search --sync --name '^velto-focus-probe$'");
  const unsigned long other_id = std::strtoul(found.c_str(), nullptr, 10);
  ASSERT_NE(other_id, 0u);
  ASSERT_TRUE(succeeds("xdotool windowactivate " + id_text(other_id)));
  EXPECT_TRUE(log.until([] { return window_active() == -1; }));
  EXPECT_TRUE(log.until_event(EVENT_DEACTIVATE));

  ASSERT_TRUE(succeeds("xdotool windowactivate " + id_text(xid)));
  EXPECT_TRUE(log.until([] { return window_active() == 0; }));
}

TEST_F(WindowGui, ClicksOnTheClientArea) {
  const unsigned long xid = open(0, 50, 60, 300, 200, kMainFlags);
  ASSERT_NE(xid, 0u);
  const struct {
    const char* action;
    int event;
  } cases[] = {{"click 1", EVENT_LEFT_CLICK}, {"click 3", EVENT_RIGHT_CLICK},
               {"click --repeat 2 --delay 50 1", EVENT_LEFT_DOUBLE_CLICK}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    ASSERT_TRUE(succeeds("xdotool mousemove --window " + id_text(xid) + " 40 40 " + c.action));
    EXPECT_TRUE(log.until_event(c.event));
  }
}

// ---- Without a display

TEST(WindowNoDisplay, OpeningFailsCleanly) {
  if (!std::getenv("VELTO_NO_DISPLAY_CHILD")) {
    GTEST_SKIP() << "runs in the child started by WindowGui.WithoutADisplayNothingOpens";
  }
  event_queue_init();
  window_library_init();
  EXPECT_EQ(window_open(0, 0, 0, 100, 100, u"x", kMainFlags), 0);
  EXPECT_EQ(window_exists(0), 0);
  EXPECT_EQ(window_event(), 0);
  EXPECT_EQ(window_active(), -1);
  window_library_end();
}

TEST_F(WindowGui, WithoutADisplayNothingOpens) {
  const std::string self = capture("readlink /proc/" + std::to_string(getpid()) + "/exe");
  ASSERT_FALSE(self.empty());
  const std::string path = self.substr(0, self.find('\n'));
  const std::string report = capture("env -u DISPLAY -u WAYLAND_DISPLAY VELTO_NO_DISPLAY_CHILD=1 '" + path +
                                     "' --gtest_filter=WindowNoDisplay.* --gtest_color=no");
  EXPECT_NE(report.find("[  PASSED  ] 1 test."), std::string::npos) << report;
}

}  // namespace
}  // namespace velto
