// The file operations where Windows has more to say: patterns, drive forms,
// share and parent forms, read-only files, the long form of the temporary
// directory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>

#include "Core/Strings.h"
#include "Core/WinApi.h"

#include <winioctl.h>

#include "FilesTestSupport.h"
#include "Win32Handles.h"
#include "System/Files.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::CurrentDirectory;
using testing::FilesTest;
using testing::ScopedVariable;
using testing::text_of;
using testing::unique_handle;
using testing::wide;
using testing::write_file;

using WindowsFiles = FilesTest;

// file_size on a thread of its own, given up after `bound`: a share lookup
// that never answers fails the test instead of hanging it. The thread owns
// everything it touches, so it may outlive the test.
std::optional<std::int64_t> size_within(const Text& path, std::chrono::seconds bound) {
  std::packaged_task<std::int64_t()> task([path] { return file_size(path); });
  std::future<std::int64_t> result = task.get_future();
  std::thread(std::move(task)).detach();
  if (result.wait_for(bound) != std::future_status::ready) {
    return std::nullopt;
  }
  return result.get();
}

// The drive the system is installed on, as "C".
Text system_drive_letter() {
  wchar_t buffer[MAX_PATH] = {};
  const UINT length = GetWindowsDirectoryW(buffer, MAX_PATH);
  return length >= 2 && buffer[1] == L':' ? Text(1, static_cast<char16_t>(buffer[0])) : Text();
}

// A drive letter that names no drive; floppy letters are avoided.
Text absent_drive_letter() {
  const DWORD drives = GetLogicalDrives();
  for (int letter = 'Y'; letter >= 'C'; --letter) {
    if ((drives & (DWORD{1} << (letter - 'A'))) == 0) {
      return Text(1, static_cast<char16_t>(letter));
    }
  }
  return {};
}

TEST_F(WindowsFiles, PatternsMatchingFilesAreNothing) {
  write_file(native("a1.txt"), "1");
  write_file(native("a2.txt"), "22");
  fs::create_directory(native("sub"));
  for (const char* pattern : {"a*.txt", "a?.txt", "a1.tx?", "*", "*.*", "s*", "a1*"}) {
    EXPECT_EQ(file_size(path(pattern)), -1) << pattern;
  }
  EXPECT_EQ(file_size(path("a1.txt")), 1);
}

TEST_F(WindowsFiles, BothSeparatorsWorkInAnyMix) {
  fs::create_directory(native("dir"));
  write_file(native("dir/five.txt"), "12345");
  const Text dir = path("dir");
  for (const Text& form : {dir + u"\\/", dir + u"/\\", dir + u"\\/\\//", dir + u"/"}) {
    EXPECT_EQ(file_size(form), -2) << to_utf8(form);
  }
  const Text forward = native("dir/five.txt").generic_u16string();
  EXPECT_EQ(file_size(forward), 5) << to_utf8(forward);

  EXPECT_NE(dir_create(path("made") + u" \\/ /\\  "), 0);
  EXPECT_TRUE(fs::is_directory(native("made")));
}

TEST(WindowsDrives, ExistingDriveIsADirectoryInEveryForm) {
  const Text drive = system_drive_letter();
  ASSERT_FALSE(drive.empty());
  Text lower = drive;
  lower[0] = static_cast<char16_t>(lower[0] | 0x20);
  for (const Text& form : {drive + u":", drive + u":\\", drive + u":/", drive + u":\\\\", drive + u":/\\", lower + u":"}) {
    EXPECT_EQ(file_size(form), -2) << to_utf8(form);
  }
}

TEST(WindowsDrives, AbsentDriveIsNothingInEveryForm) {
  const Text drive = absent_drive_letter();
  if (drive.empty()) {
    GTEST_SKIP() << "every drive letter is in use";
  }
  for (const Text& form : {drive + u":", drive + u":\\", drive + u":/"}) {
    EXPECT_EQ(file_size(form), -1) << to_utf8(form);
  }
  EXPECT_EQ(file_size(drive + u":\\velto"), -1);
}

