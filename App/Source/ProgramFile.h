#pragma once

// Whether a downloaded file is a program this machine can start, told from
// its first bytes: an error page or anything else a server answered instead
// must never be kept as the updater.

#include <cstddef>
#include <cstdint>
#include <span>

#include "Core/Types.h"

namespace velto::app {

enum class ProgramFormat : std::uint8_t {
  PeI386,    // Windows, 32-bit x86 (PE32)
  PeAmd64,   // Windows, x86-64 (PE32+)
  ElfI386,   // Linux, 32-bit x86
  ElfAmd64,  // Linux, x86-64
  ElfArm64,  // Linux, 64-bit ARM
};

// The format of the programs this build of the client runs.
[[nodiscard]] constexpr ProgramFormat native_program_format() noexcept {
#if defined(_WIN32) && (defined(__x86_64__) || defined(_M_X64))
  return ProgramFormat::PeAmd64;
#elif defined(_WIN32)
  return ProgramFormat::PeI386;
#elif defined(__x86_64__)
  return ProgramFormat::ElfAmd64;
#elif defined(__aarch64__)
  return ProgramFormat::ElfArm64;
#else
  return ProgramFormat::ElfI386;
#endif
}

// How many leading bytes program_head_matches needs at most.
inline constexpr std::size_t kProgramHeadSize = 64 * 1024;

// `head`: the file's first bytes (up to kProgramHeadSize). A PE image with
// its signature, machine and optional-header kind, or an ELF executable or
// shared object of the machine; on ELF systems also a "#!/..." script.
[[nodiscard]] bool program_head_matches(std::span<const unsigned char> head, ProgramFormat format) noexcept;

// The same for the file at `path`; false when it cannot be read.
[[nodiscard]] bool is_program_file(TextView path, ProgramFormat format = native_program_format()) noexcept;

}  // namespace velto::app
