#pragma once

namespace velto {

// 2D drawing is not used by the client; the library keeps its steps.
void drawing_library_init();
void drawing_library_end();

}  // namespace velto
