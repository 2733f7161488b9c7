#include "ImageInternal.h"

namespace velto::platform {

// No native image objects exist here, and blending needs no extra library.
void image_delete(ImageRecord&) {}
void alpha_blend_load() {}
void alpha_blend_unload() {}

}  // namespace velto::platform
