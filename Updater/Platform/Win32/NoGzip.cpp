#include "Archive.h"

namespace velto::updater {

// Windows packages are zips with a stored installer: no zlib in the
// Windows build, and no gzip stream is ever taken.
std::optional<std::vector<unsigned char>> gunzip(Bytes, std::size_t) noexcept {
  return std::nullopt;
}

}  // namespace velto::updater
