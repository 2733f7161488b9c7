#include "Archive.h"

#include <algorithm>
#include <array>

namespace velto::updater {

namespace {

constexpr std::size_t kTarBlock = 512;
constexpr std::uint32_t kZipLocalSignature = 0x04034b50;
constexpr std::uint32_t kZipCentralSignature = 0x02014b50;
constexpr std::uint32_t kZipEndSignature = 0x06054b50;
constexpr std::size_t kZipLocalSize = 30;
constexpr std::size_t kZipCentralSize = 46;
constexpr std::size_t kZipEndSize = 22;
constexpr std::size_t kZipMaxComment = 0xFFFF;
constexpr std::uint16_t kZipEncrypted = 1;

char ascii_lower(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool ends_with_suffix(std::string_view name, std::string_view suffix) noexcept {
  return name.size() > suffix.size() &&
         std::equal(suffix.begin(), suffix.end(), name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                    [](char a, char b) { return ascii_lower(a) == ascii_lower(b); });
}

// A name that, written out anywhere, would stay below where it is written.
// Both separators count: an archive made on one system is read on the other.
bool name_is_safe(std::string_view name) noexcept {
  if (name.empty() || name.front() == '/' || name.front() == '\\' || (name.size() >= 2 && name[1] == ':') ||
      std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return false;
  }
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) {
      end = name.size();
    }
    if (name.substr(start, end - start) == "..") {
      return false;
    }
    start = end + 1;
  }
  return true;
}

bool is_directory_name(std::string_view name) noexcept {
  return !name.empty() && (name.back() == '/' || name.back() == '\\');
}

ArchiveEntry failure(ArchiveError error) {
  ArchiveEntry entry;
  entry.error = error;
  return entry;
}

// Collects the candidates; the first of them wins only if it stays alone.
class Candidates {
 public:
  explicit Candidates(std::string_view suffix) : suffix_(suffix) {}

  // False once the archive is settled as refused.
  bool offer(std::string_view name, Bytes data) {
    if (!ends_with_suffix(name, suffix_)) {
      return true;
    }
    if (++count_ > 1) {
      return false;
    }
    found_.name.assign(name);
    found_.data = data;
    return true;
  }

  ArchiveEntry result() const {
    if (count_ == 0) {
      return failure(ArchiveError::kNoCandidate);
    }
    if (count_ > 1) {
      return failure(ArchiveError::kSeveral);
    }
    return found_;
  }

 private:
  std::string_view suffix_;
  int count_ = 0;
  ArchiveEntry found_;
};

// --- tar -------------------------------------------------------------------

std::string_view tar_field(Bytes block, std::size_t offset, std::size_t size) noexcept {
  const auto* start = reinterpret_cast<const char*>(block.data() + offset);
  const std::string_view field(start, size);
  return field.substr(0, field.find('\0'));
}

// An octal field: digits, optionally led by spaces and ended by a space or
// NUL. The base-256 form (huge sizes) is not taken.
std::optional<std::uint64_t> tar_octal(Bytes block, std::size_t offset, std::size_t size) noexcept {
  std::size_t i = offset;
  const std::size_t end = offset + size;
  while (i < end && block[i] == ' ') {
    ++i;
  }
  std::uint64_t value = 0;
  std::size_t digits = 0;
  for (; i < end && block[i] >= '0' && block[i] <= '7'; ++i, ++digits) {
    if (value > (UINT64_MAX >> 3)) {
      return std::nullopt;
    }
    value = value * 8 + static_cast<std::uint64_t>(block[i] - '0');
  }
  for (; i < end; ++i) {
    if (block[i] != ' ' && block[i] != '\0') {
      return std::nullopt;
    }
  }
  if (digits == 0) {
    return std::nullopt;
  }
  return value;
}

bool tar_checksum_matches(Bytes block) noexcept {
  const auto stored = tar_octal(block, 148, 8);
  if (!stored) {
    return false;
  }
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kTarBlock; ++i) {
    sum += (i >= 148 && i < 156) ? std::uint64_t{' '} : std::uint64_t{block[i]};
  }
  return sum == *stored;
}

