// Test helper for the Windows client under Wine: finds another program's
// top-level window by its title and moves, sizes, minimises or describes it,
// as the user (or the system) would.
//   window_tool <title> size <client width> <client height> [<x> <y>]
//   window_tool <title> minimize | maximize | restore
//   window_tool <title> query     prints: x y client-width client-height minimised maximised
#include <cstdio>
#include <cwchar>

#include "Core/WinApi.h"

namespace {

long number(const wchar_t* text) {
  return std::wcstol(text, nullptr, 10);
}

int resize(HWND window, int argc, wchar_t** argv) {
  RECT outer{};
  GetWindowRect(window, &outer);
  RECT frame{0, 0, number(argv[3]), number(argv[4])};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  const int x = argc > 6 ? static_cast<int>(number(argv[5])) : outer.left;
  const int y = argc > 6 ? static_cast<int>(number(argv[6])) : outer.top;
  return SetWindowPos(window, nullptr, x, y, frame.right - frame.left, frame.bottom - frame.top,
                      SWP_NOZORDER | SWP_NOACTIVATE)
             ? 0
             : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    return 2;
  }
  HWND window = FindWindowW(nullptr, argv[1]);
  if (!window) {
    return 3;
  }
  if (std::wcscmp(argv[2], L"size") == 0 && argc >= 5) {
    return resize(window, argc, argv);
  }
  if (std::wcscmp(argv[2], L"minimize") == 0) {
    ShowWindow(window, SW_MINIMIZE);
    return 0;
  }
  if (std::wcscmp(argv[2], L"maximize") == 0) {
    ShowWindow(window, SW_MAXIMIZE);
    return 0;
  }
  if (std::wcscmp(argv[2], L"restore") == 0) {
    ShowWindow(window, SW_RESTORE);
    return 0;
  }
  if (std::wcscmp(argv[2], L"query") == 0) {
    RECT outer{};
    RECT client{};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    std::printf("%ld %ld %ld %ld %d %d\n", outer.left, outer.top, client.right, client.bottom, IsIconic(window) ? 1 : 0,
                IsZoomed(window) ? 1 : 0);
    return 0;
  }
  return 2;
}
