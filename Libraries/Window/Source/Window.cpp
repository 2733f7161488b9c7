#include "Window/Window.h"

#include <algorithm>

#include "Core/Heap.h"
#include "Window/Events.h"
#include "WindowInternal.h"

namespace velto {

namespace {

void release_window(ObjectNumber number) {
  window_close(number);
}

}  // namespace

WindowLibraryState& window_state() noexcept {
  static WindowLibraryState state;
  return state;
}

WindowRecord* window_record(ObjectNumber number) noexcept {
  WindowRegistry* registry = window_state().registry;
  return registry ? registry_get(*registry, number) : nullptr;
}

void menu_library_init() {
  // No menus are made in this program; the step keeps its place.
}

void display_scale_init() {
  // Display scaling is off: positions and sizes pass to the platform unchanged.
}

void window_library_init() {
  WindowLibraryState& state = window_state();
  if (!state.registry) {
    state.registry = registry_create<WindowRecord>(16, release_window);
  }
  platform::window_library_init();
}

void window_library_end() {
  WindowLibraryState& state = window_state();
  if (state.registry) {
    window_close(ANY_NUMBER);
  }
  platform::window_library_end();
}

void window_library_extra_end() {
  // The window library loads no extra module in this program; the step keeps
  // its place.
}

std::intptr_t window_open(ObjectNumber number, int x, int y, int width, int height, TextView title,
                          std::uint32_t flags, NativeWindow parent) {
  WindowLibraryState& state = window_state();
  if (!state.registry || (number < 0 && number != ANY_NUMBER)) {
    return 0;
  }
  // A fixed number that holds a window has it closed first, by the registry.
  WindowRecord* record = registry_alloc(*state.registry, number);
  if (!record) {
    return 0;
  }
  const ObjectNumber n = number == ANY_NUMBER ? WindowRegistry::number_of(*record) : number;
  platform::OpenRequest request{n, x, y, width, height, title, flags, decode_window_flags(flags), parent};
  record->ready = false;
  if (!platform::window_create(*record, request)) {
    registry_free(*state.registry, n);
    return 0;
  }
  record->minmax = (request.decoded.style & (WF_MINIMIZE | WF_MAXIMIZE)) != 0;
  if (request.decoded.gadget_list) {
    gadget_container_use(record->handle);
  }
  record->ready = true;
  return number == ANY_NUMBER ? n : reinterpret_cast<std::intptr_t>(record->handle);
}

int window_exists(ObjectNumber number) {
  return window_record(number) ? 1 : 0;
}

void window_resize(ObjectNumber number, int x, int y, int width, int height) {
  if (WindowRecord* record = window_record(number)) {
    platform::window_resize(*record, x, y, width, height);
  }
}

void window_set_minimum_size(ObjectNumber number, int width, int height) {
  if (WindowRecord* record = window_record(number)) {
    platform::window_set_minimum_size(*record, std::max(0, width), std::max(0, height));
  }
}

int window_x(ObjectNumber number, GeometryMode mode) {
  const WindowRecord* record = window_record(number);
  if (!record) {
    return 0;
  }
  return mode == GeometryMode::Outer ? platform::window_outer_rect(*record).left
                                     : platform::window_client_rect(*record).left;
}

int window_y(ObjectNumber number, GeometryMode mode) {
  const WindowRecord* record = window_record(number);
  if (!record) {
    return 0;
  }
  return mode == GeometryMode::Outer ? platform::window_outer_rect(*record).top
                                     : platform::window_client_rect(*record).top;
}

int window_width(ObjectNumber number, GeometryMode mode) {
  const WindowRecord* record = window_record(number);
  if (!record) {
    return 0;
  }
  return mode == GeometryMode::Outer ? platform::window_outer_rect(*record).width()
                                     : platform::window_client_rect(*record).width();
}

int window_height(ObjectNumber number, GeometryMode mode) {
  const WindowRecord* record = window_record(number);
  if (!record) {
    return 0;
  }
  return mode == GeometryMode::Outer ? platform::window_outer_rect(*record).height()
                                     : platform::window_client_rect(*record).height();
}

NativeWindow window_handle(ObjectNumber number) {
  const WindowRecord* record = window_record(number);
  return record ? record->handle : nullptr;
}

int window_minimized(ObjectNumber number) {
  const WindowRecord* record = window_record(number);
  return record && platform::window_is_minimized(*record) ? 1 : 0;
}

int window_maximized(ObjectNumber number) {
  const WindowRecord* record = window_record(number);
  return record && platform::window_is_maximized(*record) ? 1 : 0;
}

std::optional<WindowPlacement> window_normal_placement(ObjectNumber number) {
  const WindowRecord* record = window_record(number);
  if (!record) {
    return std::nullopt;
  }
  return platform::window_normal_placement(*record);
}

bool screen_area_visible(int x, int y, int width, int height) {
  return platform::work_area_intersects(Rect{x, y, x + width, y + height});
}

ObjectNumber window_active() {
  return platform::window_foreground();
}

void window_close(ObjectNumber number) {
  WindowLibraryState& state = window_state();
  if (!state.registry) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*state.registry);
    return;
  }
  WindowRecord* record = window_record(number);
  if (!record) {
    return;
  }
  platform::window_destroy(*record, number);
  event_remove_window(number);
  // The backend reports the destruction through window_input_destroyed; make
  // sure the slot is free even if the platform did not.
  if (window_record(number)) {
    registry_free(*state.registry, number);
  }
}

