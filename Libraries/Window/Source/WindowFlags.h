#pragma once

#include <cstdint>

namespace velto {

// window_open's flags decoded into a platform style S and extended style E.
struct DecodedFlags {
  std::uint32_t style = 0;     // S: the working style, library bits still in
  std::uint32_t ex_style = 0;  // E
  bool gadget_list = true;     // becomes the current gadget container
  bool invisible = false;
  bool no_activate = false;
  bool center_screen = false;
  bool center_parent = false;
};

[[nodiscard]] DecodedFlags decode_window_flags(std::uint32_t flags) noexcept;

// The style passed to the platform when creating the window.
[[nodiscard]] constexpr std::uint32_t creation_style(const DecodedFlags& d) noexcept {
  return d.style & 0xFDFFFFF8u;
}
// The style used to compute the outer size from the client size.
[[nodiscard]] constexpr std::uint32_t sizing_style(const DecodedFlags& d) noexcept {
  return d.style & ~0x7u;
}

// ShowWindow command for the first show: 1, 2, 3, 4, 7 or 8.
[[nodiscard]] int show_command(const DecodedFlags& d) noexcept;

// True when the requested position gives way to the platform's default.
[[nodiscard]] bool uses_default_position(int x, int y, std::uint32_t flags) noexcept;

struct Point {
  int x = 0;
  int y = 0;
};

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  [[nodiscard]] int width() const noexcept { return right - left; }
  [[nodiscard]] int height() const noexcept { return bottom - top; }
};

// Centring arithmetic: halves truncate toward zero; a window larger than the
// screen lands at 0 on that axis; a window centred on its parent never goes
// above or left of the screen's origin.
[[nodiscard]] Point centre_on_screen(int width, int height, int screen_width, int screen_height) noexcept;
[[nodiscard]] Point centre_on_parent(const Rect& parent, int width, int height) noexcept;

}  // namespace velto
