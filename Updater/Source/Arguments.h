#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "Core/Types.h"

namespace velto::updater {

// What the client passes, in this order: its own path (quoted by the
// client), the package's URL and its process id.
struct Arguments {
  Text client_path;
  Text package_url;
  std::uint32_t client_pid = 0;
};

// The arguments after the program's name; nothing unless there are exactly
// three, the path is not empty, the URL is https and the id a plain decimal
// number above 0 that fits a process id.
[[nodiscard]] std::optional<Arguments> parse_arguments(std::span<const Text> arguments) noexcept;

}  // namespace velto::updater
