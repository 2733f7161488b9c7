#include "WindowFlags.h"

#include <algorithm>

#include "Window/Window.h"

namespace velto {

DecodedFlags decode_window_flags(std::uint32_t flags) noexcept {
  DecodedFlags d;
  d.center_screen = (flags & WF_CENTER_SCREEN) != 0;
  d.center_parent = (flags & WF_CENTER_PARENT) != 0;
  d.gadget_list = (flags & WF_NO_GADGET_LIST) == 0;
  std::uint32_t s = flags & ~WF_NO_GADGET_LIST;
  // Nothing but the placement and visibility bits: a plain captioned window.
  if ((flags & 0xEFFFFFF4u) == 0) {
    s |= WF_TITLE_BAR;
  }
  d.invisible = (s & WF_INVISIBLE) != 0;
  s &= ~WF_INVISIBLE;
  d.no_activate = (s & WF_NO_ACTIVATE) != 0;
  if (s & WF_TOOL_WINDOW) {
    s = (s & 0xDEFCFFFFu) | WF_TITLE_BAR;
    d.ex_style = 0x80;  // WS_EX_TOOLWINDOW
  }
  d.style = s;
  return d;
}

int show_command(const DecodedFlags& d) noexcept {
  if (d.style & WF_MAXIMIZE) {
    return d.no_activate ? 8 : 3;
  }
  if (d.style & WF_MINIMIZE) {
    return d.no_activate ? 7 : 2;
  }
  return d.no_activate ? 4 : 1;
}

bool uses_default_position(int x, int y, std::uint32_t flags) noexcept {
  return x == IGNORE || (y == IGNORE && (flags & (WF_CENTER_SCREEN | WF_CENTER_PARENT)) == 0);
}

Point centre_on_screen(int width, int height, int screen_width, int screen_height) noexcept {
  return {(screen_width - std::min(width, screen_width)) / 2, (screen_height - std::min(height, screen_height)) / 2};
}

Point centre_on_parent(const Rect& parent, int width, int height) noexcept {
  return {std::max(0, parent.left + (parent.width() - width) / 2),
          std::max(0, parent.top + (parent.height() - height) / 2)};
}

}  // namespace velto
