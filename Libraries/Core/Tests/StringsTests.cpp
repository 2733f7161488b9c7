#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "Core/Strings.h"
#include "TextCodec.h"

namespace velto {
namespace {

TEST(StrCount, Table) {
  struct Case {
    TextView text, separator;
    std::int64_t expected;
  } cases[] = {
      {u"0.2.16.38", u".", 3}, {u"0.2.16.38", u"", 0}, {u"aaaa", u"aa", 2}, {u"aaa", u"aa", 1},
      {u"", u".", 0},          {u"abc", u"abcd", 0},   {u"..", u".", 2},    {u"Чат.Чат", u".", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(str_count(c.text, c.separator), c.expected) << to_utf8(c.text) << " / " << to_utf8(c.separator);
  }
}

TEST(StrField, Table) {
  struct Case {
    TextView text;
    std::int64_t number;
    TextView separator, expected;
  } cases[] = {
      {u"0.2.16.38", 3, u".", u"16"},  {u"0.2.16.38", 4, u".", u"38"}, {u"0.2.16.38", 5, u".", u""},
      {u"0.2.16.38", 0, u".", u""},    {u"0.2.16.38", -1, u".", u""},  {u"whole", 1, u".", u"whole"},
      {u"a::b::::c", 2, u"::", u"b"},  {u"a::b::::c", 3, u"::", u""},  {u"a::b::::c", 4, u"::", u"c"},
      {u".a.", 1, u".", u""},          {u".a.", 3, u".", u""},         {u"abc", 1, u"", u"abc"},
      {u"abc", 2, u"", u""},           {u"", 1, u".", u""},            {u"x.y", 2, u".", u"y"},
  };
  for (const auto& c : cases) {
    TempScope scope;
    EXPECT_EQ(str_field(c.text, c.number, c.separator), c.expected)
        << to_utf8(c.text) << " #" << c.number << " / " << to_utf8(c.separator);
  }
}

TEST(StrToInt, Table) {
  struct Case {
    TextView text;
    std::int64_t expected;
  } cases[] = {
      {u"  -42abc", -42},
      {u"$ff", 255},
      {u"$FF", 255},
      {u"%101", 5},
      {u"- 5", 0},
      {u"38", 38},
      {u"+7", 7},
      {u"\t12", 12},
      {u"x", 0},
      {u"", 0},
      {u"%102", 2},
      {u"9223372036854775807", std::numeric_limits<std::int64_t>::max()},
      {u"-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
      {u"18446744073709551617", 1},  // wraps silently
      {u"4294967296", 4294967296},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(str_to_int(c.text), c.expected) << to_utf8(c.text);
  }
}

// The same reading, but a number too large is told apart from any other.
TEST(StrToIntExact, NoWrappingRound) {
  EXPECT_EQ(str_to_int_exact(u"  -42abc"), -42);
  EXPECT_EQ(str_to_int_exact(u"$ff"), 255);
  EXPECT_EQ(str_to_int_exact(u"x"), 0);
  EXPECT_EQ(str_to_int_exact(u"9223372036854775807"), std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(str_to_int_exact(u"-9223372036854775807"), -std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(str_to_int_exact(u"9223372036854775808"), std::nullopt);
  EXPECT_EQ(str_to_int_exact(u"18446744073709551617"), std::nullopt);
  EXPECT_EQ(str_to_int_exact(u"$10000000000000000"), std::nullopt);
  EXPECT_EQ(str_to_int_exact(u"4294967334"), 4294967334);
}

TEST(StrFromInt, Table) {
  struct Case {
    std::int64_t value;
    TextView expected;
  } cases[] = {
      {0, u"0"},
      {-2147483648LL, u"-2147483648"},
      {38, u"38"},
      {-1, u"-1"},
      {std::numeric_limits<std::int64_t>::min(), u"-9223372036854775808"},
      {std::numeric_limits<std::int64_t>::max(), u"9223372036854775807"},
  };
  for (const auto& c : cases) {
    TempScope scope;
    EXPECT_EQ(str_from_int(c.value), c.expected);
  }
}

TEST(StrEqual, IsExact) {
  EXPECT_TRUE(str_equal(u"", TextView{}));
  EXPECT_TRUE(str_equal(u"Чат", u"Чат"));
  EXPECT_FALSE(str_equal(u"a", u"A"));
  EXPECT_FALSE(str_equal(u"a", u"a "));
}

TEST(TempBuffer, ResultsInOneScopeLieSideBySideAndTheScopeGivesThemBack) {
  TempBuffer& buffer = temp_buffer();
  const std::size_t before = buffer.used();
  {
    TempScope scope;
    const TextView a = str_from_int(12345);
    const std::size_t after_a = buffer.used();
    EXPECT_EQ(after_a, before + 10);
    const TextView b = str_field(u"x.yy.z", 2, u".");
    EXPECT_EQ(b, u"yy");
    EXPECT_EQ(buffer.used(), after_a + 4);
    static_cast<void>(a);
  }
  EXPECT_EQ(buffer.used(), before);
}

TEST(TempBuffer, AFieldOfATemporaryTextSurvivesTheBufferMoving) {
  TempScope scope;
  // A long temporary forces the next reservation to move the buffer.
  Text long_text(20000, u'a');
  long_text += u".tail";
  const TextView temporary = temp_buffer().append(long_text);
  EXPECT_EQ(str_field(temporary, 2, u"."), u"tail");
}

TEST(TempBuffer, GrowsWithSlackAndFallsBackAfterALargeExpression) {
  TempBuffer& buffer = temp_buffer();
  {
    TempScope scope;
    static_cast<void>(buffer.reserve(buffer.used(), 700000));  // 1.4 MB
    EXPECT_GE(buffer.capacity(), 1400000u);
  }
  {
    TempScope scope;
    static_cast<void>(str_from_int(1));
    EXPECT_EQ(buffer.capacity(), TempBuffer::kShrinkThreshold) << "falls back to 1 MiB on the next small use";
    static_cast<void>(str_from_int(2));
    EXPECT_EQ(buffer.capacity(), TempBuffer::kShrinkThreshold) << "and stays there";
  }
}

TEST(TempBuffer, ResultsOutsideAnyScopeDoNotPileUp) {
  TempBuffer& buffer = temp_buffer();
  ASSERT_EQ(buffer.depth(), 0u);
  static_cast<void>(str_from_int(111111));
  const std::size_t used = buffer.used();
  for (int i = 0; i < 1000; ++i) {
    static_cast<void>(str_from_int(222222));
  }
  EXPECT_EQ(buffer.used(), used);
}

TEST(Utf8, RoundTripsAndReplacesBrokenInput) {
  const TextView text = u"Velto Чат \U0001F600";
  Utf8Text utf8 = text_to_utf8(text);
  ASSERT_NE(utf8, nullptr);
  EXPECT_STREQ(utf8.get(), "Velto \xD0\xA7\xD0\xB0\xD1\x82 \xF0\x9F\x98\x80");
  Utf16Text back = text_from_utf8(utf8.get());
  EXPECT_EQ(TextView(back.get()), text);

  EXPECT_STREQ(text_to_utf8(TextView{}).get(), "");
  EXPECT_EQ(TextView(text_from_utf8("").get()), u"");
  const char16_t lone[] = {u'a', 0xD800, u'b', 0};
  EXPECT_STREQ(text_to_utf8(lone).get(), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(TextView(text_from_utf8("a\xFF" "b").get()), u"a\uFFFDb");
  EXPECT_EQ(TextView(text_from_utf8("\xC3").get()), u"\uFFFD");
}

TEST(Utf8, PortableCodecMatchesTheRules) {
  std::u16string out;
  codec::utf8_to_utf16("\xED\xA0\x80", out);  // an encoded surrogate is not UTF-8
  EXPECT_EQ(out.size(), 3u);
  codec::utf8_to_utf16("\xE2\x82x", out);  // a truncated sequence is one error
  EXPECT_EQ(out, u"\uFFFDx");
  codec::utf8_to_utf16("\xC0\xAF", out);  // overlong
  EXPECT_EQ(out, u"\uFFFD\uFFFD");
}

}  // namespace
}  // namespace velto
