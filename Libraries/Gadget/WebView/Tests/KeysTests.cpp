// The browser keys the engine adds where the browser lacks them, and the
// zoom levels they step through.

#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "Keys.h"

namespace velto::webview {
namespace {

using Action = PageAction;

constexpr Modifiers kNone{};
constexpr Modifiers kCtrl{.control = true};
constexpr Modifiers kShift{.shift = true};
constexpr Modifiers kCtrlShift{.control = true, .shift = true};
constexpr Modifiers kCtrlAlt{.control = true, .alt = true};
constexpr Modifiers kCtrlSuper{.control = true, .super = true};

TEST(PageKeys, Table) {
  struct Case {
    Key key;
    Modifiers modifiers;
    Action action;
  };
  const std::vector<Case> cases{
      {Key::Plus, kCtrl, Action::ZoomIn},
      {Key::Plus, kCtrlShift, Action::ZoomIn},  // plus is a shifted key on many layouts
      {Key::Equal, kCtrl, Action::ZoomIn},
      {Key::KeypadPlus, kCtrl, Action::ZoomIn},
      {Key::Minus, kCtrl, Action::ZoomOut},
      {Key::KeypadMinus, kCtrl, Action::ZoomOut},
      {Key::Minus, kCtrlShift, Action::Nothing},
      {Key::Zero, kCtrl, Action::ZoomReset},
      {Key::KeypadZero, kCtrl, Action::ZoomReset},
      {Key::Zero, kCtrlShift, Action::Nothing},
      {Key::F5, kNone, Action::Reload},
      {Key::F5, kShift, Action::ReloadBypassingCache},
      {Key::F5, kCtrl, Action::ReloadBypassingCache},
      {Key::R, kCtrl, Action::Reload},
      {Key::R, kCtrlShift, Action::ReloadBypassingCache},
      // Without Ctrl these are the page's characters.
      {Key::Plus, kNone, Action::Nothing},
      {Key::Minus, kShift, Action::Nothing},
      {Key::Zero, kNone, Action::Nothing},
      {Key::R, kNone, Action::Nothing},
      {Key::R, kShift, Action::Nothing},
      // Alt and Super belong to the page or the desktop.
      {Key::Plus, kCtrlAlt, Action::Nothing},
      {Key::R, kCtrlSuper, Action::Nothing},
      {Key::F5, Modifiers{.alt = true}, Action::Nothing},
      {Key::Other, kCtrl, Action::Nothing},
      {Key::Other, kNone, Action::Nothing},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(key_action(c.key, c.modifiers), c.action)
        << "key " << static_cast<int>(c.key) << " ctrl " << c.modifiers.control << " shift " << c.modifiers.shift;
  }
}

TEST(PageKeys, ZoomSteps) {
  struct Case {
    Action action;
    double from;
    double to;
  };
  const std::vector<Case> cases{
      {Action::ZoomIn, 1.0, 1.1},
      {Action::ZoomIn, 1.1, 1.25},
      {Action::ZoomOut, 1.0, 0.9},
      {Action::ZoomOut, 0.9, 0.8},
      // Between two levels: the next one in that direction.
      {Action::ZoomIn, 1.2, 1.25},
      {Action::ZoomOut, 1.2, 1.1},
      // WebKit keeps the level as a float: 1.1 comes back as 1.100000024.
      {Action::ZoomIn, 1.100000024, 1.25},
      {Action::ZoomOut, 1.100000024, 1.0},
      // The ends hold.
      {Action::ZoomIn, 3.0, 3.0},
      {Action::ZoomOut, 0.5, 0.5},
      {Action::ZoomIn, 4.0, 4.0},
      {Action::ZoomIn, 0.2, 0.5},
      {Action::ZoomOut, 0.2, 0.2},
      {Action::ZoomOut, 4.0, 3.0},
      {Action::ZoomReset, 2.5, 1.0},
      {Action::Reload, 2.5, 2.5},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(zoom_after(c.action, c.from), c.to) << static_cast<int>(c.action) << " from " << c.from;
  }
  // Every level is reached from the normal size, and only those.
  double level = 1.0;
  for (int i = 0; i < 20; ++i) {
    level = zoom_after(Action::ZoomIn, level);
  }
  EXPECT_DOUBLE_EQ(level, kZoomLevels.back());
  for (int i = 0; i < 20; ++i) {
    level = zoom_after(Action::ZoomOut, level);
  }
  EXPECT_DOUBLE_EQ(level, kZoomLevels.front());
}

TEST(PageKeys, WheelNotchesAndTouchpadFractions) {
  WheelZoom wheel;
  EXPECT_EQ(wheel.turn(-1.0), 1);  // away from the user: in
  EXPECT_EQ(wheel.turn(1.0), -1);
  EXPECT_EQ(wheel.turn(3.0), -3);
  // Fractions add up to a step.
  EXPECT_EQ(wheel.turn(-0.4), 0);
  EXPECT_EQ(wheel.turn(-0.4), 0);
  EXPECT_EQ(wheel.turn(-0.4), 1);
  // What is left over is dropped when the direction changes.
  EXPECT_EQ(wheel.turn(0.9), 0);
  EXPECT_EQ(wheel.turn(0.2), -1);
  EXPECT_EQ(wheel.turn(0.0), 0);
  // A wild value goes no further than from one end of the levels to the other.
  EXPECT_EQ(wheel.turn(1e300), -static_cast<int>(kZoomLevels.size()));
  EXPECT_EQ(wheel.turn(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(wheel.turn(-std::numeric_limits<double>::infinity()), 0);
}

}  // namespace
}  // namespace velto::webview