NativeWindow gadget_container_use(NativeWindow window) {
  WindowLibraryState& state = window_state();
  NativeWindow previous = state.container;
  if (!window) {
    return previous;
  }
  platform::container_mark(window);
  state.container = window;
  return previous;
}

NativeWindow gadget_container() {
  return window_state().container;
}

void gadget_container_set_font(void* font) {
  window_state().gadget_font = font;
}

void* gadget_container_font() {
  return window_state().gadget_font;
}

void gadget_container_destroyed(NativeWindow window) {
  WindowLibraryState& state = window_state();
  if (state.container == window) {
    state.container = nullptr;
  }
}

// ---- Backend reports

void window_input_size(ObjectNumber n, SizeKind kind) {
  WindowRecord* record = window_record(n);
  if (!record || !record->ready) {
    return;
  }
  switch (kind) {
    case SizeKind::Restored:
      if (record->minmax) {
        record->minmax = false;
        event_post(EVENT_RESTORE, 0, n, 0);
      }
      event_remove(EVENT_SIZE, 0, n, 0);
      event_post(EVENT_SIZE, 0, n, 0);
      break;
    case SizeKind::Minimized:
      record->minmax = true;
      event_post(EVENT_MINIMIZE, 0, n, 0);
      break;
    case SizeKind::Maximized:
      // A size event already queued stays where it is.
      record->minmax = true;
      event_post(EVENT_MAXIMIZE, 0, n, 0);
      event_post(EVENT_SIZE, 0, n, 0);
      break;
    case SizeKind::Other:
      event_remove(EVENT_SIZE, 0, n, 0);
      event_post(EVENT_SIZE, 0, n, 0);
      break;
  }
}

void window_input_close(ObjectNumber n) {
  event_post(EVENT_CLOSE, n, n, 0);
}

void window_input_move(ObjectNumber n) {
  const WindowRecord* record = window_record(n);
  if (record && record->ready) {
    event_post(EVENT_MOVE, n, n, 0);
  }
}

void window_input_activate(ObjectNumber n, bool active) {
  event_post(active ? EVENT_ACTIVATE : EVENT_DEACTIVATE, 0, n, 0);
}

void window_input_destroyed(ObjectNumber n) {
  WindowLibraryState& state = window_state();
  if (state.registry && registry_find(*state.registry, n)) {
    registry_free(*state.registry, n);
  }
  event_remove_window(n);
}

}  // namespace velto
