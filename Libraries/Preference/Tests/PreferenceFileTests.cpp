#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "Core/Strings.h"
#include "Preference/Preference.h"
#include "PreferenceInternal.h"

#ifdef _WIN32
#include "Core/WinApi.h"
#else
#include <grp.h>
#include <langinfo.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <vector>
#endif

namespace velto {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kMark = "\xEF\xBB\xBF";

// Each test works in a directory of its own and leaves no file open.
class PrefsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() /
           ("velto-prefs-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(random()));
    fs::create_directories(dir_);
  }

  void TearDown() override {
    prefs_close();
    std::error_code ignored;
    for (const auto& item : fs::directory_iterator(dir_, ignored)) {
      fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(dir_, ignored);
  }

  fs::path file(std::string_view name) const { return dir_ / fs::path(std::string(name)); }
  Text path(std::string_view name) const { return file(name).u16string(); }

  void write_bytes(std::string_view name, std::string_view bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good());
  }

  std::string read_bytes(std::string_view name) const {
    std::ifstream in(file(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
};

// ---- Reading ----

TEST_F(PrefsFiles, ReadsByKey) {
  struct Case {
    std::string_view bytes;
    TextView key;
    TextView expected_string;
    int expected_int;  // with the default 400
  } cases[] = {
      {"\xEF\xBB\xBFWindowX = 10\r\n", u"WindowX", u"10", 10},
      {"\xEF\xBB\xBFWindowX = 10\r\n", u"windowx", u"10", 10},
      {"\xEF\xBB\xBFWindowX = 10\r\n", u"WINDOWX", u"10", 10},
      {"\xEF\xBB\xBFWindowX = 10\r\n", u"wInDoWx", u"10", 10},
      {"WindowX=  -25  \r\n", u"WindowX", u"-25", -25},
      {"WindowX = abc\r\n", u"WindowX", u"abc", 0},
      {"WindowY = 1\r\n", u"WindowX", u"default", 400},
      {"WindowX\nWindowY = 5\n", u"WindowX", u"", 0},
      {"WindowX\nWindowY = 5\n", u"WindowY", u"5", 5},
      {"WindowX\r\nWindowY = 5\r\n", u"WindowX", u"", 0},
      {"WindowX\r\nWindowY = 5\r\n", u"WindowY", u"5", 5},
      {"[Group]\r\nWindowX = 1\r\n", u"WindowX", u"default", 400},
      {"WindowX = 2\r\n[Group]\r\nWindowX = 1\r\n", u"WindowX", u"2", 2},
      {"WindowX = 1\r\nwindowx = 2\r\n", u"WindowX", u"1", 1},
      {"\xEF\xBB\xBF", u"WindowX", u"default", 400},
      {"WindowX = 99999999999", u"WindowX", u"99999999999", INT_MAX},
      {"WindowX = -99999999999", u"WindowX", u"-99999999999", INT_MIN},
      {"WindowX = +42", u"WindowX", u"+42", 42},
      {"k = a b \t ", u"k", u"a b", 0},
      {"k = \"quoted value\"", u"k", u"\"quoted value\"", 0},
      {"#WindowX = 3", u"#WindowX", u"3", 3},
      {"; WindowX = 3", u"WindowX", u"default", 400},
      {"= 4", u"", u"4", 4},
      {"\xEF\xBB\xBFName = Привет\r\n", u"name", u"Привет", 0},
      {"\xEF\xBB\xBF\r\n\r\nchatvers = 0.2.17.1\r\n", u"chatvers", u"0.2.17.1", 0},
      // Shorter than the mark: always ANSI.
      {"k", u"k", u"", 0},
      {"k=", u"k", u"", 0},
      {"\xEF\xBB", u"x", u"default", 400},
      // An ANSI text ends at its first NUL byte.
      {std::string_view("a = 1\r\n\0b = 2\r\n", 15), u"b", u"default", 400},
      {std::string_view("a = 1\r\n\0b = 2\r\n", 15), u"a", u"1", 1},
      {std::string_view("\xEF\xBB\xBF" "a = 1\0b = 2", 14), u"b", u"default", 400},
      // A key is looked up as far as its first NUL.
      {"a = 1", TextView(u"a\0b", 3), u"1", 1},
  };
  for (const Case& c : cases) {
    write_bytes("case.ini", c.bytes);
    ASSERT_NE(prefs_open(path("case.ini")), 0) << c.bytes;
    EXPECT_EQ(prefs_read_string(c.key, u"default"), c.expected_string) << c.bytes << " / " << to_utf8(c.key);
    EXPECT_EQ(prefs_read_int(c.key, 400), c.expected_int) << c.bytes << " / " << to_utf8(c.key);
    prefs_close();
    // Reading never rewrites.
    EXPECT_EQ(read_bytes("case.ini"), c.bytes);
  }
}

TEST_F(PrefsFiles, MissingKeyGivesTheDefaultUntrimmed) {
  write_bytes("a.ini", "x = 1");
  ASSERT_NE(prefs_open(path("a.ini")), 0);
  EXPECT_EQ(prefs_read_string(u"y", u"  spaced  "), u"  spaced  ");
  EXPECT_EQ(prefs_read_string(u"y", u""), u"");
  EXPECT_EQ(prefs_read_int(u"y", -7), -7);
}

TEST_F(PrefsFiles, NoFileOpenGivesDefaults) {
  EXPECT_EQ(prefs_read_string(u"chatvers", u"none"), u"none");
  EXPECT_EQ(prefs_read_int(u"WindowX", 400), 400);
  EXPECT_EQ(prefs_set(u"WindowX", 3), nullptr);
  prefs_write_int(u"WindowX", 1);
  prefs_close();
}

TEST_F(PrefsFiles, MissingFile) {
  EXPECT_EQ(prefs_open(path("velto_chat_version.ini")), 0);
  EXPECT_EQ(prefs_read_string(u"chatvers", u"0"), u"0");
  EXPECT_EQ(prefs_read_int(u"chatvers", 5), 5);
  prefs_close();
  // Nothing was written, so nothing is created.
  EXPECT_FALSE(fs::exists(file("velto_chat_version.ini")));

  EXPECT_EQ(prefs_open(path("WindowSettings.ini")), 0);
  prefs_write_int(u"WindowX", 12);
  EXPECT_EQ(prefs_read_int(u"WindowX", 0), 12);
  prefs_close();
  EXPECT_EQ(read_bytes("WindowSettings.ini"), "\xEF\xBB\xBF\r\nWindowX = 12\r\n");
}

TEST_F(PrefsFiles, PathsThatAreNoFiles) {
  EXPECT_EQ(prefs_open(u""), 0);
  prefs_write_int(u"k", 1);
  prefs_close();

  // A directory is not a preference file, and cannot be created as one.
  EXPECT_EQ(prefs_open(dir_.u16string()), 0);
  prefs_write_int(u"k", 1);
  prefs_close();
  EXPECT_TRUE(fs::is_directory(dir_));

  EXPECT_EQ(prefs_create(path("no-such-dir/x.ini")), 0);
  prefs_write_int(u"k", 1);
  EXPECT_EQ(prefs_read_int(u"k", 9), 9);
  prefs_close();
  EXPECT_FALSE(fs::exists(file("no-such-dir")));
}

// ---- Writing ----

TEST_F(PrefsFiles, CreateAndWriteLayout) {
  write_bytes("WindowSettings.ini", "WindowX = 1\r\n");
  ASSERT_NE(prefs_create(path("WindowSettings.ini")), 0);
  // The old content stays until the new one is complete.
  EXPECT_EQ(read_bytes("WindowSettings.ini"), "WindowX = 1\r\n");
  prefs_write_int(u"WindowX", 100);
  prefs_write_int(u"WindowY", 50);
  prefs_write_int(u"WindowWidth", 400);
  prefs_write_int(u"WindowHeight", 700);
  prefs_close();
  EXPECT_EQ(read_bytes("WindowSettings.ini"),
            "\xEF\xBB\xBF\r\nWindowX = 100\r\nWindowY = 50\r\nWindowWidth = 400\r\nWindowHeight = 700\r\n");
}

TEST_F(PrefsFiles, CreateWithoutValues) {
  write_bytes("a.ini", "old = content\r\n");
  ASSERT_NE(prefs_create(path("a.ini")), 0);
  prefs_close();
  EXPECT_EQ(read_bytes("a.ini"), "\xEF\xBB\xBF\r\n");
}

TEST_F(PrefsFiles, WritesChangeTheList) {
  struct Case {
    std::string_view name;
    std::optional<std::string_view> before;  // none: made with prefs_create
    void (*writes)();
    std::string_view after;
  } cases[] = {
      {"same key twice", std::nullopt, [] { prefs_write_int(u"WindowX", 1); prefs_write_int(u"WindowX", 2); },
       "\xEF\xBB\xBF\r\nWindowX = 2\r\n"},
      {"key case follows the last write", std::nullopt,
       [] { prefs_write_int(u"WindowX", 1); prefs_write_int(u"windowX", 22); }, "\xEF\xBB\xBF\r\nwindowX = 22\r\n"},
      {"negative values", std::nullopt,
       [] { prefs_write_int(u"A", -5); prefs_write_int(u"B", INT_MIN); prefs_write_int(u"C", INT_MAX); },
       "\xEF\xBB\xBF\r\nA = -5\r\nB = -2147483648\r\nC = 2147483647\r\n"},
      {"insert before the first group", "a = 1\r\n; note\r\n[G]\r\nb = 2\r\n",
       [] { prefs_write_int(u"c", 3); prefs_write_int(u"b", 4); },
       "\xEF\xBB\xBF\r\na = 1\r\n; note\r\nc = 3\r\nb = 4\r\n[G]\r\nb = 2\r\n"},
      {"insert at the head before a group", "[G]\r\nb = 2\r\n", [] { prefs_write_int(u"a", 1); },
       "\xEF\xBB\xBF\r\na = 1\r\n[G]\r\nb = 2\r\n"},
      {"ANSI file rewritten as UTF-8", ";c\nkey=old value\n\n[G] junk\nx\n", [] { prefs_write_int(u"KEY", 7); },
       "\xEF\xBB\xBF\r\n; c\r\nKEY = 7\r\n[G]\r\nx = \r\n"},
      {"longer value than before", "k = 1\r\nnext = x\r\n", [] { prefs_write_int(u"k", -123456); },
       "\xEF\xBB\xBF\r\nk = -123456\r\nnext = x\r\n"},
      {"key without a value", "k\r\nnext = x\r\n", [] { prefs_write_int(u"k", 5); },
       "\xEF\xBB\xBF\r\nk = 5\r\nnext = x\r\n"},
      {"first of equal keys", "k = 1\r\nK = 2\r\n", [] { prefs_write_int(u"k", 9); },
       "\xEF\xBB\xBF\r\nk = 9\r\nK = 2\r\n"},
      {"0-byte file", "", [] { prefs_write_int(u"k", 1); }, "k = 1\r\n"},
      {"only the mark", "\xEF\xBB\xBF", [] { prefs_write_int(u"k", 1); }, "\xEF\xBB\xBF\r\nk = 1\r\n"},
      {"trailing blanks of other values stay", "\xEF\xBB\xBF" "a = x  \r\n", [] { prefs_write_int(u"b", 0); },
       "\xEF\xBB\xBF\r\na = x  \r\nb = 0\r\n"},
  };
  for (const Case& c : cases) {
    if (!c.before) {
      ASSERT_NE(prefs_create(path("w.ini")), 0) << c.name;
    } else {
      write_bytes("w.ini", *c.before);
      ASSERT_NE(prefs_open(path("w.ini")), 0) << c.name;
    }
    c.writes();
    prefs_close();
    EXPECT_EQ(read_bytes("w.ini"), c.after) << c.name;
  }
}

TEST_F(PrefsFiles, WrittenValuesReadBackBeforeAndAfterClose) {
  ASSERT_NE(prefs_create(path("r.ini")), 0);
  const struct {
    TextView key;
    int value;
  } values[] = {{u"WindowX", 100}, {u"WindowY", -50}, {u"WindowWidth", INT_MIN}, {u"WindowHeight", INT_MAX}};
  for (const auto& v : values) {
    prefs_write_int(v.key, v.value);
  }
  for (const auto& v : values) {
    EXPECT_EQ(prefs_read_int(v.key, 1), v.value);
  }
  prefs_close();

  ASSERT_NE(prefs_open(path("r.ini")), 0);
  for (const auto& v : values) {
    EXPECT_EQ(prefs_read_int(v.key, 1), v.value);
  }
  prefs_write_int(u"windowx", 7);
  prefs_write_int(u"Extra", 8);
  prefs_close();

  ASSERT_NE(prefs_open(path("r.ini")), 0);
  EXPECT_EQ(prefs_read_int(u"WindowX", 1), 7);
  EXPECT_EQ(prefs_read_int(u"WindowY", 1), -50);
  EXPECT_EQ(prefs_read_string(u"extra", u""), u"8");
  prefs_close();
  EXPECT_EQ(read_bytes("r.ini"),
            "\xEF\xBB\xBF\r\nwindowx = 7\r\nWindowY = -50\r\nWindowWidth = -2147483648\r\n"
            "WindowHeight = 2147483647\r\nExtra = 8\r\n");
}

TEST_F(PrefsFiles, OpeningAnotherFileWritesBackTheFirst) {
  write_bytes("b.ini", "b = 2");
  ASSERT_NE(prefs_create(path("a.ini")), 0);
  prefs_write_int(u"a", 1);
  ASSERT_NE(prefs_open(path("b.ini")), 0);
  EXPECT_EQ(read_bytes("a.ini"), "\xEF\xBB\xBF\r\na = 1\r\n");
  EXPECT_EQ(prefs_read_int(u"a", 0), 0);
  EXPECT_EQ(prefs_read_int(u"b", 0), 2);
}

TEST_F(PrefsFiles, LongFileRewrittenShorterIsCut) {
  std::string before = "\xEF\xBB\xBFk = 1\r\n";
  for (int i = 0; i < 200; ++i) {
    before += "\r\n\r\n;   padding that the rewrite drops   \r\n";
  }
  write_bytes("cut.ini", before);
  ASSERT_NE(prefs_open(path("cut.ini")), 0);
  prefs_write_int(u"k", 2);
  prefs_close();
  std::string expected = "\xEF\xBB\xBF\r\nk = 2\r\n";
  for (int i = 0; i < 200; ++i) {
    expected += ";   padding that the rewrite drops   \r\n";
  }
  EXPECT_EQ(read_bytes("cut.ini"), expected);
}

// Names in the test's folder other than `keep`: what a write left behind.
std::vector<std::string> leftovers(const fs::path& dir, std::string_view keep) {
  std::vector<std::string> found;
  for (const auto& item : fs::directory_iterator(dir)) {
    if (item.path().filename().string() != keep) {
      found.push_back(item.path().filename().string());
    }
  }
  return found;
}

TEST_F(PrefsFiles, ReplacementLeavesNothingBesideTheFile) {
  write_bytes("WindowSettings.ini", "WindowX = 1\r\n");
  ASSERT_NE(prefs_open(path("WindowSettings.ini")), 0);
  prefs_write_int(u"WindowX", 2);
  prefs_close();
  ASSERT_NE(prefs_create(path("WindowSettings.ini")), 0);
  prefs_write_int(u"WindowX", 3);
  prefs_close();
  EXPECT_EQ(read_bytes("WindowSettings.ini"), "\xEF\xBB\xBF\r\nWindowX = 3\r\n");
  EXPECT_EQ(leftovers(dir_, "WindowSettings.ini"), std::vector<std::string>{});
}

#ifndef _WIN32
// A write that fails half-way (the disk full, a quota reached): the old
// file stays byte for byte, and no part of the new one is left.
TEST_F(PrefsFiles, AFailedWriteLeavesTheOldFileWhole) {
  const std::string old = "\xEF\xBB\xBF\r\nWindowX = 1920\r\nWindowY = 1080\r\n";
  write_bytes("WindowSettings.ini", old);
  const std::string name = to_utf8(path("WindowSettings.ini"));
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);
    // Files of this process may grow to 16 bytes: the new content does not fit.
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
      ::_exit(100);
    }
    if (prefs_create(from_utf8(name)) == 0) {
      ::_exit(1);
    }
    prefs_write_int(u"WindowX", 1280);
    prefs_write_int(u"WindowY", 1024);
    prefs_write_int(u"WindowWidth", 1000);
    prefs_write_int(u"WindowHeight", 900);
    prefs_close();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read_bytes("WindowSettings.ini"), old);
  EXPECT_EQ(leftovers(dir_, "WindowSettings.ini"), std::vector<std::string>{});
}