bool all_zero(Bytes block) noexcept {
  return std::all_of(block.begin(), block.end(), [](unsigned char c) { return c == 0; });
}

// --- zip -------------------------------------------------------------------

std::uint16_t le16(Bytes bytes, std::size_t at) noexcept {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::uint32_t le32(Bytes bytes, std::size_t at) noexcept {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// The end record: the last one whose comment reaches exactly to the end.
std::optional<std::size_t> zip_end_record(Bytes archive) noexcept {
  if (archive.size() < kZipEndSize) {
    return std::nullopt;
  }
  const std::size_t last = archive.size() - kZipEndSize;
  const std::size_t first = last > kZipMaxComment ? last - kZipMaxComment : 0;
  for (std::size_t at = last + 1; at-- > first;) {
    if (le32(archive, at) == kZipEndSignature && at + kZipEndSize + le16(archive, at + 20) == archive.size()) {
      return at;
    }
  }
  return std::nullopt;
}

// The stored bytes of the entry whose central record is at `central`.
std::optional<Bytes> zip_entry_data(Bytes archive, std::size_t central, std::size_t directory_start,
                                    std::string_view name) noexcept {
  const std::uint32_t size = le32(archive, central + 20);
  const std::size_t local = le32(archive, central + 42);
  if (local > directory_start || directory_start - local < kZipLocalSize ||
      le32(archive, local) != kZipLocalSignature) {
    return std::nullopt;
  }
  const std::size_t local_name = le16(archive, local + 26);
  const std::size_t local_extra = le16(archive, local + 28);
  const std::size_t data = local + kZipLocalSize + local_name + local_extra;
  if (data > directory_start || directory_start - data < size ||
      std::string_view(reinterpret_cast<const char*>(archive.data() + local + kZipLocalSize), local_name) != name) {
    return std::nullopt;
  }
  const Bytes content = archive.subspan(data, size);
  if (crc32(content) != le32(archive, central + 16)) {
    return std::nullopt;
  }
  return content;
}

}  // namespace

std::uint32_t crc32(Bytes data) noexcept {
  static constexpr auto kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit) {
        value = (value & 1U) != 0 ? 0xEDB88320U ^ (value >> 1) : value >> 1;
      }
      table[i] = value;
    }
    return table;
  }();
  std::uint32_t crc = 0xFFFFFFFFU;
  for (const unsigned char c : data) {
    crc = kTable[(crc ^ c) & 0xFFU] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFU;
}

ArchiveEntry tar_single_entry(Bytes archive, std::string_view suffix) noexcept {
  try {
    Candidates candidates(suffix);
    std::size_t at = 0;
    // Every entry takes at least one block, so this ends.
    while (true) {
      if (archive.size() - at < kTarBlock) {
        return failure(ArchiveError::kMalformed);  // the end blocks are missing
      }
      const Bytes header = archive.subspan(at, kTarBlock);
      at += kTarBlock;
      if (all_zero(header)) {
        break;
      }
      const std::string_view magic = tar_field(header, 257, 6);
      const auto size = tar_octal(header, 124, 12);
      if (magic.substr(0, 5) != "ustar" || !tar_checksum_matches(header) || !size) {
        return failure(ArchiveError::kMalformed);
      }
      const std::uint64_t padded = (*size + kTarBlock - 1) / kTarBlock * kTarBlock;
      if (*size > archive.size() - at || padded > archive.size() - at) {
        return failure(ArchiveError::kMalformed);
      }
      std::string name(tar_field(header, 345, 155));
      if (!name.empty()) {
        name += '/';
      }
      name += tar_field(header, 0, 100);
      if (!name_is_safe(name)) {
        return failure(ArchiveError::kUnsafeName);
      }
      const char type = static_cast<char>(header[156]);
      const Bytes data = archive.subspan(at, static_cast<std::size_t>(*size));
      at += static_cast<std::size_t>(padded);
      if (type == '5') {
        continue;
      }
      // Other kinds (links, long-name and extended headers that would rename
      // or resize what follows) are not what a package archive holds.
      if ((type != '0' && type != '\0') || is_directory_name(name)) {
        return failure(ArchiveError::kUnsupported);
      }
      if (!candidates.offer(name, data)) {
        return failure(ArchiveError::kSeveral);
      }
    }
    return candidates.result();
  } catch (const std::exception&) {
    return failure(ArchiveError::kMalformed);
  }
}

