#pragma once

#include <cstdint>

#include "Core/Types.h"

namespace velto {

// End step of the file library: releases every file still open through it.
// The client keeps no files open through it.
void file_library_end();

// The size in bytes of the file at `path`; -2 for a directory (a drive or
// share root included); -1 when nothing usable is there, which includes an
// empty path, a wildcard pattern and an absent drive. Trailing separators
// are ignored.
[[nodiscard]] std::int64_t file_size(TextView path) noexcept;

// Creates the last level of `path`, ignoring trailing blanks and separators.
// Non-zero when it was created; 0 when it already existed, its parent is
// missing or it cannot be made.
int dir_create(TextView path) noexcept;

// Deletes the file at `path`. Non-zero when it was deleted; 0 when it is
// missing, a directory, or cannot be deleted (a read-only file on Windows).
int file_delete(TextView path) noexcept;

// The user's temporary directory, ending in a separator so that a file name
// can follow directly; empty when the system cannot tell.
[[nodiscard]] Text temp_directory() noexcept;

}  // namespace velto
