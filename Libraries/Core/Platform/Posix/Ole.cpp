#include "Core/Startup.h"

namespace velto {

// There is no COM here; the steps keep their places.
void ole_init() {}
void ole_end() {}

}  // namespace velto
