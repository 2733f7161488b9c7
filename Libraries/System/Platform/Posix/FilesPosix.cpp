// Linux backend of the file library.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "Core/Strings.h"
#include "FilePath.h"
#include "FilesInternal.h"

namespace velto::platform {

static_assert(sizeof(off_t) >= sizeof(std::int64_t), "file sizes need 64-bit file offsets");

std::int64_t path_size(TextView path) {
  const std::string target = to_utf8(files::posix_size_path(path));
  struct stat status {};
  // stat follows links: a link answers for its target, and a dangling one
  // leads to nothing.
  if (stat(target.c_str(), &status) != 0) {
    return -1;
  }
  if (S_ISDIR(status.st_mode)) {
    return -2;
  }
  // FIFOs, sockets and devices have no size to report, and a caller that
  // saw a file would open it and could block: nothing usable.
  if (!S_ISREG(status.st_mode)) {
    return -1;
  }
  return static_cast<std::int64_t>(status.st_size);
}

bool make_directory(TextView path) {
  const std::string directory = to_utf8(files::posix_directory_path(path));
  return mkdir(directory.c_str(), 0777) == 0;
}

bool remove_file(TextView path) {
  const std::string file = to_utf8(path);
  // unlink never removes a directory. A file's own permissions do not
  // matter to it, only its directory's.
  return unlink(file.c_str()) == 0;
}

Text temporary_directory() {
  const char* variable = std::getenv("TMPDIR");
  std::string directory = variable && *variable ? variable : "/tmp";
  if (!directory.ends_with('/')) {
    directory += '/';
  }
  return from_utf8(directory);
}

}  // namespace velto::platform
