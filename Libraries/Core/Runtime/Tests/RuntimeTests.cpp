#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "Core/Memory.h"
#include "Core/Runtime.h"
#include "Window/Window.h"

namespace velto {
namespace {

// One start-up and one teardown per process, as in the client.
TEST(Runtime, StartsEveryLibraryAndTearsThemDownInOrder) {
#if !defined(_WIN32)
  if (!std::getenv("DISPLAY")) {
    GTEST_SKIP() << "needs an X display (run under Scripts/with-display)";
  }
#endif
  EXPECT_EQ(runtime_startup_steps().size(), 25u);
  EXPECT_EQ(runtime_teardown_steps().size(), 15u);
  EXPECT_EQ(runtime_teardown_steps().front().name, "prefs_close");
  EXPECT_EQ(runtime_teardown_steps().back().name, "memory_library_end");

  runtime_start();

  char number[16];
  std::snprintf(number, sizeof number, "%.1f", 1.5);
  EXPECT_STREQ(number, "1.5");

  void* block = memory_alloc(16);
  EXPECT_NE(block, nullptr);
  memory_free(block);

  ASSERT_NE(window_open(0, 10, 10, 200, 150, u"runtime", WF_SYSTEM_MENU | WF_TITLE_BAR | WF_INVISIBLE), 0);
  const std::intptr_t dynamic = window_open(ANY_NUMBER, 10, 10, 200, 150, u"dynamic", WF_INVISIBLE);
  ASSERT_NE(dynamic, 0);
  EXPECT_TRUE(window_exists(0));
  EXPECT_TRUE(window_exists(dynamic));

  runtime_end();

  EXPECT_FALSE(window_exists(0)) << "the teardown closes every window";
  EXPECT_FALSE(window_exists(dynamic));
  EXPECT_EQ(memory_alloc(16), nullptr) << "the memory heap is gone last";
}

}  // namespace
}  // namespace velto
