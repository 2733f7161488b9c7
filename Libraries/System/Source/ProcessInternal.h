#pragma once

// Shared between the portable process code and its platform backend.

#include <cstdint>
#include <mutex>

#include "Core/Registry.h"
#include "Core/Types.h"

namespace velto {

// A started program the library keeps: its native process handle (a HANDLE
// on Windows, a pidfd elsewhere). Nothing keeps one yet.
struct ProgramRecord {
  std::intptr_t handle = 0;
};

using ProgramRegistry = Registry<ProgramRecord>;

struct ProcessLibraryState {
  ProgramRegistry* programs = nullptr;
  // Recursive like the Windows critical section it stands for, so that a
  // release routine may run while the registry is held.
  std::recursive_mutex lock;
};

[[nodiscard]] ProcessLibraryState& process_state() noexcept;

// ---- The backend contract. Failures come back as results; only running out
// of memory throws.
namespace platform {

[[nodiscard]] Text executable_path();

// Starts the program of `command_line` directly; `working_directory` is
// empty for the caller's own. False when the program could not be started.
[[nodiscard]] bool start_program(Text& command_line, TextView working_directory);

// Hands `program` to the desktop to open (documents, URLs). True when
// something was launched.
[[nodiscard]] bool shell_open(TextView program, TextView parameters, TextView working_directory);

[[nodiscard]] Text environment_read(TextView name);
void environment_write(TextView name, TextView value);

void close_process_handle(std::intptr_t handle) noexcept;

}  // namespace platform

}  // namespace velto
