#pragma once

namespace velto::app {

// Behind the chat page's "qx_notify_new_message": when the user is not
// looking at the client (another window in front, or the client minimised),
// plays the desktop's new-message sound and flashes the main window once.
// The call's arguments are not looked at. Never a result text.
char* new_message_alert(const char16_t* arguments);

}  // namespace velto::app
