// Test helper for the Windows client under Wine: resizes another program's
// top-level window, found by its title, to a given client size, as a user's
// drag of the frame would.
// Usage: window_resizer <title> <client width> <client height>
#include <cwchar>
#include <cwctype>

#include "Core/WinApi.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    return 2;
  }
  HWND window = FindWindowW(nullptr, argv[1]);
  if (!window) {
    return 3;
  }
  RECT outer{};
  GetWindowRect(window, &outer);
  RECT frame{0, 0, static_cast<LONG>(std::wcstol(argv[2], nullptr, 10)),
             static_cast<LONG>(std::wcstol(argv[3], nullptr, 10))};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  return SetWindowPos(window, nullptr, outer.left, outer.top, frame.right - frame.left, frame.bottom - frame.top,
                      SWP_NOZORDER | SWP_NOACTIVATE)
             ? 0
             : 1;
}
