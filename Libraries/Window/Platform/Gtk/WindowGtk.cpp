// Placeholder until the GTK backend lands.
#include "WindowInternal.h"

namespace velto::platform {
void event_loop_init() {}
void event_loop_end() {}
int pump_message(int, MessageData&) { return 0; }
void window_library_init() {}
void window_library_end() {}
bool window_create(WindowRecord&, const OpenRequest&) { return false; }
void window_destroy(WindowRecord&, ObjectNumber) {}
void window_resize(WindowRecord&, int, int, int, int) {}
Rect window_outer_rect(const WindowRecord&) { return {}; }
Rect window_client_rect(const WindowRecord&) { return {}; }
ObjectNumber window_foreground() { return -1; }
void container_mark(NativeWindow) {}
}  // namespace velto::platform
