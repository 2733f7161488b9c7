#include "Image/Image.h"

#include <array>

#include "Core/Registry.h"
#include "ImageInternal.h"

namespace velto {

namespace {

constexpr std::size_t kMaxDecoders = 16;

struct ImageState {
  std::array<ImageDecoder, kMaxDecoders> decoders{};
  std::size_t decoder_count = 0;
  Registry<ImageRecord>* registry = nullptr;
};

ImageState& image_state() noexcept {
  static ImageState state;
  return state;
}

bool is_bmp(std::span<const std::uint8_t> data) {
  return data.size() >= 2 && data[0] == 'B' && data[1] == 'M';
}

}  // namespace

void image_decoder_init() {
  image_state().decoder_count = 0;
}

void image_decoder_register(const ImageDecoder& decoder) {
  ImageState& state = image_state();
  if (state.decoder_count < kMaxDecoders) {
    state.decoders[state.decoder_count++] = decoder;
  }
}

void bmp_decoder_register() {
  image_decoder_register(ImageDecoder{0x424D5000, is_bmp});
}

std::size_t image_decoder_count() {
  return image_state().decoder_count;
}

const ImageDecoder* image_decoder_for(std::span<const std::uint8_t> data) {
  ImageState& state = image_state();
  for (std::size_t i = 0; i < state.decoder_count; ++i) {
    if (state.decoders[i].check(data)) {
      return &state.decoders[i];
    }
  }
  return nullptr;
}

void image_library_init() {
  ImageState& state = image_state();
  if (!state.registry) {
    state.registry = registry_create<ImageRecord>(16, image_free);
  }
}

void image_library_end() {
  if (image_state().registry) {
    image_free(ANY_NUMBER);
  }
}

void image_free(ObjectNumber number) {
  ImageState& state = image_state();
  if (!state.registry) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*state.registry);
    return;
  }
  if (ImageRecord* record = registry_get(*state.registry, number)) {
    platform::image_delete(*record);
    registry_free(*state.registry, number);
  }
}

void alpha_blend_init() {
  platform::alpha_blend_load();
}

void alpha_blend_end() {
  platform::alpha_blend_unload();
}

}  // namespace velto
