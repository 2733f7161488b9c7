#include "Tray/Tray.h"

#include "Core/Registry.h"
#include "TrayInternal.h"

namespace velto {

namespace {
struct TrayState {
  Registry<TrayRecord>* registry = nullptr;
  unsigned taskbar_created = 0;
};

TrayState& tray_state() noexcept {
  static TrayState state;
  return state;
}
}  // namespace

void tray_library_init() {
  TrayState& state = tray_state();
  if (!state.registry) {
    state.registry = registry_create<TrayRecord>(16, tray_free);
  }
  state.taskbar_created = platform::register_taskbar_created();
}

void tray_library_end() {
  if (tray_state().registry) {
    tray_free(ANY_NUMBER);
  }
}

void tray_free(ObjectNumber number) {
  TrayState& state = tray_state();
  if (!state.registry) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*state.registry);
    return;
  }
  if (TrayRecord* record = registry_get(*state.registry, number)) {
    platform::tray_remove(*record);
    registry_free(*state.registry, number);
  }
}

unsigned tray_taskbar_created_message() {
  return tray_state().taskbar_created;
}

}  // namespace velto
