#include "ProgramFile.h"

#include <array>
#include <exception>
#include <filesystem>
#include <fstream>
#include <vector>

namespace velto::app {

namespace {

constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kOptionalPe32 = 0x010B;
constexpr std::uint16_t kOptionalPe32Plus = 0x020B;
constexpr std::uint16_t kElfI386 = 3;
constexpr std::uint16_t kElfAmd64 = 62;
constexpr std::uint16_t kElfArm64 = 183;
constexpr std::uint16_t kElfExecutable = 2;
constexpr std::uint16_t kElfShared = 3;  // position-independent executables

std::uint32_t read_le(std::span<const unsigned char> bytes, std::size_t at, std::size_t width) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = (value << 8) | bytes[at + i];
  }
  return value;
}

bool pe_matches(std::span<const unsigned char> head, std::uint16_t machine, std::uint16_t optional) noexcept {
  constexpr std::size_t kHeaderOffsetAt = 0x3C;
  if (head.size() < kHeaderOffsetAt + 4 || head[0] != 'M' || head[1] != 'Z') {
    return false;
  }
  const std::size_t pe = read_le(head, kHeaderOffsetAt, 4);
  // Signature, file header (20 bytes), then the optional header's magic.
  if (pe > head.size() || head.size() - pe < 4 + 20 + 2) {
    return false;
  }
  return head[pe] == 'P' && head[pe + 1] == 'E' && head[pe + 2] == 0 && head[pe + 3] == 0 &&
         read_le(head, pe + 4, 2) == machine && read_le(head, pe + 24, 2) == optional;
}

bool elf_matches(std::span<const unsigned char> head, unsigned file_class, std::uint16_t machine) noexcept {
  constexpr std::size_t kMinimum = 20;
  if (head.size() >= 3 && head[0] == '#' && head[1] == '!' && head[2] == '/') {
    return true;
  }
  if (head.size() < kMinimum || head[0] != 0x7F || head[1] != 'E' || head[2] != 'L' || head[3] != 'F') {
    return false;
  }
  // Little-endian, current version, and something that can be started.
  const std::uint32_t type = read_le(head, 16, 2);
  return head[4] == file_class && head[5] == 1 && head[6] == 1 && (type == kElfExecutable || type == kElfShared) &&
         read_le(head, 18, 2) == machine;
}

}  // namespace

bool program_head_matches(std::span<const unsigned char> head, ProgramFormat format) noexcept {
  switch (format) {
    case ProgramFormat::PeI386:
      return pe_matches(head, kMachineI386, kOptionalPe32);
    case ProgramFormat::PeAmd64:
      return pe_matches(head, kMachineAmd64, kOptionalPe32Plus);
    case ProgramFormat::ElfI386:
      return elf_matches(head, 1, kElfI386);
    case ProgramFormat::ElfAmd64:
      return elf_matches(head, 2, kElfAmd64);
    case ProgramFormat::ElfArm64:
      return elf_matches(head, 2, kElfArm64);
  }
  return false;
}

bool is_program_file(TextView path, ProgramFormat format) noexcept {
  try {
    std::ifstream file(std::filesystem::path(std::u16string(path)), std::ios::binary);
    if (!file) {
      return false;
    }
    std::vector<unsigned char> head(kProgramHeadSize);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(file.gcount()));
    return program_head_matches(head, format);
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace velto::app
