#pragma once

// Shared between the portable window code and the platform backend.

#include <cstdint>
#include <vector>

#include "Core/Registry.h"
#include "EventQueue.h"
#include "Window/Window.h"
#include "WindowData.h"  // the backend's own per-window fields
#include "WindowFlags.h"

namespace velto {

struct WindowRecord {
  NativeWindow handle = nullptr;  // empty: no window
  bool minmax = false;            // minimised or maximised
  bool ready = false;             // window_open has finished
  // Client-area tracking limits; 0 means none. Nothing sets them yet.
  std::uint16_t min_width = 0;
  std::uint16_t min_height = 0;
  std::uint16_t max_width = 0;
  std::uint16_t max_height = 0;
  NativeWindow container = nullptr;  // multiple-document container; never used
  platform::WindowData data{};
};

using WindowRegistry = Registry<WindowRecord>;

struct WindowLibraryState {
  WindowRegistry* registry = nullptr;
  NativeWindow container = nullptr;  // the current gadget container
  void* gadget_font = nullptr;       // set by the gadget library, never deleted
};

struct EventLibraryState {
  EventQueue queue;
  MessageData message;
};

[[nodiscard]] WindowLibraryState& window_state() noexcept;
[[nodiscard]] EventLibraryState& event_state() noexcept;

// Window record lookup for backends and the portable front.
[[nodiscard]] WindowRecord* window_record(ObjectNumber number) noexcept;

// ---- Calls a backend makes to report what happened (backends report, the
// portable side decides). n is the window number.
enum class SizeKind { Restored, Minimized, Maximized, Other };
void window_input_size(ObjectNumber n, SizeKind kind);
void window_input_close(ObjectNumber n);
void window_input_move(ObjectNumber n);
void window_input_activate(ObjectNumber n, bool active);
// The window is gone: forget its record and every event queued for it.
void window_input_destroyed(ObjectNumber n);
// A container window is gone: it no longer receives new gadgets.
void gadget_container_destroyed(NativeWindow window);

// ---- The backend contract. Numbers and records given here are valid.
namespace platform {

struct OpenRequest {
  ObjectNumber number;
  int x, y, width, height;
  TextView title;
  std::uint32_t flags;  // as passed
  DecodedFlags decoded;
  NativeWindow parent;
};

void event_loop_init();
void event_loop_end();
// One platform message: waits up to timeout ms (-1 without limit, 0 not at
// all). Answers the raw message number, or 0 when nothing was dispatched;
// a backend whose messages have no numbers answers a queued event instead.
int pump_message(int timeout, MessageData& data);
// An event was queued; a retrieval blocked in the platform's wait must return.
void event_queued();

void window_library_init();
void window_library_end();
// Creates, places and shows the window; fills record.handle. False on failure.
bool window_create(WindowRecord& record, const OpenRequest& request);
void window_destroy(WindowRecord& record, ObjectNumber n);
void window_resize(WindowRecord& record, int x, int y, int width, int height);
// Width and height are not negative.
void window_set_minimum_size(WindowRecord& record, int width, int height);
[[nodiscard]] Rect window_outer_rect(const WindowRecord& record);
// Client size (height includes a menu bar) and client origin on screen.
[[nodiscard]] Rect window_client_rect(const WindowRecord& record);
[[nodiscard]] ObjectNumber window_foreground();
[[nodiscard]] bool window_is_minimized(const WindowRecord& record);
[[nodiscard]] bool window_is_maximized(const WindowRecord& record);
[[nodiscard]] WindowPlacement window_normal_placement(const WindowRecord& record);
[[nodiscard]] bool work_area_intersects(const Rect& outer);
// Marks a window as a gadget container (once per window).
void container_mark(NativeWindow window);

}  // namespace platform

// ---- Message box and delay: the backend enumerates and shows, the portable
// side keeps the guard list and decides what to put aside.
namespace platform {

// A visible top-level window of the calling thread, as the guard sees it.
struct ModalCandidate {
  NativeWindow window = nullptr;
  bool topmost = false;     // in the topmost (keep-above) band
  bool foreground = false;  // the foreground window
  bool enabled = false;
};

// The foreground window when it belongs to this process, else none.
[[nodiscard]] NativeWindow message_box_owner();
// Appends the calling thread's visible top-level windows.
void modal_candidates(std::vector<ModalCandidate>& out);
void modal_set_enabled(NativeWindow window, bool enabled);
void modal_set_topmost(NativeWindow window, bool topmost);
// Shows the box and blocks until it is answered; 0 when it cannot be shown.
[[nodiscard]] int message_box_show(NativeWindow owner, TextView title, TextView text, std::uint32_t flags);
// Raises the timer resolution; called once, before the first delay.
void timer_resolution_raise();
void sleep_ms(int milliseconds);

}  // namespace platform

}  // namespace velto
