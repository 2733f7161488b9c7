#pragma once

#include <span>
#include <string_view>

namespace velto {

// The runtime's start-up and teardown, each a fixed sequence of the
// libraries' steps. Both run on the GUI thread, once.
struct RuntimeStep {
  std::string_view name;
  void (*run)();
};

[[nodiscard]] std::span<const RuntimeStep> runtime_startup_steps();
[[nodiscard]] std::span<const RuntimeStep> runtime_teardown_steps();

void runtime_start();
void runtime_end();

}  // namespace velto
