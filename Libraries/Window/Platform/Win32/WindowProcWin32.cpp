#include <cwchar>

#include "Window/Events.h"
#include "WindowWin32.h"

namespace velto {

void gadget_message_handler_set(GadgetMessageHandler handler) noexcept {
  platform::win32_state().gadget_handler = handler;
}

}  // namespace velto

namespace velto::platform {

namespace {

// The library window a message belongs to: the first window from h up
// through its parents that carries "QX_WindowID" and comes from this module.
struct LibraryWindow {
  HWND window = nullptr;
  ObjectNumber number = -1;
  WindowRecord* record = nullptr;
};

LibraryWindow find_library_window(HWND window) noexcept {
  for (HWND candidate = window; candidate; candidate = GetParent(candidate)) {
    const HANDLE id = GetPropW(candidate, kWindowIdProperty);
    if (!id) {
      continue;
    }
    if (reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(candidate, GWLP_HINSTANCE)) != module_instance()) {
      return {};
    }
    const ObjectNumber number = reinterpret_cast<ObjectNumber>(id) - 1;
    return {candidate, number, window_record(number)};
  }
  return {};
}

bool class_is(HWND window, const wchar_t* name) noexcept {
  wchar_t class_name[32] = {};
  GetClassNameW(window, class_name, 32);
  return std::wcscmp(class_name, name) == 0;
}

// ---- Focus navigation (the Tab accelerators)

struct TabStops {
  HWND current = nullptr;
  bool current_found = false;
  HWND first = nullptr;
  HWND last = nullptr;
  HWND before = nullptr;  // the stop before the current one
  HWND after = nullptr;   // the stop after the current one
};

BOOL CALLBACK visit_tab_stop(HWND window, LPARAM stops_address) noexcept {
  auto* stops = reinterpret_cast<TabStops*>(stops_address);
  if (!IsWindowEnabled(window) || !IsWindowVisible(window) || !(GetWindowLongPtrW(window, GWL_STYLE) & WS_TABSTOP)) {
    return TRUE;
  }
  if (!stops->first) {
    stops->first = window;
  }
  if (stops->current_found && !stops->after) {
    stops->after = window;
  }
  if (window == stops->current && !stops->current_found) {
    stops->current_found = true;
    stops->before = stops->last;
  }
  stops->last = window;
  return TRUE;
}

void move_focus(bool forward) noexcept {
  const HWND active = GetActiveWindow();
  if (!active) {
    return;
  }
  const HWND focus = GetFocus();
  HWND root = active;
  HWND current = nullptr;
  if (focus && IsChild(active, focus)) {
    current = focus;
    for (HWND ancestor = focus; ancestor && ancestor != active; ancestor = GetParent(ancestor)) {
      // A document window keeps Tab among its own controls.
      if (class_is(ancestor, L"MDI_ChildClass")) {
        root = ancestor;
        if (ancestor == focus) {
          current = nullptr;
        }
        break;
      }
      // Composite controls count as one stop: their inner edit has the focus.
      if ((class_is(ancestor, L"ComboBoxEx32") && (GetWindowLongPtrW(ancestor, GWL_STYLE) & 0x1)) ||
          class_is(ancestor, L"SysIPAddress32")) {
        current = ancestor;
      }
    }
  }
  TabStops stops;
  stops.current = current;
  EnumChildWindows(root, visit_tab_stop, reinterpret_cast<LPARAM>(&stops));
  HWND target = nullptr;
  if (forward) {
    if (!current) {
      target = stops.first;
    } else if (stops.current_found) {
      target = stops.after ? stops.after : stops.first;
    }
  } else {
    target = stops.current_found && stops.before ? stops.before : stops.last;
  }
  if (target) {
    SetFocus(target);
  }
}

// ---- Gadget messages

LRESULT offer_to_gadget(HWND control, HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  const GadgetMessageHandler handler = win32_state().gadget_handler;
  HANDLE gadget = nullptr;
  if (!handler || !control || !has_property(control, kGadgetIdProperty, &gadget)) {
    return MESSAGE_DECLINED;
  }
  // A "QX_ID" that disagrees with the control's id is not a gadget of ours.
  const auto number = reinterpret_cast<ObjectNumber>(gadget);
  if (number != GetWindowLongPtrW(control, GWLP_ID)) {
    return MESSAGE_DECLINED;
  }
  return handler(number, window, message, w_param, l_param);
}

LRESULT on_command(HWND window, WPARAM w_param, LPARAM l_param, ObjectNumber n) {
  const auto control = reinterpret_cast<HWND>(l_param);
  if (!control) {
    if (HIWORD(w_param) == 0) {
      event_post(EVENT_MENU, static_cast<ObjectNumber>(w_param), n, 0);
    } else if (LOWORD(w_param) == kNextControlCommand || LOWORD(w_param) == kPreviousControlCommand) {
      move_focus(LOWORD(w_param) == kNextControlCommand);
    } else {
      event_post(EVENT_MENU, LOWORD(w_param), n, 0);
    }
    return 0;
  }
  if (offer_to_gadget(control, window, WM_COMMAND, w_param, l_param) != MESSAGE_DECLINED) {
    return 0;
  }
  HANDLE gadget = nullptr;
  if (GetWindowLongPtrW(control, GWLP_ID) == -10000) {
    event_post(EVENT_MENU, LOWORD(w_param), n, 0);
  } else if (has_property(control, kGadgetIdProperty, &gadget)) {
    event_post(EVENT_GADGET, reinterpret_cast<ObjectNumber>(gadget), n, HIWORD(w_param));
  }
  return 0;
}

// ---- Other messages with extra steps

LRESULT on_activate(HWND window, WPARAM w_param, ObjectNumber n) {
  const bool active = LOWORD(w_param) != WA_INACTIVE;
  if (active) {
    // Give the focus back to the control that had it; a stale handle could
    // by now name some other window.
    const auto focus = static_cast<HWND>(GetPropW(window, kFocusProperty));
    if (focus && (focus == window || IsChild(window, focus))) {
      SetFocus(focus);
    }
  } else {
    SetPropW(window, kFocusProperty, GetFocus());
    hide_keyboard_cues(window);
  }
  window_input_activate(n, active);
  return 1;
}

LRESULT on_size(HWND window, WPARAM kind, const LibraryWindow& library) {
  if (window != library.window) {
    return 1;
  }
  if (!library.record || !library.record->ready) {
    return MESSAGE_DECLINED;
  }
  switch (kind) {
    case SIZE_RESTORED:
      window_input_size(library.number, SizeKind::Restored);
      break;
    case SIZE_MINIMIZED:
      window_input_size(library.number, SizeKind::Minimized);
      break;
    case SIZE_MAXIMIZED:
      window_input_size(library.number, SizeKind::Maximized);
      break;
    default:
      window_input_size(library.number, SizeKind::Other);
      break;
  }
  return 0;
}

LRESULT on_min_max_info(HWND window, MINMAXINFO* info, const WindowRecord* record) {
  if (!record || !info) {
    return MESSAGE_DECLINED;
  }
  const auto ex_style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE));
  RECT frame{};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE, ex_style);
  const int frame_width = frame.right - frame.left;
  const int frame_height = frame.bottom - frame.top;
  if (record->min_width) {
    info->ptMinTrackSize.x = record->min_width + frame_width;
  } else if (ex_style & WS_EX_TOOLWINDOW) {
    info->ptMinTrackSize.x = 1;
  }
  if (record->min_height) {
    info->ptMinTrackSize.y = record->min_height + frame_height;
  }
  if (record->max_width) {
    info->ptMaxTrackSize.x = record->max_width + frame_width;
  }
  if (record->max_height) {
    info->ptMaxTrackSize.y = record->max_height + frame_height;
  }
  return 0;
}

