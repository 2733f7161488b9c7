#pragma once

#include <cstdint>
#include <optional>

#include "Core/Types.h"

namespace velto {

// Platform window handle: an HWND on Windows, a GtkWindow* on GTK.
using NativeWindow = void*;

// Window flags of window_open. Bits 0 to 3, WF_NO_ACTIVATE and WF_INVISIBLE
// are the library's own; every other bit is a platform window style bit.
inline constexpr std::uint32_t WF_CENTER_SCREEN = 0x00000001;
inline constexpr std::uint32_t WF_CENTER_PARENT = 0x00000002;
inline constexpr std::uint32_t WF_TOOL_WINDOW = 0x00000004;
inline constexpr std::uint32_t WF_NO_GADGET_LIST = 0x00000008;
inline constexpr std::uint32_t WF_MAXIMIZE_GADGET = 0x00010000;
inline constexpr std::uint32_t WF_MINIMIZE_GADGET = 0x00020000;
inline constexpr std::uint32_t WF_SIZE_GADGET = 0x00040000;
inline constexpr std::uint32_t WF_SYSTEM_MENU = 0x00080000;
inline constexpr std::uint32_t WF_TITLE_BAR = 0x00C00000;
inline constexpr std::uint32_t WF_MAXIMIZE = 0x01000000;
inline constexpr std::uint32_t WF_NO_ACTIVATE = 0x02000000;
inline constexpr std::uint32_t WF_INVISIBLE = 0x10000000;
inline constexpr std::uint32_t WF_MINIMIZE = 0x20000000;

// Event codes returned by window_wait_event.
inline constexpr int EVENT_GADGET = 13100;
inline constexpr int EVENT_MENU = 13101;
inline constexpr int EVENT_TRAY = 13102;
inline constexpr int EVENT_ACTIVATE = 13104;
inline constexpr int EVENT_MINIMIZE = 13107;
inline constexpr int EVENT_MAXIMIZE = 13108;
inline constexpr int EVENT_RESTORE = 13109;
inline constexpr int EVENT_TIMER = 13110;
inline constexpr int EVENT_RIGHT_CLICK = 13111;
inline constexpr int EVENT_LEFT_CLICK = 13112;
inline constexpr int EVENT_LEFT_DOUBLE_CLICK = 13113;
inline constexpr int EVENT_DEACTIVATE = 13114;
inline constexpr int EVENT_REPAINT = 13115;
inline constexpr int EVENT_CLOSE = 13116;
inline constexpr int EVENT_MOVE = 13117;
inline constexpr int EVENT_SIZE = 13118;

// Start-up and end steps of the window library.
void event_queue_init();
void event_queue_end();
void menu_library_init();
void display_scale_init();
void window_library_init();
void window_library_end();
void window_library_extra_end();

// Opens window `number` (or a dynamic one for ANY_NUMBER) with the given
// outer-frame position and client size. Answers the native handle for a fixed
// number, the dynamic number for ANY_NUMBER, 0 on failure.
std::intptr_t window_open(ObjectNumber number, int x, int y, int width, int height, TextView title,
                          std::uint32_t flags, NativeWindow parent = nullptr);

[[nodiscard]] int window_exists(ObjectNumber number);

// Any argument may be IGNORE to keep the current value.
void window_resize(ObjectNumber number, int x, int y, int width, int height);

// Smallest client size the user can drag a sizable window to. Linux: size
// hints that the window manager enforces (window_resize below them gives the
// minimum too). Windows: does nothing; a program that needs a minimum there
// resizes the window back on EVENT_SIZE. A window without WF_SIZE_GADGET
// keeps its fixed size.
void window_set_minimum_size(ObjectNumber number, int width, int height);

// Geometry: mode 0 the outer frame, mode 1 the client area.
enum class GeometryMode : int { Outer = 0, Inner = 1 };
[[nodiscard]] int window_x(ObjectNumber number, GeometryMode mode = GeometryMode::Outer);
[[nodiscard]] int window_y(ObjectNumber number, GeometryMode mode = GeometryMode::Outer);
[[nodiscard]] int window_width(ObjectNumber number, GeometryMode mode = GeometryMode::Inner);
[[nodiscard]] int window_height(ObjectNumber number, GeometryMode mode = GeometryMode::Inner);

[[nodiscard]] NativeWindow window_handle(ObjectNumber number);

// Non-zero while the window is minimised.
[[nodiscard]] int window_minimized(ObjectNumber number);
// Non-zero while the window is maximised (and not minimised).
[[nodiscard]] int window_maximized(ObjectNumber number);

// Outer-frame position and client size of the window as it is (or was last)
// shown normally, neither minimised nor maximised: while it is minimised or
// maximised, the geometry that restoring it gives back. A window opened with
// WF_MAXIMIZE has the position and size it was opened with as that geometry.
struct WindowPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
[[nodiscard]] std::optional<WindowPlacement> window_normal_placement(ObjectNumber number);

// Whether an outer rectangle lies at least partly on the work area of one of
// the present monitors.
[[nodiscard]] bool screen_area_visible(int x, int y, int width, int height);

// Number of this program's foreground window, or -1.
[[nodiscard]] ObjectNumber window_active();

// Closes one window, or every window for ANY_NUMBER.
void window_close(ObjectNumber number);

// Makes `window` the container that gadgets created next go into; answers
// the previous container. 0 changes nothing.
NativeWindow gadget_container_use(NativeWindow window);
[[nodiscard]] NativeWindow gadget_container();
// The font every new gadget receives (an HFONT on Windows; unused on GTK).
void gadget_container_set_font(void* font);
[[nodiscard]] void* gadget_container_font();

// Next event code or platform message number; blocks.
int window_wait_event();
// Same without blocking: 0 when nothing is pending.
int window_event();

// Raw message parameters of the last platform message window_wait_event
// returned (all zero after a runtime event).
struct MessageData {
  std::intptr_t w_param = 0;
  std::intptr_t l_param = 0;
};
[[nodiscard]] MessageData window_message_data();

// Current event details.
[[nodiscard]] ObjectNumber event_window();
[[nodiscard]] ObjectNumber event_object();
[[nodiscard]] int event_type();

// Modal message box: flags are the Windows MB_ values (buttons in bits 0 to
// 3, icon in bits 4 to 7); answers the Windows button code (IDOK 1,
// IDCANCEL 2, IDYES 6, IDNO 7...), 0 when the box cannot be shown. The
// thread's other visible windows are put aside while it is open.
int message_box(TextView title, TextView text, std::uint32_t flags);

// Blocks the calling thread; negative values return at once. The event queue
// is not pumped meanwhile.
void delay_ms(int milliseconds);

}  // namespace velto
