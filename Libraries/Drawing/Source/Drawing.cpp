#include "Drawing/Drawing.h"

#include <cstdint>

namespace velto {

namespace {
// The drawing state: current output, colours, pen and text settings.
struct DrawingState {
  void* output = nullptr;
  std::uint32_t front_colour = 0xFFFFFF;
  std::uint32_t back_colour = 0;
  std::int32_t mode = 0;
};

DrawingState& drawing_state() noexcept {
  static DrawingState state;
  return state;
}
}  // namespace

void drawing_library_init() {
  drawing_state() = DrawingState{};
}

// Nothing to release: drawing holds no resources between operations.
void drawing_library_end() {}

}  // namespace velto
