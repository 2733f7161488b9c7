#include "Core/FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>
#include <random>
#include <string>
#include <utility>

#include "Core/Strings.h"

namespace velto {

namespace {

constexpr int kInterruptRetries = 100;
constexpr unsigned kNameAttempts = 100;

std::string folder_of(const std::string& name) {
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : name.substr(0, slash);
}

}  // namespace

bool FileReplacement::begin(TextView target, std::optional<unsigned> mode) noexcept {
  discard();
  try {
    const std::string native = to_utf8(target);
    if (native.empty() || native.back() == '/' || target.find(u'\0') != TextView::npos) {
      return false;
    }
    std::random_device random;
    const unsigned start = random();
    for (unsigned attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = native + std::string(kMarker) + std::to_string(::getpid()) + "-" +
                               std::to_string(start + attempt) + ".tmp";
      // O_EXCL and O_NOFOLLOW: a file or link someone else put under the
      // name (a shared temporary folder) is never opened.
      const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY,
                            mode ? static_cast<mode_t>(*mode) : 0666);
      if (fd < 0) {
        if (errno == EEXIST || errno == EINTR) {
          continue;
        }
        return false;
      }
      handle_ = fd;
      name_ = from_utf8(name);
      target_.assign(target);
      // The umask has its say at creation; an explicit mode is meant as given.
      if (mode && ::fchmod(fd, static_cast<mode_t>(*mode)) != 0) {
        discard();
        return false;
      }
      return true;
    }
  } catch (const std::exception&) {
    discard();
  }
  return false;
}

std::size_t FileReplacement::write(const char* data, std::size_t size) noexcept {
  if (!is_open()) {
    return 0;
  }
  std::size_t done = 0;
  int interrupts = 0;
  while (done < size) {
    const std::size_t chunk = std::min<std::size_t>(size - done, SSIZE_MAX);
    const ssize_t count = ::write(static_cast<int>(handle_), data + done, chunk);
    if (count < 0 && errno == EINTR && ++interrupts < kInterruptRetries) {
      continue;
    }
    if (count <= 0) {
      break;  // a full disk, for instance
    }
    done += static_cast<std::size_t>(count);
  }
  return done;
}

bool FileReplacement::commit() noexcept {
  if (!is_open()) {
    return false;
  }
  try {
    const std::string name = to_utf8(name_);
    const std::string target = to_utf8(target_);
    bool done = ::fsync(static_cast<int>(handle_)) == 0;
    done = ::close(static_cast<int>(std::exchange(handle_, kClosed))) == 0 && done;
    done = done && ::rename(name.c_str(), target.c_str()) == 0;
    if (!done) {
      discard();
      return false;
    }
    name_.clear();
    // The rename itself is on the disk once the folder is.
    const int folder = ::open(folder_of(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
      static_cast<void>(::fsync(folder));
      ::close(folder);
    }
    return true;
  } catch (const std::exception&) {
    discard();
    return false;
  }
}

void FileReplacement::close() noexcept {
  if (is_open()) {
    ::close(static_cast<int>(std::exchange(handle_, kClosed)));
  }
}

void FileReplacement::discard() noexcept {
  close();
  if (!name_.empty()) {
    try {
      ::unlink(to_utf8(name_).c_str());
    } catch (const std::exception&) {
      // Out of memory: the new file stays behind, and is never read.
    }
    name_.clear();
  }
}

}  // namespace velto