TEST_F(WindowsFiles, SizeBeyondFourGibibytes) {
  constexpr std::int64_t kSize = (std::int64_t{1} << 32) + 5;
  {
    const Text file = path("large");
    const unique_handle handle(
        CreateFileW(wide(file), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_NE(handle.get(), INVALID_HANDLE_VALUE);
    // Sparse where the file system can, so that no disk space is taken.
    DWORD ignored = 0;
    DeviceIoControl(handle.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
    LARGE_INTEGER end{};
    end.QuadPart = kSize;
    ASSERT_TRUE(SetFilePointerEx(handle.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(handle.get()));
  }
  EXPECT_EQ(file_size(path("large")), kSize);
}

TEST_F(WindowsFiles, ReadOnlyFileIsNotDeleted) {
  write_file(native("locked.txt"), "abc");
  const Text file = path("locked.txt");
  ASSERT_TRUE(SetFileAttributesW(wide(file), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(file_delete(file), 0);
  EXPECT_EQ(file_size(file), 3);
  ASSERT_TRUE(SetFileAttributesW(wide(file), FILE_ATTRIBUTE_NORMAL));
  EXPECT_NE(file_delete(file), 0);
  EXPECT_EQ(file_size(file), -1);
}

TEST_F(WindowsFiles, ParentFormsAreFoundFromTheCurrentDirectory) {
  fs::create_directories(native("inner/deeper"));
  write_file(native("five.txt"), "12345");
  const CurrentDirectory inside(native("inner"));
  for (const char16_t* form : {u"..\\inner", u"..\\inner\\", u"../inner", u"..\\inner\\deeper", u"..", u"..\\",
                               u"../", u"..\\inner\\.."}) {
    EXPECT_EQ(file_size(form), -2) << to_utf8(form);
  }
  EXPECT_EQ(file_size(u"..\\five.txt"), 5);
  EXPECT_EQ(file_size(u"..\\absent"), -1);
  EXPECT_EQ(file_size(u"..\\absent\\"), -1);
  EXPECT_EQ(file_size(u"..\\inner\\five.txt"), -1);
}

TEST(WindowsShares, ShareThatNothingServesIsNothing) {
  for (const char16_t* form : {u"\\\\127.0.0.1\\velto-absent-share", u"\\\\127.0.0.1\\velto-absent-share\\",
                               u"//127.0.0.1/velto-absent-share"}) {
    const std::optional<std::int64_t> size = size_within(form, 60s);
    ASSERT_TRUE(size.has_value()) << "no answer for " << to_utf8(form);
    EXPECT_EQ(*size, -1) << to_utf8(form);
  }
}

TEST_F(WindowsFiles, TempDirectoryIsTheLongFormOfTheSystemsAnswer) {
  fs::create_directory(native("Long Temporary Directory"));
  const Text long_form = path("Long Temporary Directory");
  wchar_t short_form[MAX_PATH] = {};
  const DWORD length = GetShortPathNameW(wide(long_form), short_form, MAX_PATH);
  ASSERT_GT(length, 0U);
  ASSERT_LT(length, DWORD{MAX_PATH});
  const Text given(reinterpret_cast<const char16_t*>(short_form), length);
  if (given == long_form) {
    GTEST_SKIP() << "this volume makes no short names";
  }
  // The expected text as the system spells the long form, whatever the
  // private directory's own path looks like.
  wchar_t expected[MAX_PATH] = {};
  const DWORD expected_length = GetLongPathNameW(short_form, expected, MAX_PATH);
  ASSERT_GT(expected_length, 0U);

  const ScopedVariable tmp(u"TMP", given);
  const Text temp = temp_directory();
  EXPECT_EQ(temp, Text(reinterpret_cast<const char16_t*>(expected), expected_length) + u"\\");
}

TEST_F(WindowsFiles, TempDirectoryIsEmptyWhenItCannotBeFound) {
  const ScopedVariable tmp(u"TMP", path("absent"));
  EXPECT_EQ(temp_directory(), u"");
}

}  // namespace
}  // namespace velto
