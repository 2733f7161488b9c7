#pragma once

#include "Core/Types.h"

namespace velto {

// One INI-style preference file at a time: opened or created, read and
// changed by key in memory, and written back whole when it is closed.
// Keys are looked up in the lines before the first "[group]" line only,
// ignoring the case of ASCII letters.

// Start-up step: no file open.
void prefs_library_init() noexcept;

// Opens an existing file (writing back whatever file was open before).
// 0 when the file cannot be opened; reads then answer their defaults, and a
// value written makes the file be created at close.
[[nodiscard]] int prefs_open(TextView path) noexcept;

// Creates or empties the file at once. 0 on failure; writes are then ignored.
[[nodiscard]] int prefs_create(TextView path) noexcept;

// The value of `key` without its surrounding blanks, or a copy of
// `default_value` when the key is missing or no file is open.
[[nodiscard]] Text prefs_read_string(TextView key, TextView default_value) noexcept;

// The value of `key` as a decimal number clamped to 32 bits (0 when it does
// not start with one), or `default_value` when the key is missing.
[[nodiscard]] int prefs_read_int(TextView key, int default_value) noexcept;

// Sets `key` in memory; the file changes at prefs_close.
void prefs_write_int(TextView key, int value) noexcept;

// Writes back the changes, if any, and forgets the file.
void prefs_close() noexcept;

}  // namespace velto
