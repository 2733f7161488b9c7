#include "System/Files.h"

#include <exception>

#include "FilePath.h"
#include "FilesInternal.h"

namespace velto {

void file_library_end() {}

std::int64_t file_size(TextView path) noexcept {
  path = files::up_to_nul(path);
  if (path.empty()) {
    return -1;
  }
  try {
    return platform::path_size(path);
  } catch (const std::exception&) {
    return -1;
  }
}

int dir_create(TextView path) noexcept {
  path = files::up_to_nul(path);
  if (path.empty()) {
    return 0;
  }
  try {
    return platform::make_directory(path) ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

int file_delete(TextView path) noexcept {
  path = files::up_to_nul(path);
  if (path.empty()) {
    return 0;
  }
  try {
    return platform::remove_file(path) ? 1 : 0;
  } catch (const std::exception&) {
    return 0;
  }
}

Text temp_directory() noexcept {
  try {
    return platform::temporary_directory();
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace velto
