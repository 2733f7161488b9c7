// What counts as a program when an updater arrives.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProgramFile.h"

#ifdef _WIN32
#include "Core/WinApi.h"
#else
#include <climits>
#include <unistd.h>
#endif

namespace velto::app {
namespace {

using Bytes = std::vector<unsigned char>;

void put_le(Bytes& bytes, std::size_t at, std::uint32_t value, std::size_t width) {
  if (bytes.size() < at + width) {
    bytes.resize(at + width);
  }
  for (std::size_t i = 0; i < width; ++i) {
    bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

Bytes pe(std::uint16_t machine, std::uint16_t optional, std::uint32_t header_at = 0x80) {
  Bytes bytes(header_at + 64, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  put_le(bytes, 0x3C, header_at, 4);
  bytes[header_at] = 'P';
  bytes[header_at + 1] = 'E';
  put_le(bytes, header_at + 4, machine, 2);
  put_le(bytes, header_at + 24, optional, 2);
  return bytes;
}

Bytes elf(unsigned file_class, std::uint16_t type, std::uint16_t machine) {
  Bytes bytes(64, 0);
  bytes[0] = 0x7F;
  bytes[1] = 'E';
  bytes[2] = 'L';
  bytes[3] = 'F';
  bytes[4] = static_cast<unsigned char>(file_class);
  bytes[5] = 1;
  bytes[6] = 1;
  put_le(bytes, 16, type, 2);
  put_le(bytes, 18, machine, 2);
  return bytes;
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(ProgramFiles, OnlyAProgramOfThisMachineCounts) {
  using F = ProgramFormat;
  struct Case {
    const char* name;
    Bytes head;
    F format;
    bool program;
  };
  Bytes cut_pe = pe(0x14C, 0x10B);
  cut_pe.resize(0x80 + 10);
  Bytes far_header = pe(0x14C, 0x10B);
  put_le(far_header, 0x3C, 0xFFFFFFF0U, 4);
  const std::vector<Case> cases{
      {"PE32 i386", pe(0x14C, 0x10B), F::PeI386, true},
      {"PE32+ x86-64", pe(0x8664, 0x20B), F::PeAmd64, true},
      {"x86-64 image for the 32-bit client", pe(0x8664, 0x20B), F::PeI386, false},
      {"i386 machine with a PE32+ header", pe(0x14C, 0x20B), F::PeI386, false},
      {"header cut short", cut_pe, F::PeI386, false},
      {"header offset beyond the file", far_header, F::PeI386, false},
      {"MZ alone", text("MZ"), F::PeI386, false},
      {"an error page", text("<!DOCTYPE html><html><body>Not Found</body></html>"), F::PeI386, false},
      {"an error page (Linux)", text("<html><body>Not Found</body></html>"), F::ElfAmd64, false},
      {"ELF x86-64 executable", elf(2, 2, 62), F::ElfAmd64, true},
      {"ELF x86-64 PIE", elf(2, 3, 62), F::ElfAmd64, true},
      {"ELF object file", elf(2, 1, 62), F::ElfAmd64, false},
      {"ELF for ARM", elf(2, 2, 183), F::ElfAmd64, false},
      {"32-bit ELF on x86-64", elf(1, 2, 3), F::ElfAmd64, false},
      {"ELF i386", elf(1, 2, 3), F::ElfI386, true},
      {"script", text("#!/bin/sh\nexec true\n"), F::ElfAmd64, true},
      {"not quite a script", text("#! sh"), F::ElfAmd64, false},
      {"a script is no Windows program", text("#!/bin/sh\n"), F::PeI386, false},
      {"empty", Bytes{}, F::ElfAmd64, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(program_head_matches(c.head, c.format), c.program) << c.name;
  }
}

// The test program itself is a program of the client's own kind.
TEST(ProgramFiles, ThisVeryProgramIsOne) {
#ifdef _WIN32
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH * 4);
  ASSERT_GT(length, 0U);
  const Text self(buffer, buffer + length);
#else
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  ASSERT_GT(length, 0);
  const Text self(buffer, buffer + length);
#endif
  EXPECT_TRUE(is_program_file(self));
  EXPECT_FALSE(is_program_file(self + u".missing"));
}

}  // namespace
}  // namespace velto::app
