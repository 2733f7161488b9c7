#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "Core/Types.h"

namespace velto {

// Images are not used by the client; the library keeps its start-up and end
// steps, its decoder list and its registry.
void image_decoder_init();
void bmp_decoder_register();
void image_library_init();
void image_library_end();
void alpha_blend_init();
void alpha_blend_end();
void image_free(ObjectNumber number);

struct ImageDecoder {
  std::uint32_t id;
  // True when the data is in this decoder's format.
  bool (*check)(std::span<const std::uint8_t> data);
};

void image_decoder_register(const ImageDecoder& decoder);
[[nodiscard]] std::size_t image_decoder_count();
[[nodiscard]] const ImageDecoder* image_decoder_for(std::span<const std::uint8_t> data);

}  // namespace velto
