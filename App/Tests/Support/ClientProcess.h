#pragma once

// The real client in the end-to-end tests: its window found as a user would
// see it, and closed as a user would close it.

#include "Desktop.h"

namespace velto::testing {

// Waits for the client's window into `window`; fails the test when none
// appeared.
void wait_for_client_window(const ChildProcess& client, unsigned long& window);

// Closes `window` through the window manager and expects the client to end
// with exit code 0 within 15 s.
void close_and_expect_exit_code_zero(ChildProcess& client, unsigned long window);

}  // namespace velto::testing
