// The path text rules of the file library, for both backends.
#include <gtest/gtest.h>

#include "Core/Strings.h"
#include "FilePath.h"

namespace velto::files {
namespace {

struct TrimCase {
  const char16_t* path;
  const char16_t* expected;
};

void PrintTo(const TrimCase& c, std::ostream* out) {
  *out << '"' << to_utf8(c.path) << '"';
}

class WindowsSizePath : public ::testing::TestWithParam<TrimCase> {};

TEST_P(WindowsSizePath, DropsEveryTrailingBackslashAndSlash) {
  EXPECT_EQ(Text(windows_size_path(GetParam().path)), Text(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, WindowsSizePath,
                         ::testing::Values(TrimCase{u"C:\\Data", u"C:\\Data"}, TrimCase{u"C:\\Data\\", u"C:\\Data"},
                                           TrimCase{u"C:\\Data/", u"C:\\Data"},
                                           TrimCase{u"C:\\Data\\/\\//", u"C:\\Data"}, TrimCase{u"C:\\", u"C:"},
                                           TrimCase{u"C:/", u"C:"}, TrimCase{u"\\\\server\\share\\", u"\\\\server\\share"},
                                           // Blanks are part of the name here.
                                           TrimCase{u"dir \\", u"dir "}, TrimCase{u"\\", u""}, TrimCase{u"/\\/", u""},
                                           TrimCase{u"", u""}, TrimCase{u"a\\b", u"a\\b"}));

class WindowsDirectoryPath : public ::testing::TestWithParam<TrimCase> {};

TEST_P(WindowsDirectoryPath, DropsTrailingBlanksAndSeparatorsInAnyMix) {
  EXPECT_EQ(Text(windows_directory_path(GetParam().path)), Text(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, WindowsDirectoryPath,
                         ::testing::Values(TrimCase{u"C:\\New", u"C:\\New"}, TrimCase{u"C:\\New\\", u"C:\\New"},
                                           TrimCase{u"C:\\New   ", u"C:\\New"},
                                           TrimCase{u"C:\\New \\ / \\\\  //", u"C:\\New"},
                                           // Only the end is touched.
                                           TrimCase{u" C:\\A B\\ ", u" C:\\A B"}, TrimCase{u"\t", u"\t"},
                                           TrimCase{u" \\/ ", u""}, TrimCase{u"", u""}));

TEST(WindowsDirectoryPath, KeepsAtMostTheFirst260Characters) {
  const Text long_name(300, u'a');
  EXPECT_EQ(windows_directory_path(long_name).size(), kWindowsPathCapacity);
  EXPECT_EQ(windows_directory_path(Text(259, u'a') + u"\\   ").size(), 259U);
  // A blank that only follows the cut is never seen.
  EXPECT_EQ(windows_directory_path(Text(260, u'b') + u" ").size(), 260U);
  EXPECT_EQ(windows_directory_path(Text(259, u'b') + u" c").size(), 259U);
}

class PosixSizePath : public ::testing::TestWithParam<TrimCase> {};

TEST_P(PosixSizePath, DropsTrailingSlashesButKeepsTheRoot) {
  EXPECT_EQ(Text(posix_size_path(GetParam().path)), Text(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, PosixSizePath,
                         ::testing::Values(TrimCase{u"/tmp/data", u"/tmp/data"}, TrimCase{u"/tmp/data/", u"/tmp/data"},
                                           TrimCase{u"/tmp/data///", u"/tmp/data"}, TrimCase{u"/", u"/"},
                                           TrimCase{u"///", u"/"}, TrimCase{u"data/", u"data"},
                                           // A backslash is a name character.
                                           TrimCase{u"data\\", u"data\\"}, TrimCase{u"data\\/", u"data\\"},
                                           TrimCase{u"data /", u"data "}, TrimCase{u"", u""}));

class PosixDirectoryPath : public ::testing::TestWithParam<TrimCase> {};

TEST_P(PosixDirectoryPath, DropsTrailingBlanksAndSlashesInAnyMix) {
  EXPECT_EQ(Text(posix_directory_path(GetParam().path)), Text(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Table, PosixDirectoryPath,
                         ::testing::Values(TrimCase{u"/tmp/new", u"/tmp/new"}, TrimCase{u"/tmp/new/", u"/tmp/new"},
                                           TrimCase{u"/tmp/new / //  ", u"/tmp/new"},
                                           TrimCase{u"/tmp/new\\", u"/tmp/new\\"},
                                           TrimCase{u"/tmp/new\\ ", u"/tmp/new\\"}, TrimCase{u"/", u""},
                                           TrimCase{u" a b ", u" a b"}, TrimCase{u"", u""}));

TEST(UpToNul, TextEndsAtItsFirstNul) {
  EXPECT_EQ(up_to_nul(TextView(u"ab\0cd", 5)), TextView(u"ab"));
  EXPECT_EQ(up_to_nul(TextView(u"\0cd", 3)), TextView());
  EXPECT_EQ(up_to_nul(u"abc"), TextView(u"abc"));
  EXPECT_EQ(up_to_nul(u""), TextView());
}

struct DriveCase {
  const char16_t* path;
  bool drive_form;
  const char16_t* root;  // what the drive type is asked for
};

void PrintTo(const DriveCase& c, std::ostream* out) {
  *out << '"' << to_utf8(c.path) << '"';
}

class DriveForm : public ::testing::TestWithParam<DriveCase> {};

TEST_P(DriveForm, IsTwoOrThreeCharactersWithAColonSecond) {
  const DriveCase& c = GetParam();
  EXPECT_EQ(is_drive_form(c.path), c.drive_form);
  if (c.drive_form) {
    EXPECT_EQ(drive_root(c.path), Text(c.root));
  }
}

// The forms arrive with their trailing separators already removed.
INSTANTIATE_TEST_SUITE_P(Table, DriveForm,
                         ::testing::Values(DriveCase{u"C:", true, u"C:\\"}, DriveCase{u"z:", true, u"z:\\"},
                                           DriveCase{u"C:x", true, u"C:x"}, DriveCase{u"C:.", true, u"C:."},
                                           // Anything with a colon second counts; the drive type sorts it out.
                                           DriveCase{u"1:", true, u"1:\\"}, DriveCase{u"C", false, nullptr},
                                           DriveCase{u"C:ab", false, nullptr}, DriveCase{u":C", false, nullptr},
                                           DriveCase{u"CC:", false, nullptr}, DriveCase{u"", false, nullptr},
                                           DriveCase{u"C:\\x", false, nullptr}));

struct PrefixCase {
  const char16_t* path;
  bool second_test;
};

void PrintTo(const PrefixCase& c, std::ostream* out) {
  *out << '"' << to_utf8(c.path) << '"';
}

class AttributeTest : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(AttributeTest, IsForTwoBackslashesTwoSlashesOrTwoDots) {
  EXPECT_EQ(needs_attribute_test(GetParam().path), GetParam().second_test);
}

INSTANTIATE_TEST_SUITE_P(Table, AttributeTest,
                         ::testing::Values(PrefixCase{u"\\\\server\\share", true}, PrefixCase{u"//server/share", true},
                                           PrefixCase{u"..", true}, PrefixCase{u"..\\dir", true},
                                           PrefixCase{u"../dir", true}, PrefixCase{u"\\\\?\\C:\\x", true},
                                           PrefixCase{u"...", true},
                                           // Mixed pairs and single ones are ordinary paths.
                                           PrefixCase{u"\\/server", false}, PrefixCase{u"/\\server", false},
                                           PrefixCase{u"\\server", false}, PrefixCase{u".\\dir", false},
                                           PrefixCase{u".", false}, PrefixCase{u"C:\\..", false},
                                           PrefixCase{u"", false}));

}  // namespace
}  // namespace velto::files
