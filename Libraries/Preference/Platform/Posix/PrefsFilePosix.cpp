#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "Core/FileReplacement.h"
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

namespace {

// The file a path names, through symbolic links: a link stays a link and
// its target gets the new content, as it did when files were written in
// place. nullopt when the path cannot be followed.
std::optional<std::string> resolved_target(const std::string& name) {
  struct stat info = {};
  if (::lstat(name.c_str(), &info) != 0) {
    return errno == ENOENT ? std::optional<std::string>(name) : std::nullopt;
  }
  if (!S_ISLNK(info.st_mode)) {
    return name;
  }
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(name.c_str(), nullptr), &std::free);
  if (!real) {
    return std::nullopt;
  }
  return std::string(real.get());
}

std::string folder_of(const std::string& name) {
  const auto slash = name.rfind('/');
  if (slash == std::string::npos) {
    return ".";
  }
  return slash == 0 ? "/" : name.substr(0, slash);
}

bool folder_writable(const std::string& name) {
  struct stat info = {};
  const std::string folder = folder_of(name);
  return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

bool prefs_file_replaceable(TextView path) noexcept {
  try {
    const std::optional<std::string> target = resolved_target(to_utf8(path));
    if (!target || target->empty() || !folder_writable(*target)) {
      return false;
    }
    struct stat info = {};
    if (::stat(target->c_str(), &info) != 0) {
      return errno == ENOENT;
    }
    return S_ISREG(info.st_mode) && ::access(target->c_str(), W_OK) == 0;
  } catch (const std::exception&) {
    return false;
  }
}

bool prefs_file_write_whole(TextView path, std::string_view bytes) noexcept {
  try {
    if (!prefs_file_replaceable(path)) {
      return false;
    }
    const std::optional<std::string> target = resolved_target(to_utf8(path));
    if (!target) {
      return false;
    }
    // The new file keeps the old one's permission bits.
    std::optional<unsigned> mode;
    struct stat old = {};
    if (::stat(target->c_str(), &old) == 0) {
      mode = static_cast<unsigned>(old.st_mode & 07777);
    }
    FileReplacement replacement;
    return replacement.begin(from_utf8(*target), mode) &&
           replacement.write(bytes.data(), bytes.size()) == bytes.size() && replacement.commit();
  } catch (const std::exception&) {
    return false;
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
