#include "Keys.h"

#include <algorithm>
#include <cmath>

namespace velto::webview {

namespace {

// Levels closer than this count as equal: WebKit keeps the level as a float.
constexpr double kSameLevel = 0.001;
// From one end of the levels to the other.
constexpr double kMostSteps = static_cast<double>(kZoomLevels.size());

}  // namespace

PageAction key_action(Key key, Modifiers modifiers) noexcept {
  if (modifiers.alt || modifiers.super) {
    return PageAction::Nothing;
  }
  if (key == Key::F5) {
    return modifiers.control || modifiers.shift ? PageAction::ReloadBypassingCache : PageAction::Reload;
  }
  if (!modifiers.control) {
    return PageAction::Nothing;
  }
  switch (key) {
    case Key::Plus:
    case Key::Equal:
    case Key::KeypadPlus:
      return PageAction::ZoomIn;
    case Key::Minus:
    case Key::KeypadMinus:
      return modifiers.shift ? PageAction::Nothing : PageAction::ZoomOut;
    case Key::Zero:
    case Key::KeypadZero:
      return modifiers.shift ? PageAction::Nothing : PageAction::ZoomReset;
    case Key::R:
      return modifiers.shift ? PageAction::ReloadBypassingCache : PageAction::Reload;
    case Key::Other:
    case Key::F5:
      break;
  }
  return PageAction::Nothing;
}

double zoom_after(PageAction action, double level) noexcept {
  switch (action) {
    case PageAction::ZoomIn: {
      const auto next = std::find_if(kZoomLevels.begin(), kZoomLevels.end(),
                                     [level](double step) { return step > level + kSameLevel; });
      return next == kZoomLevels.end() ? std::max(level, kZoomLevels.back()) : *next;
    }
    case PageAction::ZoomOut: {
      const auto next = std::find_if(kZoomLevels.rbegin(), kZoomLevels.rend(),
                                     [level](double step) { return step < level - kSameLevel; });
      return next == kZoomLevels.rend() ? std::min(level, kZoomLevels.front()) : *next;
    }
    case PageAction::ZoomReset:
      return 1.0;
    case PageAction::Nothing:
    case PageAction::Reload:
    case PageAction::ReloadBypassingCache:
      break;
  }
  return level;
}

int WheelZoom::turn(double down) noexcept {
  if (!std::isfinite(down) || down == 0.0) {
    return 0;
  }
  if ((down > 0.0) != (pending_ > 0.0) && pending_ != 0.0) {
    pending_ = 0.0;
  }
  pending_ += down;
  const double whole = std::trunc(pending_);
  pending_ -= whole;
  // A wild value from a driver counts as a turn from one end to the other.
  const double steps = std::clamp(whole, -kMostSteps, kMostSteps);
  return -static_cast<int>(steps);
}

}  // namespace velto::webview
