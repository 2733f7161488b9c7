#pragma once

// What the preference files need from the platform: a file handle, the
// three ways of opening an existing file, whole-file reads, whole-file
// replacement, and the system's ANSI code page.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Core/Types.h"

namespace velto::platform {

// The open attempts of prefs_open, in the order they are made.
enum class PrefsAccess {
  read_write,             // others may read
  read_only,              // others may read
  read_only_share_write,  // others may read and write
};

// An open file; closed when it goes.
class PrefsFile {
 public:
  PrefsFile() noexcept = default;
  explicit PrefsFile(std::intptr_t native) noexcept : native_(native) {}
  PrefsFile(PrefsFile&& other) noexcept : native_(other.release()) {}
  PrefsFile& operator=(PrefsFile&& other) noexcept {
    if (this != &other) {
      close();
      native_ = other.release();
    }
    return *this;
  }
  PrefsFile(const PrefsFile&) = delete;
  PrefsFile& operator=(const PrefsFile&) = delete;
  ~PrefsFile() { close(); }

  [[nodiscard]] bool is_open() const noexcept { return native_ != kClosed; }
  [[nodiscard]] std::intptr_t native() const noexcept { return native_; }
  void close() noexcept;

 private:
  // INVALID_HANDLE_VALUE on Windows, -1 as a descriptor elsewhere.
  static constexpr std::intptr_t kClosed = -1;

  std::intptr_t release() noexcept {
    const std::intptr_t native = native_;
    native_ = kClosed;
    return native;
  }

  std::intptr_t native_ = kClosed;
};

[[nodiscard]] PrefsFile prefs_file_open(TextView path, PrefsAccess access) noexcept;

// Whether a whole new file may be put at `path`: nothing is there yet, or a
// regular file that may be written, and the folder exists and may be
// written. Nothing is created or changed.
[[nodiscard]] bool prefs_file_replaceable(TextView path) noexcept;

[[nodiscard]] std::uint64_t prefs_file_size(const PrefsFile& file) noexcept;

// Reads up to `size` bytes at the file position; 0 at the end or on error.
[[nodiscard]] std::size_t prefs_file_read(const PrefsFile& file, char* buffer, std::size_t size) noexcept;

[[nodiscard]] bool prefs_file_rewind(const PrefsFile& file) noexcept;

// Makes `bytes` the whole content of the file at `path`: they are written
// to a new file beside it, flushed to the disk, and the new file then takes
// the old one's place in one step. Until then the old file stays as it was;
// when any step fails it stays so for good and the new file is removed.
// false on failure.
[[nodiscard]] bool prefs_file_write_whole(TextView path, std::string_view bytes) noexcept;

// Converts text in the system's ANSI code page to UTF-8. `bytes` holds no
// NUL. false when the conversion could not be made.
[[nodiscard]] bool prefs_ansi_to_utf8(std::string_view bytes, std::string& out) noexcept;

}  // namespace velto::platform
