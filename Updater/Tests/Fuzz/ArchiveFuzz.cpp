// The first byte picks the reader; the rest is the archive. Whatever comes
// back must lie inside the bytes given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "Archive.h"

namespace {

void check_inside(const velto::updater::ArchiveEntry& entry, velto::updater::Bytes archive) {
  if (entry.error != velto::updater::ArchiveError::kNone) {
    return;
  }
  if (entry.data.data() < archive.data() || entry.data.data() + entry.data.size() > archive.data() + archive.size()) {
    std::abort();
  }
  // Touch every byte: the sanitizer reports any read outside.
  volatile unsigned sum = 0;
  for (const unsigned char c : entry.data) {
    sum = sum + c;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  const velto::updater::Bytes archive(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      check_inside(velto::updater::zip_single_entry(archive, ".exe"), archive);
      break;
    case 1:
      check_inside(velto::updater::tar_single_entry(archive, ".deb"), archive);
      break;
    default:
      if (const auto tar = velto::updater::gunzip(archive, std::size_t{16} * 1024 * 1024)) {
        check_inside(velto::updater::tar_single_entry(*tar, ".deb"), *tar);
      }
      break;
  }
  return 0;
}
