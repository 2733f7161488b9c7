#pragma once

#include "Core/Registry.h"

namespace velto {

struct GadgetKind;

// One gadget: the host control window and its kind's operations.
struct GadgetRecord {
  void* handle = nullptr;  // host window; empty = no gadget
  const GadgetKind* kind = nullptr;
  void* previous_procedure = nullptr;
};

struct GadgetLibraryState {
  Registry<GadgetRecord>* registry = nullptr;
};

[[nodiscard]] GadgetLibraryState& gadget_state() noexcept;

namespace platform {
// The font new gadgets receive.
[[nodiscard]] void* default_gadget_font();
void common_controls_init();
void com_init();
void gadget_destroy_host(void* host);
}  // namespace platform

}  // namespace velto
