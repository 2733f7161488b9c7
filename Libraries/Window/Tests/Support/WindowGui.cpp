#include "WindowGui.h"

#include <chrono>
#include <thread>

#include "Window/Events.h"
#include "Window/Window.h"

namespace velto::testing {

void WindowGuiTest::SetUpTestSuite() {
  if (have_display()) {
    event_queue_init();
    window_library_init();
  }
}

void WindowGuiTest::TearDownTestSuite() {
  if (have_display()) {
    window_library_end();
  }
}

void WindowGuiTest::SetUp() {
  if (!have_display()) {
    GTEST_SKIP() << "DISPLAY is not set: GUI tests need an X display with a window manager "
                    "(run them through Scripts/with-display)";
  }
  ASSERT_TRUE(succeeds("wmctrl -m")) << "no window manager on the display";
}

void WindowGuiTest::TearDown() {
  if (!have_display()) {
    return;
  }
  window_close(ANY_NUMBER);
  // Lets the closed windows' last notifications through, then forgets them.
  for (int i = 0; i < 20; ++i) {
    if (!window_event()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  event_remove(-1, -1, -1, -1);
}

}  // namespace velto::testing
