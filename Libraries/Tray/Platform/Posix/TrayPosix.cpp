#include "TrayInternal.h"

namespace velto::platform {

// No status-icon objects are ever made on this platform.
unsigned register_taskbar_created() {
  return 0;
}

void tray_remove(TrayRecord&) {}

}  // namespace velto::platform
