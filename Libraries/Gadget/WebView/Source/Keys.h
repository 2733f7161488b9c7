#pragma once

// The browser's own keys where the engine lacks them (WebKitGTK): zoom and
// reload, as the Windows browser has them. Decisions only; a backend turns
// its key codes into Key and carries the action out.

#include <array>
#include <cstdint>

namespace velto::webview {

enum class Key : std::uint8_t {
  Other,
  Plus,
  Equal,  // the plus key's own character on most layouts
  Minus,
  Zero,
  KeypadPlus,
  KeypadMinus,
  KeypadZero,
  R,  // either case
  F5,
};

struct Modifiers {
  bool control = false;
  bool shift = false;
  bool alt = false;
  bool super = false;
};

enum class PageAction : std::uint8_t {
  Nothing,  // the key is the page's
  ZoomIn,
  ZoomOut,
  ZoomReset,
  Reload,
  ReloadBypassingCache,
};

// Ctrl with plus, = or keypad plus (Shift allowed: plus needs it on many
// layouts) zooms in, with minus out, with 0 back to the normal size. F5 and
// Ctrl+R reload; Shift+F5, Ctrl+F5 and Ctrl+Shift+R reload without the
// cache. Alt or Super make any key the page's.
[[nodiscard]] PageAction key_action(Key key, Modifiers modifiers) noexcept;

// The zoom levels the keys step through, as factors of the normal size.
inline constexpr std::array<double, 13> kZoomLevels{0.5,  0.67, 0.75, 0.8, 0.9, 1.0, 1.1,
                                                    1.25, 1.5,  1.75, 2.0, 2.5, 3.0};

// The level after `action` (ZoomIn, ZoomOut, ZoomReset) from `level`, which
// need not be one of kZoomLevels: the next one above or below it, staying
// within the ends. Any other action leaves `level` as it is.
[[nodiscard]] double zoom_after(PageAction action, double level) noexcept;

// Turns the wheel, turned with Ctrl held, into zoom steps. A wheel reports
// whole notches; a touchpad reports fractions, which add up until they make
// one. Turning the other way starts afresh.
class WheelZoom {
 public:
  // `down`: how far the wheel turned towards the user, in notches (negative
  // away from the user). Answers the zoom steps to take: positive to zoom
  // in (away from the user), negative to zoom out.
  [[nodiscard]] int turn(double down) noexcept;

 private:
  double pending_ = 0.0;
};

}  // namespace velto::webview
