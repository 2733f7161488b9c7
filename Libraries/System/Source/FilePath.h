#pragma once

#include <cstddef>

#include "Core/Types.h"

// Path text rules of the file library, written once for both backends.
namespace velto::files {

// The longest path that dir_create hands to Windows.
inline constexpr std::size_t kWindowsPathCapacity = 260;

// A text ends at its first NUL, as the runtime's texts do.
[[nodiscard]] TextView up_to_nul(TextView text) noexcept;

// `path` without the run of any of `characters` at its end.
[[nodiscard]] TextView without_trailing(TextView path, TextView characters) noexcept;

// ---- Windows

// What file_size works on: every trailing backslash and slash removed.
[[nodiscard]] TextView windows_size_path(TextView path) noexcept;

// "C:" or "C:x" (after the trailing separators went): 2 or 3 characters,
// the second a colon.
[[nodiscard]] bool is_drive_form(TextView path) noexcept;

// A drive form as the drive type is asked for it: a bare "C:" becomes the
// root "C:\".
[[nodiscard]] Text drive_root(TextView drive_form);

// Share roots and similar forms that a directory search cannot report:
// paths starting with two backslashes, two slashes or two dots.
[[nodiscard]] bool needs_attribute_test(TextView path) noexcept;

// What dir_create makes: at most kWindowsPathCapacity characters, then
// trailing blanks, backslashes and slashes in any mix removed.
[[nodiscard]] TextView windows_directory_path(TextView path) noexcept;

// ---- Linux, where only "/" separates and a backslash is a name character

// What file_size looks up: trailing slashes removed, except that a path of
// slashes only stays the root.
[[nodiscard]] TextView posix_size_path(TextView path) noexcept;

// What dir_create makes: trailing blanks and slashes in any mix removed.
[[nodiscard]] TextView posix_directory_path(TextView path) noexcept;

}  // namespace velto::files
