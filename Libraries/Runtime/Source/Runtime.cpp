#include "Runtime/Runtime.h"

#include <array>

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
#include "System/Files.h"
#include "System/Process.h"
#include "Tray/Tray.h"
#include "Window/Window.h"

namespace velto {

namespace {

// Later steps rely on earlier ones: the event queue exists before the first
// window, windows before gadgets, COM before any browser.
constexpr std::array<RuntimeStep, 25> kStartup{{
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
}};

// The open preference file is written back before anything else goes; the
// windows (and with them the gadgets and their browsers) go before the event
// queue; the memory heap goes last. The string heap, the locale and the
// remaining states end with the process.
constexpr std::array<RuntimeStep, 15> kTeardown{{
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
}};

}  // namespace

std::span<const RuntimeStep> runtime_startup_steps() {
  return kStartup;
}

std::span<const RuntimeStep> runtime_teardown_steps() {
  return kTeardown;
}

void runtime_start() {
  for (const RuntimeStep& step : kStartup) {
    step.run();
  }
}

void runtime_end() {
  for (const RuntimeStep& step : kTeardown) {
    step.run();
  }
}

}  // namespace velto
