#pragma once

// Win32-only parts of the window library, for the other Win32 backends.

#include "Core/Types.h"
#include "Core/WinApi.h"

namespace velto {

// What a message handler answers when it leaves the message to the window
// procedure's own handling and then to default processing.
inline constexpr LRESULT MESSAGE_DECLINED = static_cast<LRESULT>(0xD0D0D0D1u);

// The gadget library's message handler: answers a message about one of its
// controls (WM_COMMAND, WM_NOTIFY, scrolling, control colours, 13120) sent to
// `window`, or MESSAGE_DECLINED. `gadget` is the control's gadget number.
using GadgetMessageHandler = LRESULT (*)(ObjectNumber gadget, HWND window, UINT message, WPARAM w_param,
                                         LPARAM l_param);

// Set by the gadget library at start-up; nullptr removes it. Without one,
// every control message is declined.
void gadget_message_handler_set(GadgetMessageHandler handler) noexcept;

}  // namespace velto
