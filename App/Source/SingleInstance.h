#pragma once

#include "Core/Types.h"

namespace velto::app {

// Makes this process the one client of its app data directory (one per user
// in practice; clients with their own XDG_CONFIG_HOME or APPDATA do not see
// each other). Answers false when another client already is; that one has
// then been asked to bring its main window forward.
[[nodiscard]] bool single_instance_claim();

// The backend's report that a later start asked for the main window.
void single_instance_show_request();

}  // namespace velto::app
