#pragma once

// Shared by the files of the Win32 window backend.

#include <cstdint>
#include <memory>
#include <type_traits>

#include "Core/WinApi.h"
#include "Window/WindowNativeWin32.h"
#include "WindowInternal.h"

namespace velto::platform {

inline constexpr wchar_t kWindowIdProperty[] = L"QX_WindowID";  // window number + 1
inline constexpr wchar_t kFocusProperty[] = L"QX_Focus";
inline constexpr wchar_t kGadgetIdProperty[] = L"QX_ID";
inline constexpr wchar_t kHotkeyProperty[] = L"QX_Hotkey";
inline constexpr wchar_t kPostEventClass[] = L"PostEventClass";

// Commands of the two Tab accelerators every window has.
inline constexpr WORD kNextControlCommand = 64001;
inline constexpr WORD kPreviousControlCommand = 64002;
// The runtime's own control message, handled by gadgets only.
inline constexpr UINT kGadgetControlMessage = 13120;

// A prefix followed by a signed decimal number, in a fixed buffer so that
// window procedures can form class and property names without allocating.
class NumberedName {
 public:
  NumberedName(const wchar_t* prefix, std::intptr_t value) noexcept;
  [[nodiscard]] const wchar_t* c_str() const noexcept { return text_; }

 private:
  static constexpr std::size_t kPrefixMax = 32;
  wchar_t text_[kPrefixMax + 24] = {};
};

struct IconFree {
  void operator()(HICON icon) const noexcept { DestroyIcon(icon); }
};
using IconHandle = std::unique_ptr<std::remove_pointer_t<HICON>, IconFree>;

struct WindowDestroy {
  void operator()(HWND window) const noexcept { DestroyWindow(window); }
};
using WindowHandle = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroy>;

// The backend's part of the window library's state.
struct Win32State {
  IconHandle icon;            // icon resource 1 of the program, when it has one
  HCURSOR cursor = nullptr;   // the shared arrow cursor; not owned
  WindowHandle post_window;   // hidden; receives the unlock message
  UINT unlock_message = 0;
  DWORD main_thread = 0;
  bool waiting = false;      // the retrieval is blocked in GetMessageW
  bool wake_posted = false;  // an unlock message is on its way to end that wait
  GadgetMessageHandler gadget_handler = nullptr;
};
[[nodiscard]] Win32State& win32_state() noexcept;

[[nodiscard]] HINSTANCE module_instance() noexcept;
[[nodiscard]] NumberedName window_class_name(ObjectNumber n) noexcept;

// Whether the window carries the property, even one holding 0; its value
// goes to *value when asked.
[[nodiscard]] bool has_property(HWND window, const wchar_t* name, HANDLE* value = nullptr) noexcept;

// The record of a window of this process that carries "QX_WindowID", or nullptr.
[[nodiscard]] WindowRecord* record_of_window(HWND window) noexcept;

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w_param, LPARAM l_param) noexcept;

void show_keyboard_cues(HWND window) noexcept;
void hide_keyboard_cues(HWND window) noexcept;

}  // namespace velto::platform
