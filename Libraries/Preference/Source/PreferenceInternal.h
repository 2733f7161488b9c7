#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "Core/Types.h"

namespace velto {

// The raw UTF-8 value of `key` in the section being read, or none (also when
// no file is open).
[[nodiscard]] std::optional<std::string_view> prefs_find(TextView key);

// Finds `key` in the section, or adds it at the section's end, and answers
// a writable buffer of at least `length` + 1 bytes that becomes the key's
// value of `length` bytes. nullptr when no file is open or memory is short.
[[nodiscard]] char* prefs_set(TextView key, std::size_t length) noexcept;

// Writes the entries back to the file when they were changed.
void prefs_flush() noexcept;

}  // namespace velto