TEST_F(PrefsFiles, ReplacementKeepsPermissionsAndLinks) {
  write_bytes("real.ini", "WindowX = 1\r\n");
  fs::permissions(file("real.ini"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("real.ini", file("link.ini"));
  ASSERT_NE(prefs_open(path("link.ini")), 0);
  prefs_write_int(u"WindowX", 2);
  prefs_close();
  EXPECT_TRUE(fs::is_symlink(file("link.ini")));
  EXPECT_EQ(read_bytes("real.ini"), "\xEF\xBB\xBF\r\nWindowX = 2\r\n");
  EXPECT_EQ(fs::status(file("real.ini")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

// ---- Files that can be opened only for reading ----

#ifndef _WIN32
constexpr int kChildSetupFailed = 100;
constexpr int kChildCannotReach = 101;

// Runs `body` in a child process without root's power to ignore file
// permissions; answers the child's exit code, or -1.
int run_unprivileged(int (*body)(const Text& path), const Text& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(30);  // never outlive the test
    constexpr uid_t kNobody = 65534;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(kChildSetupFailed);
    }
    if (::access(to_utf8(path).c_str(), R_OK) != 0) {
      ::_exit(kChildCannotReach);
    }
    ::_exit(body(path));
  }
  int status = 0;
  if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}
#endif

// 0 when the file opened, answered its value and took a write in memory.
int read_then_write(const Text& path) {
  if (prefs_open(path) == 0) {
    return 1;
  }
  if (prefs_read_int(u"WindowX", 0) != 10) {
    return 2;
  }
  prefs_write_int(u"WindowX", 99);
  prefs_write_int(u"New", 1);
  if (prefs_read_int(u"WindowX", 0) != 99) {
    return 3;
  }
  prefs_close();
  return 0;
}

TEST_F(PrefsFiles, ReadOnlyFileKeepsItsContent) {
  constexpr std::string_view kContent = "WindowX = 10\r\n";
  write_bytes("ro.ini", kContent);
  fs::permissions(file("ro.ini"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
#ifdef _WIN32
  // The read-only attribute; Wine run by root lets root write anyway.
  const std::wstring name = file("ro.ini").wstring();
  const HANDLE probe =
      ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    GTEST_SKIP() << "this system lets the read-only attribute be written through (Wine as root); "
                    "FileOpenForWritingElsewhereKeepsItsContent covers the read-only open";
  }
  EXPECT_EQ(read_then_write(path("ro.ini")), 0);
#else
  if (::geteuid() == 0) {
    // Root may write any file; the calls run in a child that may not. The
    // directory must let that child in.
    fs::permissions(dir_, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    const int result = run_unprivileged(read_then_write, path("ro.ini"));
    if (result == kChildCannotReach) {
      GTEST_SKIP() << "the temporary directory " << dir_ << " is out of reach of an unprivileged user";
    }
    EXPECT_EQ(result, 0);
  } else {
    EXPECT_EQ(read_then_write(path("ro.ini")), 0);
  }
#endif
  EXPECT_EQ(read_bytes("ro.ini"), kContent);
}

#ifdef _WIN32
TEST_F(PrefsFiles, FileOpenForWritingElsewhereKeepsItsContent) {
  constexpr std::string_view kContent = "WindowX = 10\r\n";
  write_bytes("busy.ini", kContent);
  // Another writer: only the third attempt (sharing write access) gets in.
  const std::wstring name = file("busy.ini").wstring();
  const HANDLE writer = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(read_then_write(path("busy.ini")), 0);
  ::CloseHandle(writer);
  EXPECT_EQ(read_bytes("busy.ini"), kContent);
}

TEST_F(PrefsFiles, FileLockedElsewhereCannotBeOpened) {
  write_bytes("locked.ini", "WindowX = 10\r\n");
  const std::wstring name = file("locked.ini").wstring();
  const HANDLE owner =
      ::CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(owner, INVALID_HANDLE_VALUE);
  EXPECT_EQ(prefs_open(path("locked.ini")), 0);
  EXPECT_EQ(prefs_read_int(u"WindowX", 400), 400);
  prefs_write_int(u"WindowX", 1);
  // Creating it at close fails as well while the owner holds it.
  prefs_close();
  ::CloseHandle(owner);
  EXPECT_EQ(read_bytes("locked.ini"), "WindowX = 10\r\n");
}
#endif

// ---- ANSI files ----

#ifdef _WIN32
TEST_F(PrefsFiles, PrefsAnsiCyrillic) {
  if (::GetACP() != 1251) {
    GTEST_SKIP() << "the ANSI code page is " << ::GetACP() << ", not 1251 (run with LANG=ru_RU.UTF-8)";
  }
  // "Name = Привет" in code page 1251.
  write_bytes("cp1251.ini", "Name = \xCF\xF0\xE8\xE2\xE5\xF2\r\nWindowX = 5\r\n");
  ASSERT_NE(prefs_open(path("cp1251.ini")), 0);
  EXPECT_EQ(prefs_read_string(u"name", u""), u"Привет");
  prefs_write_int(u"WindowX", 6);
  prefs_close();
  EXPECT_EQ(read_bytes("cp1251.ini"), "\xEF\xBB\xBF\r\nName = Привет\r\nWindowX = 6\r\n");
}
#else
// Switches the character set of the C library's locale for one test.
class CtypeLocale {
 public:
  explicit CtypeLocale(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr)) {
    active_ = std::setlocale(LC_CTYPE, name) != nullptr;
  }
  ~CtypeLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }
  CtypeLocale(const CtypeLocale&) = delete;
  CtypeLocale& operator=(const CtypeLocale&) = delete;
  [[nodiscard]] bool active() const { return active_; }

 private:
  std::string old_;
  bool active_ = false;
};

TEST_F(PrefsFiles, PrefsAnsiInUtf8Locale) {
  const CtypeLocale locale("C.UTF-8");
  if (!locale.active()) {
    GTEST_SKIP() << "no C.UTF-8 locale on this system";
  }
  write_bytes("utf8.ini", "Name = Привет\r\nBad = a\xFF" "b\xD0\r\n");
  ASSERT_NE(prefs_open(path("utf8.ini")), 0);
  EXPECT_EQ(prefs_read_string(u"Name", u""), u"Привет");
  EXPECT_EQ(prefs_read_string(u"Bad", u""), u"a\uFFFDb\uFFFD");
  prefs_write_int(u"WindowX", 1);
  prefs_close();
  EXPECT_EQ(read_bytes("utf8.ini"),
            "\xEF\xBB\xBF\r\nName = Привет\r\nBad = a\xEF\xBF\xBD" "b\xEF\xBF\xBD\r\nWindowX = 1\r\n");
}

// Runs a program and answers its exit code, or -1; gives it 60 s.
int run_program(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  pid_t child = 0;
  if (::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return -1;
  }
  int status = 0;
  for (int i = 0; i < 600; ++i) {
    if (::waitpid(child, &status, WNOHANG) == child) {
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ::usleep(100 * 1000);
  }
  ::kill(child, SIGKILL);
  ::waitpid(child, &status, 0);
  return -1;
}

// Points the C library at locales compiled into a directory of the test's.
class LocalePath {
 public:
  explicit LocalePath(const fs::path& dir) {
    if (const char* old = std::getenv("LOCPATH")) {
      old_ = old;
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
  }
  ~LocalePath() {
    if (old_) {
      ::setenv("LOCPATH", old_->c_str(), 1);
    } else {
      ::unsetenv("LOCPATH");
    }
  }
  LocalePath(const LocalePath&) = delete;
  LocalePath& operator=(const LocalePath&) = delete;

 private:
  std::optional<std::string> old_;
};

TEST_F(PrefsFiles, PrefsAnsiCyrillicLocale) {
  // A Russian locale with code page 1251, compiled for this test only.
  const fs::path locales = dir_ / "locales";
  fs::create_directories(locales);
  const int compiled = run_program({"localedef", "-i", "ru_RU", "-f", "CP1251", (locales / "ru_RU.CP1251").string()});
  if (compiled != 0 && compiled != 1) {  // 1: compiled with warnings
    GTEST_SKIP() << "localedef could not compile ru_RU.CP1251 (exit " << compiled << ")";
  }
  const LocalePath path_for_locales(locales);
  const CtypeLocale locale("ru_RU.CP1251");
  if (!locale.active()) {
    GTEST_SKIP() << "the compiled ru_RU.CP1251 locale cannot be used";
  }
  ASSERT_STREQ(::nl_langinfo(CODESET), "CP1251");

  write_bytes("cp1251.ini", "Name = \xCF\xF0\xE8\xE2\xE5\xF2\r\nWindowX = 5\r\n");
  ASSERT_NE(prefs_open(path("cp1251.ini")), 0);
  EXPECT_EQ(prefs_read_string(u"name", u""), u"Привет");
  prefs_write_int(u"WindowX", 6);
  prefs_close();
  EXPECT_EQ(read_bytes("cp1251.ini"), "\xEF\xBB\xBF\r\nName = Привет\r\nWindowX = 6\r\n");
}

TEST_F(PrefsFiles, PrefsAnsiInAsciiLocale) {
  const CtypeLocale locale("C");
  ASSERT_TRUE(locale.active());
  write_bytes("c.ini", "Name = \xCF\xF0\r\n");
  ASSERT_NE(prefs_open(path("c.ini")), 0);
  EXPECT_EQ(prefs_read_string(u"Name", u""), u"\uFFFD\uFFFD");
}
#endif

}  // namespace
}  // namespace velto
