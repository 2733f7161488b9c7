#include <gtest/gtest.h>

#include <string>

#include "PrefsCodeset.h"

namespace velto::platform {
namespace {

TEST(PrefsCodeset, ToUtf8) {
  struct Case {
    const char* codeset;
    std::string_view bytes;
    std::string_view expected;
  } cases[] = {
      // "Привет" in code page 1251; 0x98 has no character there.
      {"CP1251", "Name = \xCF\xF0\xE8\xE2\xE5\xF2", "Name = Привет"},
      {"CP1251", "\xC0\x98\xE0", "А\uFFFDа"},
      {"CP1251", "", ""},
      {"KOI8-R", "\xF0\xD2\xC9\xD7\xC5\xD4", "Привет"},
      // A UTF-8 locale keeps the bytes; each invalid one becomes U+FFFD.
      {"UTF-8", "Привет", "Привет"},
      {"utf8", "a\xFF" "b", "a\uFFFDb"},
      {"UTF-8", "cut \xD0", "cut \uFFFD"},
      // The C locale's set is ASCII.
      {"ANSI_X3.4-1968", "a\x80z", "a\uFFFDz"},
      // A multibyte sequence cut short by the end of the text.
      {"EUC-JP", "\xA4\xA2\xA4", "あ\uFFFD"},
      {"NO-SUCH-CHARACTER-SET", "ok \xFF", "ok \uFFFD"},
  };
  for (const Case& c : cases) {
    std::string out = "stale";
    ASSERT_TRUE(prefs_codeset_to_utf8(c.bytes, c.codeset, out)) << c.codeset << ": " << c.bytes;
    EXPECT_EQ(out, c.expected) << c.codeset << ": " << c.bytes;
  }
}

TEST(PrefsCodeset, LongTextCrossesChunks) {
  // Two UTF-8 bytes for each input byte: far more than one output chunk.
  const std::string bytes(20000, '\xCF');
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    expected += "П";
  }
  std::string out;
  ASSERT_TRUE(prefs_codeset_to_utf8(bytes, "CP1251", out));
  EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace velto::platform
