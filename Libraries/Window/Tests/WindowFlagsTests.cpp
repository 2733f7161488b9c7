#include <gtest/gtest.h>

#include "Window/Window.h"
#include "WindowFlags.h"

namespace velto {
namespace {

TEST(WindowFlags, DecodingTable) {
  struct Case {
    std::uint32_t flags;
    std::uint32_t style;  // creation style passed to the platform
    std::uint32_t ex_style;
    bool invisible, no_activate, gadget_list;
    int show;
  } cases[] = {
      // Title bar, system menu, sizable frame, minimise and maximise boxes.
      {0xCF0000, 0xCF0000, 0, false, false, true, 1},
      {0xCF0001, 0xCF0000, 0, false, false, true, 1},
      // Nothing else set: a plain captioned window.
      {0, WF_TITLE_BAR, 0, false, false, true, 1},
      {WF_INVISIBLE, WF_TITLE_BAR, 0, true, false, true, 1},
      {WF_CENTER_SCREEN | WF_NO_GADGET_LIST, WF_TITLE_BAR, 0, false, false, false, 1},
      // A tool window loses the minimise/maximise bits and boxes but keeps its caption.
      {WF_TOOL_WINDOW | WF_MAXIMIZE | WF_MINIMIZE_GADGET | WF_SYSTEM_MENU, WF_TITLE_BAR | WF_SYSTEM_MENU, 0x80, false,
       false, true, 1},
      {WF_SYSTEM_MENU | WF_MAXIMIZE, WF_SYSTEM_MENU | WF_MAXIMIZE, 0, false, false, true, 3},
      {WF_SYSTEM_MENU | WF_MAXIMIZE | WF_NO_ACTIVATE, WF_SYSTEM_MENU | WF_MAXIMIZE, 0, false, true, true, 8},
      {WF_SYSTEM_MENU | WF_MINIMIZE, WF_SYSTEM_MENU | WF_MINIMIZE, 0, false, false, true, 2},
      {WF_SYSTEM_MENU | WF_MINIMIZE | WF_NO_ACTIVATE, WF_SYSTEM_MENU | WF_MINIMIZE, 0, false, true, true, 7},
      {WF_SYSTEM_MENU | WF_NO_ACTIVATE, WF_SYSTEM_MENU, 0, false, true, true, 4},
      {WF_MAXIMIZE | WF_MINIMIZE, WF_MAXIMIZE | WF_MINIMIZE, 0, false, false, true, 3},
  };
  for (const auto& c : cases) {
    const DecodedFlags d = decode_window_flags(c.flags);
    SCOPED_TRACE(::testing::Message() << std::hex << "flags 0x" << c.flags);
    EXPECT_EQ(creation_style(d), c.style);
    EXPECT_EQ(d.ex_style, c.ex_style);
    EXPECT_EQ(d.invisible, c.invisible);
    EXPECT_EQ(d.no_activate, c.no_activate);
    EXPECT_EQ(d.gadget_list, c.gadget_list);
    EXPECT_EQ(show_command(d), c.show);
    EXPECT_EQ(sizing_style(d) & 0x7u, 0u);
  }
}

TEST(WindowFlags, DefaultPositionRule) {
  EXPECT_TRUE(uses_default_position(IGNORE, 10, 0));
  EXPECT_TRUE(uses_default_position(IGNORE, 10, WF_CENTER_SCREEN));
  EXPECT_TRUE(uses_default_position(10, IGNORE, 0));
  EXPECT_FALSE(uses_default_position(10, IGNORE, WF_CENTER_SCREEN));
  EXPECT_FALSE(uses_default_position(10, IGNORE, WF_CENTER_PARENT));
  EXPECT_FALSE(uses_default_position(0, 0, 0));
}

TEST(WindowFlags, CentringArithmetic) {
  struct Case {
    int width, height, screen_width, screen_height, x, y;
  } screen_cases[] = {
      {416, 739, 1280, 1024, 432, 142},
      {1281, 500, 1280, 1024, 0, 262},  // wider than the screen: 0 on that axis
      {3, 3, 10, 10, 3, 3},             // halves truncate
      {1280, 1024, 1280, 1024, 0, 0},
  };
  for (const auto& c : screen_cases) {
    const Point p = centre_on_screen(c.width, c.height, c.screen_width, c.screen_height);
    EXPECT_EQ(p.x, c.x);
    EXPECT_EQ(p.y, c.y);
  }
  const Point inside = centre_on_parent(Rect{100, 100, 500, 400}, 200, 100);
  EXPECT_EQ(inside.x, 200);
  EXPECT_EQ(inside.y, 200);
  const Point clamped = centre_on_parent(Rect{0, 0, 100, 100}, 300, 300);
  EXPECT_EQ(clamped.x, 0);
  EXPECT_EQ(clamped.y, 0);
  const Point toward_zero = centre_on_parent(Rect{50, 50, 61, 61}, 8, 8);
  EXPECT_EQ(toward_zero.x, 51);
}

}  // namespace
}  // namespace velto