BOOL CALLBACK forward_colour_change(HWND child, LPARAM) noexcept {
  SendMessageW(child, WM_SYSCOLORCHANGE, 0, 0);
  return TRUE;
}

LRESULT on_destroyed(HWND window, const LibraryWindow& library) {
  if (window != library.window) {
    return 1;
  }
  RemovePropW(window, kFocusProperty);
  RemovePropW(window, kWindowIdProperty);
  // The record may already hold a newer window under the same number.
  WindowRecord* record = library.record && library.record->handle == window ? library.record : nullptr;
  if (record) {
    record->data = WindowData{};
  }
  if (!record || !record->container) {
    UnregisterClassW(window_class_name(library.number).c_str(), module_instance());
  }
  if (record) {
    window_input_destroyed(library.number);
  }
  return 1;
}

LRESULT handle_message(HWND window, UINT message, WPARAM w_param, LPARAM l_param, const LibraryWindow& library) {
  const ObjectNumber n = library.number;
  switch (message) {
    case WM_ACTIVATE:
      return on_activate(window, w_param, n);
    case WM_SIZE:
      return on_size(window, w_param, library);
    case WM_MOVE:
      if (window == library.window) {
        window_input_move(n);
      }
      return 0;
    case WM_CLOSE:
      // Only an event: the window stays open until the program closes it.
      if (window == library.window) {
        window_input_close(n);
        // Queuing the close may already have sent the unlock message.
        const Win32State& state = win32_state();
        if (!(state.waiting && state.wake_posted)) {
          PostMessageW(state.post_window.get(), state.unlock_message, 0, 0);
        }
      }
      return 0;
    case WM_GETMINMAXINFO:
      return on_min_max_info(window, reinterpret_cast<MINMAXINFO*>(l_param), library.record);
    case WM_SYSCOLORCHANGE:
      if (library.record && !library.record->container) {
        EnumChildWindows(window, forward_colour_change, 0);
      }
      return MESSAGE_DECLINED;
    case WM_COMMAND:
      return on_command(window, w_param, l_param, n);
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(l_param);
      return offer_to_gadget(header ? header->hwndFrom : nullptr, window, message, w_param, l_param);
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case kGadgetControlMessage:
      return offer_to_gadget(reinterpret_cast<HWND>(l_param), window, message, w_param, l_param);
    case WM_LBUTTONUP:
      event_post(EVENT_LEFT_CLICK, 0, n, 0);
      return 0;
    case WM_RBUTTONUP:
      event_post(EVENT_RIGHT_CLICK, 0, n, 0);
      return 0;
    case WM_LBUTTONDBLCLK:
      event_post(EVENT_LEFT_DOUBLE_CLICK, 0, n, 0);
      return 0;
    case WM_ERASEBKGND:
      event_post(EVENT_REPAINT, 0, n, 0);
      return MESSAGE_DECLINED;
    case WM_TIMER:
      if (!library.record) {
        return MESSAGE_DECLINED;
      }
      event_post(EVENT_TIMER, static_cast<ObjectNumber>(w_param), n, 0);
      return 0;
    case WM_NCDESTROY:
      return on_destroyed(window, library);
    default:
      return MESSAGE_DECLINED;
  }
}

}  // namespace

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) noexcept {
  LRESULT answer = MESSAGE_DECLINED;
  try {
    answer = handle_message(window, message, w_param, l_param, find_library_window(window));
  } catch (...) {
    // Only running out of memory for an event gets here; nothing may unwind
    // into the system's code: the i686 compilers unwind with DWARF tables,
    // which cannot pass the system's frames, and the program would end. The
    // same holds for every function the system calls back (window
    // procedures, enumeration callbacks), which are noexcept and catch what
    // they may throw.
  }
  SetLastError(0);
  return answer == MESSAGE_DECLINED ? DefWindowProcW(window, message, w_param, l_param) : answer;
}

}  // namespace velto::platform
