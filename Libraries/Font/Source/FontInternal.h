#pragma once

#include "Core/Registry.h"

namespace velto {

struct FontRecord {
  void* handle = nullptr;  // native font object
};

namespace platform {
[[nodiscard]] int display_dpi();
void font_delete(void* handle);
}  // namespace platform

}  // namespace velto
