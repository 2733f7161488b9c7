// The file operations where Linux differs from Windows: no drive forms, no
// patterns, links, special files, permissions, $TMPDIR.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "Core/Strings.h"
#include "FilesTestSupport.h"
#include "System/Files.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using testing::CurrentDirectory;
using testing::FilesTest;
using testing::ScopedVariable;
using testing::write_file;

using PosixFiles = FilesTest;

// A different file-creation mask for the life of the object.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(umask(mask)) {}
  ~ScopedUmask() { umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t old_;
};

class UnixSocket {
 public:
  UnixSocket() : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {}
  ~UnixSocket() {
    if (fd_ >= 0) {
      close(fd_);
    }
  }
  UnixSocket(const UnixSocket&) = delete;
  UnixSocket& operator=(const UnixSocket&) = delete;

  bool bind_to(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd_ < 0 || path.size() >= sizeof address.sun_path) {
      return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }

 private:
  int fd_;
};

TEST_F(PosixFiles, TheRootIsADirectory) {
  EXPECT_EQ(file_size(u"/"), -2);
  EXPECT_EQ(file_size(u"//"), -2);
  EXPECT_EQ(file_size(u"///"), -2);
}

TEST_F(PosixFiles, StarAndQuestionMarkAreNameCharacters) {
  write_file(native("a*b"), "abc");
  write_file(native("ab"), "12345");
  write_file(native("a?"), "1");
  EXPECT_EQ(file_size(path("a*b")), 3);
  EXPECT_EQ(file_size(path("a?")), 1);
  // Nothing is named like these; they match nothing.
  EXPECT_EQ(file_size(path("a*")), -1);
  EXPECT_EQ(file_size(path("*")), -1);
  EXPECT_EQ(file_size(path("?b")), -1);
}

TEST_F(PosixFiles, BackslashIsANameCharacter) {
  fs::create_directory(native("dir"));
  write_file(native("back\\slash"), "12");
  EXPECT_EQ(file_size(path("dir") + u"\\"), -1);
  EXPECT_EQ(file_size(path("back\\slash")), 2);
  EXPECT_NE(dir_create(path("new\\")), 0);
  EXPECT_TRUE(fs::is_directory(native("new\\")));
  EXPECT_FALSE(fs::exists(native("new")));
}

TEST_F(PosixFiles, DriveFormsAreOrdinaryNames) {
  const CurrentDirectory inside(root());
  EXPECT_EQ(file_size(u"C:"), -1);
  EXPECT_EQ(file_size(u"C:/"), -1);
  fs::create_directory(native("C:"));
  write_file(native("D:"), "1234");
  EXPECT_EQ(file_size(u"C:"), -2);
  EXPECT_EQ(file_size(u"C:/"), -2);
  EXPECT_EQ(file_size(u"D:"), 4);
}

TEST_F(PosixFiles, RelativePathsStartFromTheCurrentDirectory) {
  fs::create_directories(native("inner/deeper"));
  write_file(native("five.txt"), "12345");
  const CurrentDirectory inside(native("inner"));
  EXPECT_EQ(file_size(u".."), -2);
  EXPECT_EQ(file_size(u"../"), -2);
  EXPECT_EQ(file_size(u"../inner"), -2);
  EXPECT_EQ(file_size(u"deeper/"), -2);
  EXPECT_EQ(file_size(u"../five.txt"), 5);
  EXPECT_EQ(file_size(u"../absent"), -1);
}

TEST_F(PosixFiles, LinksAnswerForTheirTargets) {
  write_file(native("target.txt"), "1234567");
  fs::create_directory(native("dir"));
  fs::create_symlink(native("target.txt"), native("file-link"));
  fs::create_directory_symlink(native("dir"), native("dir-link"));
  fs::create_symlink(native("absent"), native("dangling"));
  fs::create_symlink(native("file-link"), native("link-to-link"));

  EXPECT_EQ(file_size(path("file-link")), 7);
  EXPECT_EQ(file_size(path("link-to-link")), 7);
  EXPECT_EQ(file_size(path("dir-link")), -2);
  EXPECT_EQ(file_size(path("dir-link") + u"/"), -2);
  // Nothing usable is behind a dangling link.
  EXPECT_EQ(file_size(path("dangling")), -1);
}

