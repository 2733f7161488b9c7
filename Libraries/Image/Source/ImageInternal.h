#pragma once

namespace velto {

struct ImageRecord {
  void* handle = nullptr;  // native bitmap or icon
  bool is_icon = false;
  int width = 0;
  int height = 0;
  int depth = 0;
};

namespace platform {
void image_delete(ImageRecord& record);
// Loads the system's alpha-blending entry point when there is one.
void alpha_blend_load();
void alpha_blend_unload();
}  // namespace platform

}  // namespace velto
