#include "FontInternal.h"

namespace velto::platform {

// Fonts start before the toolkit has a display connection (the event queue
// starts it later), so the resolution is the toolkit's default.
int display_dpi() {
  return 96;
}

void font_delete(void*) {}

}  // namespace velto::platform