TEST_F(PosixFiles, SpecialFilesAreNothingUsable) {
  ASSERT_EQ(mkfifo(to_utf8(path("fifo")).c_str(), 0600), 0);
  EXPECT_EQ(file_size(path("fifo")), -1);

  UnixSocket socket;
  ASSERT_TRUE(socket.bind_to(to_utf8(path("socket"))));
  EXPECT_EQ(file_size(path("socket")), -1);

  // A character device.
  EXPECT_EQ(file_size(u"/dev/null"), -1);

  // They are still non-directories that deletion removes.
  EXPECT_NE(file_delete(path("fifo")), 0);
  EXPECT_NE(file_delete(path("socket")), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(native("fifo"))));
}

TEST_F(PosixFiles, SizeBeyondFourGibibytes) {
  // Sparse: no disk space is used.
  constexpr std::int64_t kSize = (std::int64_t{1} << 32) + 5;
  write_file(native("large"), "");
  ASSERT_EQ(truncate(to_utf8(path("large")).c_str(), kSize), 0);
  EXPECT_EQ(file_size(path("large")), kSize);
}

TEST_F(PosixFiles, DirectoriesAreMadeUnderTheUmask) {
  {
    const ScopedUmask mask(027);
    ASSERT_NE(dir_create(path("masked")), 0);
  }
  {
    const ScopedUmask mask(0);
    ASSERT_NE(dir_create(path("open/")), 0);
  }
  struct stat status {};
  ASSERT_EQ(stat(to_utf8(path("masked")).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0750U);
  ASSERT_EQ(stat(to_utf8(path("open")).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0777U);
}

TEST_F(PosixFiles, DeletionIgnoresTheFilesOwnPermissions) {
  write_file(native("read-only"), "x");
  fs::permissions(native("read-only"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  EXPECT_NE(file_delete(path("read-only")), 0);
  EXPECT_FALSE(fs::exists(native("read-only")));
}

TEST_F(PosixFiles, DeletionRemovesALinkAndNotItsTarget) {
  write_file(native("target.txt"), "keep");
  fs::create_symlink(native("target.txt"), native("link"));
  fs::create_symlink(native("absent"), native("dangling"));
  EXPECT_NE(file_delete(path("link")), 0);
  EXPECT_NE(file_delete(path("dangling")), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(native("link"))));
  EXPECT_FALSE(fs::exists(fs::symlink_status(native("dangling"))));
  EXPECT_EQ(file_size(path("target.txt")), 4);
}

TEST_F(PosixFiles, DeletionTakesThePathAsGiven) {
  write_file(native("file"), "x");
  fs::create_directory(native("dir"));
  fs::create_directory_symlink(native("dir"), native("dir-link"));
  // A trailing slash names a directory, which a file is not.
  EXPECT_EQ(file_delete(path("file") + u"/"), 0);
  EXPECT_TRUE(fs::exists(native("file")));
  EXPECT_EQ(file_delete(path("dir") + u"/"), 0);
  EXPECT_TRUE(fs::is_directory(native("dir")));
  EXPECT_EQ(file_delete(path("dir-link") + u"/"), 0);
  EXPECT_TRUE(fs::is_symlink(native("dir-link")));
}

// Each case runs with TMPDIR in one state and puts the old one back.
struct TmpdirCase {
  const char* name;
  const char* value;  // nullptr: unset
  const char* expected;
};

void PrintTo(const TmpdirCase& c, std::ostream* out) {
  *out << c.name;
}

class TempDirectoryFromTmpdir : public ::testing::TestWithParam<TmpdirCase> {};

TEST_P(TempDirectoryFromTmpdir, EndsInASlash) {
  const TmpdirCase& c = GetParam();
  const ScopedVariable tmpdir(u"TMPDIR", u"");
  if (c.value) {
    ASSERT_EQ(setenv("TMPDIR", c.value, 1), 0);
  } else {
    ASSERT_EQ(unsetenv("TMPDIR"), 0);
  }
  EXPECT_EQ(to_utf8(temp_directory()), c.expected);
}

// The directory need not exist: it is taken as the environment says.
INSTANTIATE_TEST_SUITE_P(
    States, TempDirectoryFromTmpdir,
    ::testing::Values(TmpdirCase{"Unset", nullptr, "/tmp/"}, TmpdirCase{"Empty", "", "/tmp/"},
                      TmpdirCase{"Plain", "/var/velto-tmp", "/var/velto-tmp/"},
                      TmpdirCase{"WithSlash", "/var/velto-tmp/", "/var/velto-tmp/"},
                      TmpdirCase{"Root", "/", "/"}, TmpdirCase{"Blank", " ", " /"},
                      TmpdirCase{"Utf8", "/tmp/\xc3\xbc\xe2\x82\xac", "/tmp/\xc3\xbc\xe2\x82\xac/"}),
    [](const ::testing::TestParamInfo<TmpdirCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace velto
