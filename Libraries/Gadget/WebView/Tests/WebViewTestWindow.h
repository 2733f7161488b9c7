#pragma once

// A top-level window to host the browser in, and a bounded message pump.

#include <chrono>
#include <vector>

#include "Core/WinApi.h"

namespace velto::webview::testing {

class ParentWindow {
 public:
  ParentWindow();
  ~ParentWindow();
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;

  [[nodiscard]] HWND handle() const { return handle_; }
  [[nodiscard]] std::vector<HWND> children() const;

 private:
  HWND handle_ = nullptr;
};

// Dispatches the thread's messages until `done` holds or `limit` passes.
template <class Done>
bool pump_until(Done done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  MSG message;
  for (int round = 0; round < 100000; ++round) {
    for (int i = 0; i < 10000 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done() || std::chrono::steady_clock::now() >= deadline) {
      break;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return done();
}

inline void pump_for(std::chrono::milliseconds time) {
  pump_until([] { return false; }, time);
}

}  // namespace velto::webview::testing
