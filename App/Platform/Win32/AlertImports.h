#pragma once

#include "Core/WinApi.h"

namespace velto::app::platform {

// The system calls behind the new-message alert, in one place so that the
// tests can watch them.
struct AlertImports {
  BOOL(WINAPI* play_sound)(LPCWSTR sound, HMODULE module, DWORD flags);
  BOOL(WINAPI* flash_window)(HWND window, BOOL invert);
};

[[nodiscard]] AlertImports& alert_imports();

}  // namespace velto::app::platform
