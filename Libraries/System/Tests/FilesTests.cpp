// The file operations on real files and directories in a private directory,
// the same expectations on both platforms.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "Core/Strings.h"
#include "FilesTestSupport.h"
#include "System/Files.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using testing::FilesTest;
using testing::kSeparator;
using testing::write_file;

using Files = FilesTest;

TEST_F(Files, SizeOfAFileIsItsLengthInBytes) {
  write_file(native("empty"), "");
  write_file(native("five.txt"), "12345");
  EXPECT_EQ(file_size(path("empty")), 0);
  EXPECT_EQ(file_size(path("five.txt")), 5);
  // Trailing separators are ignored for files too.
  EXPECT_EQ(file_size(path("five.txt") + kSeparator), 5);
}

TEST_F(Files, SizeOfADirectoryIsMinusTwoWithOrWithoutTrailingSeparators) {
  fs::create_directory(native("dir"));
  const Text dir = path("dir");
  for (const Text& form : {dir, dir + kSeparator, dir + kSeparator + kSeparator, dir + u'/'}) {
    EXPECT_EQ(file_size(form), -2) << to_utf8(form);
  }
}

TEST_F(Files, SizeOfNothingIsMinusOne) {
  fs::create_directory(native("dir"));
  EXPECT_EQ(file_size(u""), -1);
  EXPECT_EQ(file_size(path("absent")), -1);
  EXPECT_EQ(file_size(path("absent") + kSeparator), -1);
  EXPECT_EQ(file_size(path("absent") + kSeparator + u"child"), -1);
  EXPECT_EQ(file_size(path("dir") + kSeparator + u"absent"), -1);
}

TEST_F(Files, TextEndsAtItsFirstNul) {
  fs::create_directory(native("dir"));
  Text with_nul = path("dir");
  with_nul += u'\0';
  with_nul += u"absent";
  EXPECT_EQ(file_size(with_nul), -2);
  EXPECT_EQ(file_size(Text(1, u'\0')), -1);
}

TEST_F(Files, DirectoryCreationMakesOnlyTheLastLevel) {
  const Text dir = path("made");
  EXPECT_NE(dir_create(dir + kSeparator), 0);
  EXPECT_TRUE(fs::is_directory(native("made")));
  EXPECT_EQ(file_size(dir), -2);

  // Already there.
  EXPECT_EQ(dir_create(dir + kSeparator), 0);
  EXPECT_EQ(dir_create(dir), 0);

  // The parent is missing: nothing is made.
  EXPECT_EQ(dir_create(path("missing") + kSeparator + u"child"), 0);
  EXPECT_FALSE(fs::exists(native("missing")));

  // A file is in the way.
  write_file(native("file"), "x");
  EXPECT_EQ(dir_create(path("file")), 0);
  EXPECT_TRUE(fs::is_regular_file(native("file")));

  EXPECT_EQ(dir_create(u""), 0);
}

TEST_F(Files, DirectoryCreationIgnoresTrailingBlanksAndSeparators) {
  const Text separators(2, kSeparator);
  EXPECT_NE(dir_create(path("blanks") + u"   "), 0);
  EXPECT_NE(dir_create(path("mixed") + u" " + separators + u"  " + kSeparator + u" "), 0);
  EXPECT_TRUE(fs::is_directory(native("blanks")));
  EXPECT_TRUE(fs::is_directory(native("mixed")));
  // Only the blanks at the end go.
  EXPECT_NE(dir_create(path("inner blank")), 0);
  EXPECT_TRUE(fs::is_directory(native("inner blank")));
  int entries = 0;
  for ([[maybe_unused]] const fs::directory_entry& entry : fs::directory_iterator(root())) {
    ++entries;
  }
  EXPECT_EQ(entries, 3);
}

TEST_F(Files, DeletionRemovesFilesOnly) {
  write_file(native("doomed.txt"), "bye");
  fs::create_directory(native("dir"));

  EXPECT_EQ(file_delete(path("absent.txt")), 0);
  EXPECT_EQ(file_delete(u""), 0);

  EXPECT_EQ(file_delete(path("dir")), 0);
  EXPECT_TRUE(fs::is_directory(native("dir")));

  EXPECT_NE(file_delete(path("doomed.txt")), 0);
  EXPECT_FALSE(fs::exists(native("doomed.txt")));
  EXPECT_EQ(file_size(path("doomed.txt")), -1);
  // Gone already.
  EXPECT_EQ(file_delete(path("doomed.txt")), 0);
}

TEST(TempDirectory, EndsInASeparatorAndExists) {
  const Text temp = temp_directory();
  ASSERT_FALSE(temp.empty());
  EXPECT_EQ(temp.back(), kSeparator);
  EXPECT_EQ(file_size(temp), -2);
  EXPECT_TRUE(fs::is_directory(fs::path(temp)));
  // Asked twice, the same.
  EXPECT_EQ(temp_directory(), temp);
}

TEST(TempDirectory, TakesAFileNameDirectly) {
  std::random_device random;
  const Text file = temp_directory() + from_utf8("velto-files-" + std::to_string(random()) + ".ini");
  write_file(fs::path(file), "[x]");
  EXPECT_EQ(file_size(file), 3);
  EXPECT_NE(file_delete(file), 0);
  EXPECT_EQ(file_size(file), -1);
}

}  // namespace
}  // namespace velto
