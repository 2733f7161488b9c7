#include <zlib.h>

#include <algorithm>
#include <array>
#include <climits>

#include "Archive.h"

namespace velto::updater {

namespace {

struct Inflater {
  z_stream stream{};
  bool ready = false;
  Inflater() {
    // 16 + the window bits: a gzip wrapper only, not zlib's or raw deflate.
    ready = inflateInit2(&stream, 16 + MAX_WBITS) == Z_OK;
  }
  ~Inflater() {
    if (ready) {
      inflateEnd(&stream);
    }
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
};

}  // namespace

std::optional<std::vector<unsigned char>> gunzip(Bytes compressed, std::size_t max_bytes) noexcept {
  try {
    Inflater inflater;
    if (!inflater.ready || compressed.size() > UINT_MAX) {
      return std::nullopt;
    }
    z_stream& stream = inflater.stream;
    // zlib's interface takes a non-const pointer but never writes input.
    stream.next_in = const_cast<unsigned char*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    std::vector<unsigned char> out;
    std::array<unsigned char, std::size_t{64} * 1024> chunk{};
    while (true) {
      stream.next_out = chunk.data();
      stream.avail_out = static_cast<uInt>(chunk.size());
      const int status = inflate(&stream, Z_NO_FLUSH);
      if (status != Z_OK && status != Z_STREAM_END) {
        return std::nullopt;  // damaged, or truncated (Z_BUF_ERROR)
      }
      const std::size_t got = chunk.size() - stream.avail_out;
      if (got > max_bytes - out.size()) {
        return std::nullopt;
      }
      out.insert(out.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
      if (status == Z_STREAM_END) {
        // Anything after the one member is not part of a package.
        return stream.avail_in == 0 ? std::optional(std::move(out)) : std::nullopt;
      }
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace velto::updater
