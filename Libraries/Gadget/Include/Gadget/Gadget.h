#pragma once

#include "Core/Types.h"

namespace velto {

// Start-up and end steps of the gadget library.
void gadget_library_init();
void gadget_library_end();
void webview_library_init();

// Destroys a gadget (every gadget for ANY_NUMBER).
void gadget_free(ObjectNumber number);

}  // namespace velto
