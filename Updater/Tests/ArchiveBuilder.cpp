#include "ArchiveBuilder.h"

#include <algorithm>
#include <cstdio>
#include <span>

#include "Archive.h"

namespace velto::updater::test {

namespace {

void put_field(ByteVector& block, std::size_t at, const std::string& text) {
  std::copy(text.begin(), text.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
}

void put_octal(ByteVector& block, std::size_t at, std::size_t width, std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*llo", static_cast<int>(width - 1), static_cast<unsigned long long>(value));
  put_field(block, at, text);
}

void append_le16(ByteVector& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<unsigned char>(value & 0xFF));
  bytes.push_back(static_cast<unsigned char>(value >> 8));
}

void append_le32(ByteVector& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes.push_back(static_cast<unsigned char>((value >> shift) & 0xFF));
  }
}

void append(ByteVector& bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

}  // namespace

ByteVector make_tar(const std::vector<TarMember>& members) {
  ByteVector out;
  for (const TarMember& member : members) {
    ByteVector header(512, 0);
    put_field(header, 0, member.name);
    put_octal(header, 100, 8, 0644);
    put_octal(header, 108, 8, 0);
    put_octal(header, 116, 8, 0);
    put_octal(header, 124, 12, member.content.size());
    put_octal(header, 136, 12, 0);
    header[156] = static_cast<unsigned char>(member.type);
    put_field(header, 257,
              std::string("ustar\0"
                          "00",
                          8));
    put_field(header, 345, member.prefix);
    std::fill(header.begin() + 148, header.begin() + 156, ' ');
    unsigned sum = 0;
    for (const unsigned char c : header) {
      sum += c;
    }
    put_octal(header, 148, 7, sum);
    out.insert(out.end(), header.begin(), header.end());
    append(out, member.content);
    out.resize((out.size() + 511) / 512 * 512, 0);
  }
  out.resize(out.size() + 1024, 0);
  return out;
}

ZipArchive make_zip(const std::vector<ZipMember>& members) {
  ZipArchive zip;
  ByteVector& out = zip.bytes;
  for (const ZipMember& member : members) {
    zip.local_offsets.push_back(out.size());
    const auto crc =
        crc32(std::span(reinterpret_cast<const unsigned char*>(member.content.data()), member.content.size()));
    append_le32(out, 0x04034b50);
    append_le16(out, 10);
    append_le16(out, member.flags);
    append_le16(out, member.method);
    append_le32(out, 0);
    append_le32(out, crc);
    append_le32(out, static_cast<std::uint32_t>(member.content.size()));
    append_le32(out, static_cast<std::uint32_t>(member.content.size()));
    append_le16(out, static_cast<std::uint16_t>(member.name.size()));
    append_le16(out, 0);
    append(out, member.name);
    append(out, member.content);
  }
  const std::size_t directory = out.size();
  for (std::size_t i = 0; i < members.size(); ++i) {
    const ZipMember& member = members[i];
    zip.central_offsets.push_back(out.size());
    const auto crc =
        crc32(std::span(reinterpret_cast<const unsigned char*>(member.content.data()), member.content.size()));
    append_le32(out, 0x02014b50);
    append_le16(out, 20);
    append_le16(out, 10);
    append_le16(out, member.flags);
    append_le16(out, member.method);
    append_le32(out, 0);
    append_le32(out, crc);
    append_le32(out, static_cast<std::uint32_t>(member.content.size()));
    append_le32(out, static_cast<std::uint32_t>(member.content.size()));
    append_le16(out, static_cast<std::uint16_t>(member.name.size()));
    append_le16(out, 0);
    append_le16(out, 0);
    append_le16(out, 0);
    append_le16(out, 0);
    append_le32(out, 0);
    append_le32(out, static_cast<std::uint32_t>(zip.local_offsets[i]));
    append(out, member.name);
  }
  zip.end_offset = out.size();
  append_le32(out, 0x06054b50);
  append_le16(out, 0);
  append_le16(out, 0);
  append_le16(out, static_cast<std::uint16_t>(members.size()));
  append_le16(out, static_cast<std::uint16_t>(members.size()));
  append_le32(out, static_cast<std::uint32_t>(zip.end_offset - directory));
  append_le32(out, static_cast<std::uint32_t>(directory));
  append_le16(out, 0);
  return zip;
}

void put_le32(ByteVector& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>((value >> (8 * i)) & 0xFF);
  }
}

}  // namespace velto::updater::test
