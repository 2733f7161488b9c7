#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "Core/Memory.h"
#include "Core/Startup.h"
#include "Core/Strings.h"
#include "Drawing/Drawing.h"
#include "Font/Font.h"
#include "Gadget/Gadget.h"
#include "Http/Http.h"
#include "Image/Image.h"
#include "Network/Network.h"
#include "Preference/Preference.h"
#include "Runtime/Runtime.h"
#include "System/Files.h"
#include "System/Process.h"
#include "Tray/Tray.h"
#include "Window/Window.h"

namespace velto {
namespace {

// The whole orders, written out: a step moved, lost, doubled or bound to
// the wrong function shows up here by position.
const std::vector<RuntimeStep> kExpectedStartup{
    {"locale_init", locale_init},
    {"string_library_init", string_library_init},
    {"map_library_init", map_library_init},
    {"memory_library_init", memory_library_init},
    {"array_library_init", array_library_init},
    {"thread_slot_init", thread_slot_init},
    {"font_library_init", font_library_init},
    {"drawing_library_init", drawing_library_init},
    {"image_decoder_init", image_decoder_init},
    {"bmp_decoder_register", bmp_decoder_register},
    {"list_library_init", list_library_init},
    {"image_library_init", image_library_init},
    {"alpha_blend_init", alpha_blend_init},
    {"tray_library_init", tray_library_init},
    {"event_queue_init", event_queue_init},
    {"menu_library_init", menu_library_init},
    {"display_scale_init", display_scale_init},
    {"window_library_init", window_library_init},
    {"ole_init", ole_init},
    {"gadget_library_init", gadget_library_init},
    {"network_library_init", network_library_init},
    {"http_library_init", http_library_init},
    {"prefs_library_init", prefs_library_init},
    {"process_library_init", process_library_init},
    {"webview_library_init", webview_library_init},
};

// drawing_library_end comes twice: the drawing library holds no resources, so
// the second call finds nothing to do.
const std::vector<RuntimeStep> kExpectedTeardown{
    {"prefs_close", prefs_close},
    {"network_library_end", network_library_end},
    {"gadget_library_end", gadget_library_end},
    {"ole_end", ole_end},
    {"window_library_end", window_library_end},
    {"window_library_extra_end", window_library_extra_end},
    {"event_queue_end", event_queue_end},
    {"tray_library_end", tray_library_end},
    {"alpha_blend_end", alpha_blend_end},
    {"image_library_end", image_library_end},
    {"drawing_library_end", drawing_library_end},
    {"font_library_end", font_library_end},
    {"file_library_end", file_library_end},
    {"drawing_library_end", drawing_library_end},
    {"memory_library_end", memory_library_end},
};

std::vector<std::string_view> names(std::span<const RuntimeStep> steps) {
  std::vector<std::string_view> recorded;
  for (const RuntimeStep& step : steps) {
    recorded.push_back(step.name);
  }
  return recorded;
}

// Each step at a position runs the function its name says.
void expect_same_functions(std::span<const RuntimeStep> steps, const std::vector<RuntimeStep>& expected) {
  ASSERT_EQ(steps.size(), expected.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    EXPECT_EQ(steps[i].run, expected[i].run) << "step " << i << " (" << steps[i].name << ")";
  }
}

TEST(Runtime, StartupRunsEveryStepInItsPlace) {
  EXPECT_EQ(names(runtime_startup_steps()), names(kExpectedStartup));
  expect_same_functions(runtime_startup_steps(), kExpectedStartup);
}

TEST(Runtime, TeardownRunsEveryStepInItsPlace) {
  EXPECT_EQ(names(runtime_teardown_steps()), names(kExpectedTeardown));
  expect_same_functions(runtime_teardown_steps(), kExpectedTeardown);
}

// One start-up and one teardown per process, as in the client.
TEST(Runtime, StartsEveryLibraryAndTearsThemDownInOrder) {
#if !defined(_WIN32)
  if (!std::getenv("DISPLAY")) {
    GTEST_SKIP() << "needs an X display (run under Scripts/with-display)";
  }
#endif
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
