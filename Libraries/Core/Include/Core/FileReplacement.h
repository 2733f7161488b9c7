#pragma once

// A file written whole under a name of its own beside its target, and put in
// the target's place in one step only once it is complete and on the disk.
// Whatever happens before that (a failed write, a kill, a power loss), the
// target stays as it was.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "Core/Types.h"

namespace velto {

class FileReplacement {
 public:
  FileReplacement() noexcept = default;
  ~FileReplacement() { discard(); }
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // Makes the new, empty file beside `target`, exclusively (a file or link
  // already under its name is never opened). `mode`: its permission bits
  // (POSIX only; otherwise 0666 under the umask). false when none could be
  // made.
  [[nodiscard]] bool begin(TextView target, std::optional<unsigned> mode = std::nullopt) noexcept;
  [[nodiscard]] bool is_open() const noexcept { return handle_ != kClosed; }
  // Answers how many bytes were written: fewer than `size` on error.
  [[nodiscard]] std::size_t write(const char* data, std::size_t size) noexcept;
  // Flushes the new file to the disk and puts it in the target's place. On
  // false the target is as it was and the new file is gone.
  [[nodiscard]] bool commit() noexcept;
  // Removes the new file, if any.
  void discard() noexcept;

  // What the new files' names hold after the target's name; no other file of
  // the client is named so.
  static constexpr std::string_view kMarker = ".velto-new-";

 private:
  static constexpr std::intptr_t kClosed = -1;
  void close() noexcept;

  std::intptr_t handle_ = kClosed;  // HANDLE or file descriptor
  Text target_;
  Text name_;
};

}  // namespace velto
