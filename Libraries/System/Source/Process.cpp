#include "System/Process.h"

#include <exception>

#include "CommandLine.h"
#include "ProcessInternal.h"

namespace velto {

namespace {

// The program registry's release routine: closes the process handle.
void release_program(ObjectNumber number) {
  ProcessLibraryState& state = process_state();
  std::lock_guard guard(state.lock);
  if (!state.programs) {
    return;
  }
  if (ProgramRecord* record = registry_get(*state.programs, number)) {
    platform::close_process_handle(record->handle);
    registry_free(*state.programs, number);
  }
}

}  // namespace

ProcessLibraryState& process_state() noexcept {
  static ProcessLibraryState state;
  return state;
}

void process_library_init() {
  ProcessLibraryState& state = process_state();
  std::lock_guard guard(state.lock);
  if (!state.programs) {
    state.programs = registry_create<ProgramRecord>(4, release_program);
  }
}

Text program_path() noexcept {
  try {
    const Text path = platform::executable_path();
    return Text(process::without_long_path_prefix(path));
  } catch (const std::exception&) {
    return {};
  }
}

int process_run(TextView program, TextView parameters, TextView working_directory) noexcept {
  try {
    Text command_line = process::build_command_line(program, parameters);
    if (platform::start_program(command_line, working_directory)) {
      return 1;
    }
    return platform::shell_open(program, parameters, working_directory) ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

Text env_get(TextView name) noexcept {
  if (name.empty()) {
    return {};
  }
  try {
    return platform::environment_read(name);
  } catch (const std::exception&) {
    return {};
  }
}

void env_set(TextView name, TextView value) noexcept {
  if (name.empty()) {
    return;
  }
  try {
    platform::environment_write(name, value);
  } catch (const std::exception&) {
    // Nothing to report: the variable keeps its old value.
  }
}

}  // namespace velto
