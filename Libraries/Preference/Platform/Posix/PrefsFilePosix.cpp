#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <exception>

#include "Core/Strings.h"
#include "PrefsCodeset.h"
#include "PrefsFile.h"

namespace velto::platform {

namespace {

// Bound on retries of a call interrupted by a signal.
constexpr int kInterruptRetries = 100;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

int descriptor(const PrefsFile& file) noexcept {
  return static_cast<int>(file.native());
}

// Opens a regular file only: directories, pipes and devices are no
// preference files (O_NONBLOCK keeps a FIFO from blocking the open).
PrefsFile open_regular(TextView path, int flags) noexcept {
  std::string name;
  try {
    name = to_utf8(path);
  } catch (const std::exception&) {
    return PrefsFile();
  }
  int fd = -1;
  for (int i = 0; i < kInterruptRetries; ++i) {
    // Created files get 0666 less the umask, as any editor would give them.
    fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd >= 0 || errno != EINTR) {
      break;
    }
  }
  if (fd < 0) {
    return PrefsFile();
  }
  PrefsFile file(fd);
  struct stat info = {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return PrefsFile();
  }
  const int status = ::fcntl(fd, F_GETFL);
  if (status != -1) {
    ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
  }
  return file;
}

class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) noexcept : cd_(::iconv_open(to, from)) {}
  ~IconvHandle() {
    if (valid()) {
      ::iconv_close(cd_);
    }
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;

  [[nodiscard]] bool valid() const noexcept { return cd_ != reinterpret_cast<iconv_t>(-1); }
  [[nodiscard]] iconv_t get() const noexcept { return cd_; }

 private:
  iconv_t cd_;
};

bool is_utf8_name(const char* codeset) noexcept {
  return ::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "UTF8") == 0;
}

}  // namespace

void PrefsFile::close() noexcept {
  if (is_open()) {
    ::close(static_cast<int>(release()));
  }
}

// POSIX has no share modes: another process writing the file never makes an
// open fail, so both read-only attempts are the same O_RDONLY open.
PrefsFile prefs_file_open(TextView path, PrefsAccess access) noexcept {
  return open_regular(path, access == PrefsAccess::read_write ? O_RDWR : O_RDONLY);
}

PrefsFile prefs_file_create(TextView path) noexcept {
  return open_regular(path, O_RDWR | O_CREAT | O_TRUNC);
}

std::uint64_t prefs_file_size(const PrefsFile& file) noexcept {
  struct stat info = {};
  if (::fstat(descriptor(file), &info) != 0 || info.st_size < 0) {
    return 0;
  }
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t prefs_file_read(const PrefsFile& file, char* buffer, std::size_t size) noexcept {
  const std::size_t chunk = std::min<std::size_t>(size, SSIZE_MAX);
  for (int i = 0; i < kInterruptRetries; ++i) {
    const ssize_t got = ::read(descriptor(file), buffer, chunk);
    if (got >= 0) {
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) {
      break;
    }
  }
  return 0;
}

bool prefs_file_rewind(const PrefsFile& file) noexcept {
  return ::lseek(descriptor(file), 0, SEEK_SET) == 0;
}

void prefs_file_replace(const PrefsFile& file, std::string_view bytes) noexcept {
  const int fd = descriptor(file);
  if (::lseek(fd, 0, SEEK_SET) != 0) {
    return;
  }
  std::size_t written = 0;
  int interrupts = 0;
  while (written < bytes.size()) {
    const std::size_t chunk = std::min<std::size_t>(bytes.size() - written, SSIZE_MAX);
    const ssize_t done = ::write(fd, bytes.data() + written, chunk);
    if (done > 0) {
      written += static_cast<std::size_t>(done);
    } else if (done < 0 && errno == EINTR && ++interrupts < kInterruptRetries) {
      continue;
    } else {
      break;
    }
  }
  // Cut at the end of what was written, even after a failed write.
  while (::ftruncate(fd, static_cast<off_t>(written)) != 0 && errno == EINTR && ++interrupts < kInterruptRetries) {
  }
}

bool prefs_codeset_to_utf8(std::string_view bytes, const char* codeset, std::string& out) noexcept {
  try {
    out.clear();
    if (is_utf8_name(codeset)) {
      out = to_utf8(from_utf8(bytes));
      return true;
    }
    const IconvHandle converter("UTF-8", codeset);
    if (!converter.valid()) {
      out = to_utf8(from_utf8(bytes));
      return true;
    }
    char* in = const_cast<char*>(bytes.data());
    std::size_t in_left = bytes.size();
    bool input_done = false;
    char chunk[4096];
    // Each round consumes input, fills the chunk or ends the input.
    const std::size_t max_rounds = 2 * bytes.size() + 16;
    for (std::size_t round = 0; round < max_rounds; ++round) {
      char* produced = chunk;
      std::size_t room = sizeof chunk;
      // With no input, iconv writes what a stateful set still owes.
      const std::size_t result = input_done ? ::iconv(converter.get(), nullptr, nullptr, &produced, &room)
                                            : ::iconv(converter.get(), &in, &in_left, &produced, &room);
      const int error = errno;
      out.append(chunk, static_cast<std::size_t>(produced - chunk));
      if (result != static_cast<std::size_t>(-1)) {
        if (input_done) {
          return true;
        }
        input_done = true;
        continue;
      }
      if (error == E2BIG) {
        continue;
      }
      if (input_done) {
        return false;
      }
      if (error == EILSEQ) {
        out.append(kReplacement);
        ++in;
        --in_left;
      } else if (error == EINVAL) {
        // A sequence cut short by the end of the text.
        out.append(kReplacement);
        in_left = 0;
      } else {
        return false;
      }
    }
    return false;
  } catch (const std::exception&) {
    return false;
  }
}

bool prefs_ansi_to_utf8(std::string_view bytes, std::string& out) noexcept {
  return prefs_codeset_to_utf8(bytes, ::nl_langinfo(CODESET), out);
}

}  // namespace velto::platform