ArchiveEntry zip_single_entry(Bytes archive, std::string_view suffix) noexcept {
  try {
    const auto end = zip_end_record(archive);
    if (!end) {
      return failure(ArchiveError::kMalformed);
    }
    const std::size_t count = le16(archive, *end + 10);
    const std::size_t directory_size = le32(archive, *end + 12);
    const std::size_t directory_start = le32(archive, *end + 16);
    // One disk only; the 64-bit extension (its markers are all-ones) is not
    // needed for an installer and not taken.
    if (le16(archive, *end + 4) != 0 || le16(archive, *end + 6) != 0 || le16(archive, *end + 8) != count ||
        count == 0xFFFF || directory_start == 0xFFFFFFFF || directory_start > *end ||
        directory_size != *end - directory_start) {
      return failure(ArchiveError::kMalformed);
    }
    Candidates candidates(suffix);
    std::optional<std::size_t> chosen;
    std::size_t at = directory_start;
    for (std::size_t i = 0; i < count; ++i) {
      if (*end - at < kZipCentralSize || le32(archive, at) != kZipCentralSignature) {
        return failure(ArchiveError::kMalformed);
      }
      const std::size_t name_size = le16(archive, at + 28);
      const std::size_t record_size = kZipCentralSize + name_size + le16(archive, at + 30) + le16(archive, at + 32);
      if (*end - at < record_size) {
        return failure(ArchiveError::kMalformed);
      }
      const std::string_view name(reinterpret_cast<const char*>(archive.data() + at + kZipCentralSize), name_size);
      if (!name_is_safe(name)) {
        return failure(ArchiveError::kUnsafeName);
      }
      if (!is_directory_name(name) && ends_with_suffix(name, suffix)) {
        if (!candidates.offer(name, {})) {
          return failure(ArchiveError::kSeveral);
        }
        chosen = at;
      }
      at += record_size;
    }
    if (at != *end) {
      return failure(ArchiveError::kMalformed);
    }
    ArchiveEntry entry = candidates.result();
    if (entry.error != ArchiveError::kNone) {
      return entry;
    }
    const std::uint16_t flags = le16(archive, *chosen + 8);
    const std::uint16_t method = le16(archive, *chosen + 10);
    if ((flags & kZipEncrypted) != 0 || method != 0) {
      return failure(ArchiveError::kUnsupported);
    }
    if (le32(archive, *chosen + 20) != le32(archive, *chosen + 24)) {
      return failure(ArchiveError::kMalformed);  // stored, yet the sizes differ
    }
    const auto data = zip_entry_data(archive, *chosen, directory_start, entry.name);
    if (!data) {
      return failure(ArchiveError::kMalformed);
    }
    entry.data = *data;
    return entry;
  } catch (const std::exception&) {
    return failure(ArchiveError::kMalformed);
  }
}

std::string_view archive_error_text(ArchiveError error) noexcept {
  switch (error) {
    case ArchiveError::kNone:
      return "no error";
    case ArchiveError::kMalformed:
      return "the archive is damaged or inconsistent";
    case ArchiveError::kUnsafeName:
      return "the archive names a file outside its own folder";
    case ArchiveError::kUnsupported:
      return "the archive holds an entry of a kind that is not taken";
    case ArchiveError::kNoCandidate:
      return "the archive holds no installer";
    case ArchiveError::kSeveral:
      return "the archive holds more than one installer";
  }
  return "unknown error";
}

}  // namespace velto::updater
