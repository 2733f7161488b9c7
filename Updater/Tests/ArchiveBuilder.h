#pragma once

// Builds archives for the readers' tests, including ones that lie.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace velto::updater::test {

using ByteVector = std::vector<unsigned char>;

struct TarMember {
  TarMember(std::string member_name, std::string member_content, char member_type = '0', std::string name_prefix = {})
      : name(std::move(member_name)),
        content(std::move(member_content)),
        type(member_type),
        prefix(std::move(name_prefix)) {}
  std::string name;
  std::string content;
  char type;
  std::string prefix;
};

// A ustar archive with its two end blocks.
[[nodiscard]] ByteVector make_tar(const std::vector<TarMember>& members);

struct ZipMember {
  ZipMember(std::string member_name, std::string member_content, std::uint16_t member_method = 0,
            std::uint16_t member_flags = 0)
      : name(std::move(member_name)), content(std::move(member_content)), method(member_method), flags(member_flags) {}
  std::string name;
  std::string content;
  std::uint16_t method;
  std::uint16_t flags;
};

// A zip archive; the offsets of each local header and of the central
// directory are returned for tests that then damage them.
struct ZipArchive {
  ByteVector bytes;
  std::vector<std::size_t> local_offsets;
  std::vector<std::size_t> central_offsets;
  std::size_t end_offset = 0;
};
[[nodiscard]] ZipArchive make_zip(const std::vector<ZipMember>& members);

void put_le32(ByteVector& bytes, std::size_t at, std::uint32_t value);

}  // namespace velto::updater::test
