#pragma once

#include "Core/Types.h"

namespace velto::app {

// The name one running client holds for its app data directory: the same
// directory always gives the same name, another directory (another user, a
// test with its own XDG_CONFIG_HOME) another name. Letters, digits and '-'
// only, so that it serves as a file name and as a kernel object name.
[[nodiscard]] Text instance_name(TextView app_dir);

// Makes this process the client of its app data directory. Answers false
// when another client already is; that one has then been asked to bring its
// main window forward.
[[nodiscard]] bool single_instance_claim();

// The backend's report that a later start asked for the main window.
void single_instance_show_request();

}  // namespace velto::app
