#pragma once

#include "Core/WinApi.h"

namespace velto {

// The window procedure of every gadget host: passes messages to the host's
// previous procedure and cleans the gadget up when the host is destroyed.
LRESULT CALLBACK gadget_window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) noexcept;

}  // namespace velto
