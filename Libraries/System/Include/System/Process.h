#pragma once

#include "Core/Types.h"

namespace velto {

// Start-up step: the process state, the program registry and its lock.
void process_library_init();

// Full path of the running executable.
[[nodiscard]] Text program_path() noexcept;

// Starts `program` (a path or a name) with `parameters`, in
// `working_directory` when that is not empty, else in the caller's current
// directory. The program is quoted and `parameters` appended unchanged. When
// it cannot be started, the desktop opens `program` as a document or URL
// instead. Nothing is kept about the started program and it is never waited
// for. Absent texts read as empty. 1 when something was started, else 0.
int process_run(TextView program, TextView parameters = {}, TextView working_directory = {}) noexcept;

// The value of an environment variable of this process; empty when unset.
[[nodiscard]] Text env_get(TextView name) noexcept;

// Sets a variable of this process, inherited by programs started afterwards.
// An absent value sets the empty string; the variable is never removed. An
// absent (empty) name does nothing.
void env_set(TextView name, TextView value = {}) noexcept;

}  // namespace velto
