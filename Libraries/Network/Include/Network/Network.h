#pragma once

#include "Core/Types.h"

namespace velto {

// Network sockets are not used by the client; the library keeps its steps.
void network_library_init();
void network_library_end();
void network_close(ObjectNumber number);
// Whether the platform's socket layer started.
[[nodiscard]] bool network_available();

}  // namespace velto
