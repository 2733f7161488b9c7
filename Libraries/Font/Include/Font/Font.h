#pragma once

#include "Core/Types.h"

namespace velto {

// Fonts are not used by the client; the library keeps its start-up and end steps.
void font_library_init();
void font_library_end();
void font_free(ObjectNumber number);
// Vertical resolution of the display in dots per inch (96 when unknown).
[[nodiscard]] int font_display_dpi();

}  // namespace velto
