#include "Font/Font.h"

#include "FontInternal.h"

namespace velto {

namespace {
struct FontState {
  Registry<FontRecord>* registry = nullptr;
  int dpi = 96;
};

FontState& font_state() noexcept {
  static FontState state;
  return state;
}
}  // namespace

void font_library_init() {
  FontState& state = font_state();
  if (!state.registry) {
    state.registry = registry_create<FontRecord>(16, font_free);
  }
  state.dpi = platform::display_dpi();
}

void font_library_end() {
  if (font_state().registry) {
    font_free(ANY_NUMBER);
  }
}

void font_free(ObjectNumber number) {
  FontState& state = font_state();
  if (!state.registry) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*state.registry);
    return;
  }
  if (FontRecord* record = registry_get(*state.registry, number)) {
    platform::font_delete(record->handle);
    registry_free(*state.registry, number);
  }
}

int font_display_dpi() {
  return font_state().dpi;
}

}  // namespace velto
