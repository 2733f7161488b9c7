#include <gtest/gtest.h>

#include <vector>

#include "CommandLine.h"
#include "Core/Strings.h"

namespace velto::process {
namespace {

struct BuildCase {
  const char16_t* program;
  const char16_t* parameters;
  const char16_t* expected;
};

class BuildCommandLine : public ::testing::TestWithParam<BuildCase> {};

TEST_P(BuildCommandLine, QuotesTheProgramAndAppendsParametersUnchanged) {
  const BuildCase& c = GetParam();
  EXPECT_EQ(build_command_line(c.program, c.parameters), Text(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BuildCommandLine,
    ::testing::Values(
        BuildCase{u"C:\\Tools\\app.exe", u"-x", u"\"C:\\Tools\\app.exe\" -x"},
        BuildCase{u"C:\\Tools\\app.exe", u"", u"\"C:\\Tools\\app.exe\""},
        BuildCase{u"C:\\Program Files\\Velto\\updater.exe", u"\"C:\\Users\\A B\\velto.exe\" https://host/x.zip 1234",
                  u"\"C:\\Program Files\\Velto\\updater.exe\" \"C:\\Users\\A B\\velto.exe\" https://host/x.zip 1234"},
        // Already quoted: used unchanged, arguments inside it included.
        BuildCase{u"\"C:\\A B\\app.exe\" -y", u"-x", u"\"C:\\A B\\app.exe\" -y -x"},
        BuildCase{u"\"C:\\app.exe\"", u"", u"\"C:\\app.exe\""},
        // Nothing inside is escaped or quoted again.
        BuildCase{u"C:\\x\\y.exe", u"a \"b\" \\\"c\\", u"\"C:\\x\\y.exe\" a \"b\" \\\"c\\"},
        BuildCase{u"C:\\a\"b.exe", u"", u"\"C:\\a\"b.exe\""},
        BuildCase{u"C:\\dir\\", u"", u"\"C:\\dir\\\""},
        BuildCase{u"", u"-x", u"\"\" -x"},
        BuildCase{u"", u"", u"\"\""},
        BuildCase{u"p", u"  x ", u"\"p\"   x "},
        BuildCase{u"/usr/bin/prog", u"\u00fc \U0001D11E", u"\"/usr/bin/prog\" \u00fc \U0001D11E"}));

struct SplitCase {
  const char16_t* line;
  std::vector<const char16_t*> arguments;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
  *out << to_utf8(c.line);
}

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, FollowsTheWindowsRuntimeRules) {
  const SplitCase& c = GetParam();
  std::vector<Text> expected(c.arguments.begin(), c.arguments.end());
  EXPECT_EQ(split_command_line(c.line), expected);
}

// The cases after "p" are the documented examples of the C runtime.
INSTANTIATE_TEST_SUITE_P(
    Arguments, SplitCommandLine,
    ::testing::Values(
        SplitCase{u"p \"a b c\" d e", {u"p", u"a b c", u"d", u"e"}},
        SplitCase{u"p \"ab\\\"c\" \"\\\\\" d", {u"p", u"ab\"c", u"\\", u"d"}},
        SplitCase{u"p a\\\\\\b d\"e f\"g h", {u"p", u"a\\\\\\b", u"de fg", u"h"}},
        SplitCase{u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
        SplitCase{u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
        SplitCase{u"p a\"b\"\" c d", {u"p", u"ab\" c d"}},
        // A doubled quote inside quotes is one quote and quoting goes on.
        SplitCase{u"p \"e\"\"f g\"", {u"p", u"e\"f g"}},
        // Outside quotes a doubled quote is an empty quoted part.
        SplitCase{u"p a\"\"b", {u"p", u"ab"}},
        SplitCase{u"p \"\"", {u"p", u""}},
        SplitCase{u"p \"\" \"\"", {u"p", u"", u""}},
        SplitCase{u"p \"unterminated arg", {u"p", u"unterminated arg"}},
        SplitCase{u"p trailing\\", {u"p", u"trailing\\"}},
        SplitCase{u"p \\\\server\\share\\", {u"p", u"\\\\server\\share\\"}},
        SplitCase{u"p \"C:\\dir\\\\\"", {u"p", u"C:\\dir\\"}},
        SplitCase{u"p \t a\t\tb  ", {u"p", u"a", u"b"}},
        SplitCase{u"p a\nb", {u"p", u"a\nb"}},
        SplitCase{u"\"/opt/Velto Chat/updater\" \"/home/u/Velto Chat/velto\" https://host/x.zip 1234",
                  {u"/opt/Velto Chat/updater", u"/home/u/Velto Chat/velto", u"https://host/x.zip", u"1234"}}));

INSTANTIATE_TEST_SUITE_P(
    ProgramName, SplitCommandLine,
    ::testing::Values(SplitCase{u"", {}},
                      SplitCase{u"\"C:\\Program Files\\app.exe\" -x", {u"C:\\Program Files\\app.exe", u"-x"}},
                      SplitCase{u"C:\\Tools\\app.exe -x", {u"C:\\Tools\\app.exe", u"-x"}},
                      SplitCase{u"\"C:\\Tools\\app.exe\"", {u"C:\\Tools\\app.exe"}},
                      // No backslash escapes in the program name.
                      SplitCase{u"\"C:\\dir\\\" x", {u"C:\\dir\\", u"x"}},
                      SplitCase{u"C:\\a\\\"b c\" d", {u"C:\\a\\b c", u"d"}},
                      SplitCase{u"\"a b\"c d", {u"a bc", u"d"}},
                      SplitCase{u"\"\" -x", {u"", u"-x"}},
                      SplitCase{u"\"/usr/bin/prog\"   ", {u"/usr/bin/prog"}},
                      SplitCase{u"prog\targ", {u"prog", u"arg"}},
                      SplitCase{u"\"unterminated name", {u"unterminated name"}}));

// Whatever build_command_line makes of a program, the split gives the
// program back as the first argument.
TEST(CommandLineRoundTrip, ProgramComesBackFirst) {
  for (const char16_t* program :
       {u"C:\\Tools\\app.exe", u"C:\\Program Files\\Velto\\velto.exe", u"/home/u/Velto Chat/updater", u"app",
        u"C:\\dir\\", u"\\\\server\\share\\x.exe"}) {
    const std::vector<Text> arguments = split_command_line(build_command_line(program, u"-x \"y z\""));
    ASSERT_EQ(arguments.size(), 3U) << to_utf8(program);
    EXPECT_EQ(arguments[0], Text(program));
    EXPECT_EQ(arguments[1], u"-x");
    EXPECT_EQ(arguments[2], u"y z");
  }
}

struct DirectoryCase {
  const char16_t* program;
  const char16_t* working_directory;
  const char16_t* expected;
};

class ShellDirectory : public ::testing::TestWithParam<DirectoryCase> {};

TEST_P(ShellDirectory, IsTheWorkingDirectoryElseTheProgramsOwn) {
  const DirectoryCase& c = GetParam();
  EXPECT_EQ(shell_directory(c.program, c.working_directory), TextView(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Table, ShellDirectory,
                         ::testing::Values(DirectoryCase{u"C:\\Docs\\note.txt", u"", u"C:\\Docs\\"},
                                           DirectoryCase{u"C:\\Docs\\note.txt", u"D:\\Work", u"D:\\Work"},
                                           DirectoryCase{u"note.txt", u"", u""},
                                           DirectoryCase{u"note.txt", u"D:\\Work", u"D:\\Work"},
                                           DirectoryCase{u"\\note.txt", u"", u""},
                                           DirectoryCase{u"\\\\server\\share\\a.txt", u"", u"\\\\server\\share\\"},
                                           DirectoryCase{u"C:\\a\\b\\", u"", u"C:\\a\\b\\"},
                                           DirectoryCase{u"\"C:\\A B\\app.exe\" -z", u"", u"\"C:\\A B\\"},
                                           DirectoryCase{u"https://host/x", u"", u""},
                                           DirectoryCase{u"/usr/share/doc/x.txt", u"", u""},
                                           DirectoryCase{u"", u"", u""}));

struct PrefixCase {
  const char16_t* path;
  const char16_t* expected;
};

class LongPathPrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(LongPathPrefix, IsRemovedOnlyAtTheStart) {
  const PrefixCase& c = GetParam();
  EXPECT_EQ(without_long_path_prefix(c.path), TextView(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Table, LongPathPrefix,
                         ::testing::Values(PrefixCase{u"\\\\?\\C:\\Velto\\velto.exe", u"C:\\Velto\\velto.exe"},
                                           PrefixCase{u"C:\\Velto\\velto.exe", u"C:\\Velto\\velto.exe"},
                                           PrefixCase{u"\\\\?\\", u""},
                                           PrefixCase{u"\\\\?", u"\\\\?"},
                                           PrefixCase{u"\\\\.\\C:\\x", u"\\\\.\\C:\\x"},
                                           PrefixCase{u"C:\\\\?\\x", u"C:\\\\?\\x"},
                                           PrefixCase{u"", u""}));

}  // namespace
}  // namespace velto::process
