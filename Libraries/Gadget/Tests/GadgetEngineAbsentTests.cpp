// The product's engine where no browser runtime is installed (as under
// Wine): creation answers 0 and leaves no gadget behind.

#include <gtest/gtest.h>

#include "Core/Memory.h"
#include "Core/Strings.h"
#include "Core/WinApi.h"
#include "Gadget/Gadget.h"
#include "GadgetInternal.h"
#include "Window/Events.h"
#include "Window/Window.h"

namespace velto {
namespace {

TEST(BrowserGadgetWithoutRuntime, CreationAnswersZeroCleanly) {
  string_library_init();
  memory_library_init();
  event_queue_init();
  window_library_init();
  gadget_library_init();
  ASSERT_NE(window_open(1, 100, 100, 400, 300, u"No browser", 0xCF0000), 0);

  EXPECT_EQ(webview_gadget_create(0, 0, 0, 200, 200), 0);
  EXPECT_EQ(webview_gadget_create(ANY_NUMBER, 0, 0, 200, 200), 0);
  EXPECT_EQ(registry_get(*gadget_state().registry, 0), nullptr);
  WNDCLASSEXW host_class{};
  host_class.cbSize = sizeof(host_class);
  EXPECT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), L"QuillWebView", &host_class));
  // The operations on the number that was never made do nothing.
  gadget_set_text(0, u"about:blank");
  gadget_resize(0, 1, 2, 3, 4);
  webview_gadget_bind(0, u"send", nullptr);
  gadget_free(0);

  window_close(ANY_NUMBER);
  window_library_end();
  event_queue_end();
}

}  // namespace
}  // namespace velto
