#pragma once

// What each system does for the updater: Platform/Posix or Platform/Win32.
// The portable flow (Update.cpp) decides and reports; a backend only acts.

#include <cstdint>
#include <optional>
#include <string_view>

#include "Core/Types.h"

namespace velto::updater::backend {

enum class PackageKind {
  kZip,    // a zip whose one ".exe" entry is the installer
  kTarGz,  // a gzip-compressed tar whose one ".deb" entry is the package
};

struct PackageFormat {
  PackageKind kind;
  std::string_view entry_suffix;
  TextView installer_name;  // what the extracted installer is saved as
};

[[nodiscard]] PackageFormat package_format() noexcept;

// Whether the process ended (or was never there) within `timeout_ms`.
[[nodiscard]] bool wait_for_exit(std::uint32_t pid, int timeout_ms) noexcept;

// A new empty directory that only this user can write to, ending in a
// separator; nothing when it cannot be made.
[[nodiscard]] std::optional<Text> make_work_directory() noexcept;

enum class InstallOutcome {
  kInstalled,
  // Nothing here could install it: the desktop was asked to open the
  // package, and the user takes it from there.
  kHandedToDesktop,
  kFailed,
};

// Runs the installer saved at `installer` (inside `work_directory`) and
// waits for it.
[[nodiscard]] InstallOutcome install(const Text& installer, const Text& work_directory) noexcept;

// Starts the client at `path` on its own, not waited for.
[[nodiscard]] bool start_client(const Text& path) noexcept;

}  // namespace velto::updater::backend
