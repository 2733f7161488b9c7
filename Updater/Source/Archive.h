#pragma once

// The update package is an archive that carries one installer: on Windows a
// zip whose one ".exe" entry is stored uncompressed, on Linux a tar (inside
// gzip) whose one ".deb" entry is the package. The readers work on bytes
// held whole and trust nothing the archive says about itself: every offset
// and size is checked against the bytes there are.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velto::updater {

using Bytes = std::span<const unsigned char>;

enum class ArchiveError {
  kNone,
  kMalformed,    // truncated, inconsistent sizes or offsets, bad checksums
  kUnsafeName,   // an absolute name, or one that climbs out with ".."
  kUnsupported,  // an entry kind or method the reader does not take
  kNoCandidate,  // no entry with the wanted suffix
  kSeveral,      // more than one such entry
};

struct ArchiveEntry {
  ArchiveError error = ArchiveError::kNone;
  std::string name;
  Bytes data;  // a view into the archive's bytes
};

// The one regular entry of a tar archive whose name ends in `suffix` (ASCII,
// any case). Directories and other regular files are passed over.
[[nodiscard]] ArchiveEntry tar_single_entry(Bytes archive, std::string_view suffix) noexcept;

// The same for a zip archive, read through its central directory. The
// entry must be stored (method 0) and match its CRC-32.
[[nodiscard]] ArchiveEntry zip_single_entry(Bytes archive, std::string_view suffix) noexcept;

// The gzip stream's content when it is whole, valid and at most `max_bytes`.
[[nodiscard]] std::optional<std::vector<unsigned char>> gunzip(Bytes compressed, std::size_t max_bytes) noexcept;

[[nodiscard]] std::uint32_t crc32(Bytes data) noexcept;

[[nodiscard]] std::string_view archive_error_text(ArchiveError error) noexcept;

}  // namespace velto::updater
