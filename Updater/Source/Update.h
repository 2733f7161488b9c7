#pragma once

#include <span>
#include <string_view>

#include "Core/Types.h"

namespace velto::updater {

// Exit codes of the updater.
enum class ExitCode : int {
  kUpdated = 0,          // installed, and the client started again
  kFailed = 1,           // nothing installed, nothing started
  kUsage = 2,            // not started the way the client starts it
  kHandedToDesktop = 3,  // the desktop was asked to open the package; the client started again
};

// One line on stderr for whoever started the updater.
void report(std::string_view message) noexcept;

// The whole update, for the arguments after the program's name. Needs the
// program heap (Core/Heap.h).
[[nodiscard]] ExitCode run_update(std::span<const Text> arguments) noexcept;

}  // namespace velto::updater
