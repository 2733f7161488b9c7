#include "Gadget/Gadget.h"

#include "GadgetInternal.h"
#include "Window/Window.h"

namespace velto {

GadgetLibraryState& gadget_state() noexcept {
  static GadgetLibraryState state;
  return state;
}

void gadget_library_init() {
  void* font = platform::default_gadget_font();
  GadgetLibraryState& state = gadget_state();
  if (!state.registry) {
    state.registry = registry_create<GadgetRecord>(50, gadget_free);
  }
  gadget_container_set_font(font);
  platform::common_controls_init();
}

// Gadgets go with their windows, which the window library closes.
void gadget_library_end() {}

void webview_library_init() {
  platform::common_controls_init();
  platform::com_init();
}

void gadget_free(ObjectNumber number) {
  GadgetLibraryState& state = gadget_state();
  if (!state.registry) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*state.registry);
    return;
  }
  if (GadgetRecord* record = registry_get(*state.registry, number)) {
    // The host window's destruction does the clean-up.
    platform::gadget_destroy_host(record->handle);
    if (registry_get(*state.registry, number)) {
      registry_free(*state.registry, number);
    }
  }
}

}  // namespace velto
