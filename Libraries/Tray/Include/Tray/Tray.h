#pragma once

#include "Core/Types.h"

namespace velto {

// Tray icons are not used by the client; the library keeps its steps.
void tray_library_init();
void tray_library_end();
void tray_free(ObjectNumber number);
// The message the shell broadcasts when the taskbar is recreated (0 if none).
[[nodiscard]] unsigned tray_taskbar_created_message();

}  // namespace velto
