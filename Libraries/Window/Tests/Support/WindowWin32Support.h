#pragma once

// For the tests of real Win32 windows.

#include "Core/WinApi.h"
#include "Window/Window.h"

namespace velto::testing {

// The native window of window `number`, null when there is none.
[[nodiscard]] HWND hwnd_of(ObjectNumber number);

}  // namespace velto::testing
