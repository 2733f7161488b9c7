#pragma once

#include <vector>

#include "Core/Types.h"

// Text rules of the process library, shared by both backends.
namespace velto::process {

// The command line of process_run: the program in double quotes (unchanged
// when it already starts with one), then a blank and the parameters when
// there are any. Nothing inside either is quoted or escaped.
[[nodiscard]] Text build_command_line(TextView program, TextView parameters);

// Splits a command line into arguments as a Windows C runtime does for
// main(): see CommandLine.cpp for the rules.
[[nodiscard]] std::vector<Text> split_command_line(TextView command_line);

// The directory the shell fallback runs in: the working directory when there
// is one, else the program text up to and including its last backslash,
// unless that backslash is its first character; else none (empty).
[[nodiscard]] TextView shell_directory(TextView program, TextView working_directory) noexcept;

// A path without the long-path prefix "\\?\".
[[nodiscard]] TextView without_long_path_prefix(TextView path) noexcept;

}  // namespace velto::process
