#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Core/Strings.h"
#include "HttpInternal.h"

namespace velto {

HttpTargetFile::~HttpTargetFile() {
  close();
}

bool HttpTargetFile::create(TextView path) noexcept {
  close();
  const Utf8Text native = text_to_utf8(path);
  if (!native || !native[0]) {
    return false;
  }
  // The temporary directory may be shared with other users: a link planted
  // under our name is not followed (ELOOP), and a FIFO cannot block the open
  // (O_NONBLOCK) and is refused below. 0666 under the umask, as files
  // normally are.
  const int fd = ::open(native.get(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    // Not ours to delete: it was there before.
    ::close(fd);
    return false;
  }
  const int status_flags = ::fcntl(fd, F_GETFL);
  if (status_flags != -1) {
    ::fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK);
  }
  handle_ = fd;
  return true;
}

std::size_t HttpTargetFile::write(const char* data, std::size_t size) noexcept {
  if (handle_ < 0) {
    return 0;
  }
  std::size_t done = 0;
  while (done < size) {
    const ssize_t count = ::write(static_cast<int>(handle_), data + done, size - done);
    if (count < 0 && errno == EINTR) {
      continue;
    }
    if (count <= 0) {
      break;  // a full disk, for instance: libcurl then ends the transfer
    }
    done += static_cast<std::size_t>(count);
  }
  return done;
}

void HttpTargetFile::close() noexcept {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

void http_file_delete(TextView path) noexcept {
  const Utf8Text native = text_to_utf8(path);
  if (native && native[0]) {
    ::unlink(native.get());
  }
}

std::string http_native_text(TextView text) {
  return to_utf8(text);
}

}  // namespace velto
