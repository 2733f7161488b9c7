#include <cwchar>

#include "WindowWin32.h"

namespace velto::platform {

namespace {

constexpr UINT kAllInput = QS_ALLINPUT | QS_ALLPOSTMESSAGE;  // 0x5FF
constexpr WPARAM kHideFocusAndAccelerators = UISF_HIDEFOCUS | UISF_HIDEACCEL;
// Rich-edit options query and its read-only bit (richedit.h's EM_GETOPTIONS, ECO_READONLY).
constexpr UINT kRichEditGetOptions = 0x44E;
constexpr LRESULT kRichEditReadOnly = 0x800;

bool key_down(int key) noexcept {
  return (GetKeyState(key) & 0x80) != 0;
}

bool tab_is_accelerator(const WindowData& data) noexcept {
  for (std::int32_t i = 0; i < data.accelerator_count; ++i) {
    const AcceleratorEntry& entry = data.accelerator_entries[static_cast<std::size_t>(i)];
    if (entry.key == VK_TAB && entry.command == kNextControlCommand) {
      return true;
    }
  }
  return false;
}

// Rich-edit and Scintilla controls take a plain Tab themselves.
bool control_takes_tab(HWND control) noexcept {
  wchar_t class_name[17] = {};
  GetClassNameW(control, class_name, 17);
  if (std::wcsncmp(class_name, L"RichE", 5) == 0 || std::wcsncmp(class_name, L"RICH", 4) == 0) {
    return (SendMessageW(control, kRichEditGetOptions, 0, 0) & kRichEditReadOnly) == 0;
  }
  return std::wcscmp(class_name, L"Scintilla") == 0;
}

HACCEL choose_accelerators(HWND active) noexcept {
  WindowRecord* record = record_of_window(active);
  const HWND focus = GetFocus();
  const bool modifiers = key_down(VK_CONTROL) || key_down(VK_SHIFT) || key_down(VK_MENU);
  bool leave_tab = false;
  if (focus && record && tab_is_accelerator(record->data) && key_down(VK_TAB) && !modifiers) {
    leave_tab = control_takes_tab(focus);
  }
  if (active && modifiers) {
    show_keyboard_cues(active);
  }
  // A hot-key control takes every key itself, Tab included.
  if (leave_tab || !record || (focus && GetPropW(focus, kHotkeyProperty))) {
    return nullptr;
  }
  return static_cast<HACCEL>(record->data.accelerators.get());
}

}  // namespace

void show_keyboard_cues(HWND window) noexcept {
  const LRESULT hidden = SendMessageW(window, WM_QUERYUISTATE, 0, 0);
  if (hidden & static_cast<LRESULT>(kHideFocusAndAccelerators)) {
    SendMessageW(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_CLEAR, kHideFocusAndAccelerators), 0);
  }
}

void hide_keyboard_cues(HWND window) noexcept {
  const LRESULT hidden = SendMessageW(window, WM_QUERYUISTATE, 0, 0);
  if ((hidden & static_cast<LRESULT>(kHideFocusAndAccelerators)) != static_cast<LRESULT>(kHideFocusAndAccelerators)) {
    SendMessageW(window, WM_UPDATEUISTATE, MAKEWPARAM(UIS_SET, kHideFocusAndAccelerators), 0);
  }
}

void event_loop_init() {
  Win32State& state = win32_state();
  const HINSTANCE instance = module_instance();
  WNDCLASSW post_class{};
  post_class.style = CS_DBLCLKS;
  post_class.lpfnWndProc = DefWindowProcW;
  post_class.hInstance = instance;
  post_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  post_class.lpszClassName = kPostEventClass;
  RegisterClassW(&post_class);
  // Never shown: it only receives the unlock message.
  state.post_window.reset(
      CreateWindowExW(0, kPostEventClass, L"", WS_CAPTION, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr));
  state.unlock_message = RegisterWindowMessageW(L"QX_UnlockQueueEventMessage");
  state.main_thread = GetCurrentThreadId();
}

void event_loop_end() {
  win32_state().post_window.reset();
  UnregisterClassW(kPostEventClass, module_instance());
}

// GetMessageW runs sent messages (another thread's SetWindowPos, the
// system's own changes) inside its wait and returns only for posted ones, so
// an event they queue would wait for some unrelated message. The unlock
// message ends the wait instead, as it does after a close.
void event_queued() {
  Win32State& state = win32_state();
  if (state.waiting && !state.wake_posted && state.post_window) {
    state.wake_posted = PostMessageW(state.post_window.get(), state.unlock_message, 0, 0) != FALSE;
  }
}

int pump_message(int timeout, MessageData& data) {
  MSG message{};
  if (timeout == -1) {
    // The result is deliberately not examined: WM_QUIT comes back as 18 like
    // any other message.
    Win32State& state = win32_state();
    state.waiting = true;
    state.wake_posted = false;
    GetMessageW(&message, nullptr, 0, 0);
    state.waiting = false;
  } else if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
    if (timeout == 0 ||
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout), kAllInput) == WAIT_TIMEOUT ||
        !PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_NOYIELD)) {
      return 0;
    }
  }

  const HWND active = GetActiveWindow();
  const HACCEL accelerators = choose_accelerators(active);
  if (accelerators && TranslateAcceleratorW(active, accelerators, &message)) {
    if (active) {
      show_keyboard_cues(active);
    }
  } else {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  data.w_param = static_cast<std::intptr_t>(message.wParam);
  data.l_param = message.lParam;
  return static_cast<int>(message.message);
}

}  // namespace velto::platform
