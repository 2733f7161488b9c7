#include <cstdlib>
#include <cstring>

#include "Core/Strings.h"
#include "TextCodec.h"

namespace velto {

namespace {
template <class Unit>
std::unique_ptr<Unit[], TextFree> copy_out(const Unit* data, std::size_t length) noexcept {
  // One unit larger than needed, as the Windows build allocates.
  auto* block = static_cast<Unit*>(std::calloc(length + 2, sizeof(Unit)));
  if (block && length) {
    std::memcpy(block, data, length * sizeof(Unit));
  }
  return std::unique_ptr<Unit[], TextFree>(block);
}
}  // namespace

Utf8Text text_to_utf8(TextView text) noexcept {
  try {
    std::string out;
    codec::utf16_to_utf8(text, out);
    return copy_out(out.data(), out.size());
  } catch (...) {
    return copy_out("", 0);
  }
}

Utf16Text text_from_utf8(std::string_view text) noexcept {
  try {
    std::u16string out;
    codec::utf8_to_utf16(text, out);
    return copy_out(out.data(), out.size());
  } catch (...) {
    return copy_out(u"", 0);
  }
}

}  // namespace velto
