#pragma once

// Posting to the engine's widget, in one place so that the tests can make it
// fail as it does when the thread's queue is full (Wine's queues have no
// quota).

#include "Core/WinApi.h"

namespace velto::webview {

struct QueueImports {
  BOOL(WINAPI* post)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

[[nodiscard]] QueueImports& queue_imports();

}  // namespace velto::webview
