#pragma once

// The backend contract of the file library. Paths arrive cut at their first
// NUL and never empty. Failures come back as results; only running out of
// memory throws.

#include <cstdint>

#include "Core/Types.h"

namespace velto::platform {

// file_size's answer for a path.
[[nodiscard]] std::int64_t path_size(TextView path);

[[nodiscard]] bool make_directory(TextView path);

[[nodiscard]] bool remove_file(TextView path);

[[nodiscard]] Text temporary_directory();

}  // namespace velto::platform
