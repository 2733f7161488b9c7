#pragma once

// Windows only: the file a loaded module came from.

#include <string>

#include "Core/WinApi.h"

namespace velto {

// The whole path of `module` (null: the program), however long, up to the
// 32,767 units of a long path; "" when it cannot be had. Never a cut one:
// GetModuleFileNameW cuts a longer path to its buffer without failing.
[[nodiscard]] std::wstring module_file_name(HMODULE module);

}  // namespace velto
