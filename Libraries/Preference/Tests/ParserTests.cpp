#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "PrefsText.h"

namespace velto {
namespace {

// Entries as one line of text: G<name>, C<text> or K<key>=<value>.
std::string describe(const prefs_list& entries) {
  std::string out;
  for (const prefs_entry& entry : entries) {
    if (!out.empty()) {
      out += ' ';
    }
    switch (entry.kind) {
      case prefs_kind::group:
        out += "G<" + std::string(entry.text_view()) + ">";
        break;
      case prefs_kind::comment:
        out += "C<" + std::string(entry.text_view()) + ">";
        break;
      case prefs_kind::key:
        out += "K<" + std::string(entry.key_view()) + ">=<" + std::string(entry.text_view()) + ">";
        break;
    }
  }
  return out;
}

// The text as the loader hands it over: its own buffer, two NULs after it.
struct Parsed {
  std::vector<char> buffer;
  prefs_list entries;

  explicit Parsed(std::string_view text) : buffer(text.begin(), text.end()) {
    buffer.push_back('\0');
    buffer.push_back('\0');
    prefs_parse({buffer.data(), text.size()}, entries);
  }
};

TEST(PrefsParse, LineRules) {
  struct Case {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"", ""},
      {"a=1", "K<a>=<1>"},
      // Comments: one space after the semicolon is dropped, the rest kept.
      {"; comment", "C<comment>"},
      {";comment", "C<comment>"},
      {";  two spaces  ", "C< two spaces  >"},
      {";", "C<>"},
      {"  \t; indented", "C<indented>"},
      {";a\r\n;b", "C<a> C<b>"},
      // Groups: up to the closing bracket or the line end, never trimmed.
      {"[Group]", "G<Group>"},
      {"[Group", "G<Group>"},
      {"[ Spaced Name ]", "G< Spaced Name >"},
      {"[G] text = after", "G<G>"},
      {"[G]x\r\ny=1", "G<G> K<y>=<1>"},
      {"[a]b]", "G<a>"},
      {"[a[b]", "G<a[b>"},
      {"[", "G<>"},
      {"[]", "G<>"},
      {"[open\r\nk=v", "G<open> K<k>=<v>"},
      // Keys.
      {"key", "K<key>=<>"},
      {"key\nnext=1", "K<key>=<> K<next>=<1>"},
      {"key\r\nnext=1", "K<key>=<> K<next>=<1>"},
      {"=value", "K<>=<value>"},
      {"=", "K<>=<>"},
      {"  = v", "K<>=<v>"},
      {"a=b=c", "K<a>=<b=c>"},
      {"key = value  \t", "K<key>=<value  \t>"},
      {"  \t key  =  value", "K<key>=<value>"},
      {"k\t=\tv", "K<k>=<v>"},
      {"key =   ", "K<key>=<>"},
      {"a b c = d", "K<a b c>=<d>"},
      {"#not a comment = 1", "K<#not a comment>=<1>"},
      {"#", "K<#>=<>"},
      {"key ; not a comment", "K<key ; not a comment>=<>"},
      {"k = v ; still the value", "K<k>=<v ; still the value>"},
      {"k = \"quoted\"", "K<k>=<\"quoted\">"},
      {"k = [x]", "K<k>=<[x]>"},
      {"Имя = Значение", "K<Имя>=<Значение>"},
      // Line ends and blank lines.
      {"a=1\r\rb=2\r\r\nc=3\n\n\nd=4\r", "K<a>=<1> K<b>=<2> K<c>=<3> K<d>=<4>"},
      {"\n\r\na=1", "K<a>=<1>"},
      {"   \r\n\t\t\n", ""},
      {"\r", ""},
      {"a=1\r", "K<a>=<1>"},
      {"a=1\n \t", "K<a>=<1>"},
      // The text ends at its first NUL.
      {std::string_view("a=1\0b=2", 7), "K<a>=<1>"},
      {std::string_view("\0a=1", 4), ""},
      {std::string_view("k = v\0w", 7), "K<k>=<v>"},
  };
  for (const Case& c : cases) {
    const Parsed parsed(c.text);
    EXPECT_EQ(describe(parsed.entries), c.expected) << "text: \"" << c.text << "\"";
  }
}

TEST(PrefsParse, EntriesPointIntoTheText) {
  const Parsed parsed("[g]\r\nkey = value\r\n; note");
  const char* begin = parsed.buffer.data();
  const char* end = begin + parsed.buffer.size();
  for (const prefs_entry& entry : parsed.entries) {
    EXPECT_TRUE(entry.text.data() >= begin && entry.text.data() + entry.text.size() <= end);
    EXPECT_FALSE(entry.text_block);
    EXPECT_FALSE(entry.key_block);
  }
}

TEST(PrefsParse, HugeLine) {
  std::string text = "key = ";
  text.append(std::size_t{1} << 20, 'v');
  text += "\r\n[g]";
  const Parsed parsed(text);
  ASSERT_EQ(parsed.entries.size(), 2u);
  EXPECT_EQ(parsed.entries.front().text.size(), std::size_t{1} << 20);
}

TEST(PrefsLookup, LeadingSectionOnly) {
  struct Case {
    std::string_view text, key;
    bool found;
    std::string_view value;
  } cases[] = {
      {"WindowX = 10", "WindowX", true, "10"},
      {"WindowX = 10", "windowx", true, "10"},
      {"WindowX = 10", "WINDOWX", true, "10"},
      {"WindowX = 10", "Window", false, ""},
      {"WindowX = 10", "WindowXX", false, ""},
      {"WindowX = 1\r\nwindowx = 2", "WINDOWx", true, "1"},
      {"[G]\r\nWindowX = 1", "WindowX", false, ""},
      {"WindowX = 2\r\n[G]\r\nWindowX = 1", "WindowX", true, "2"},
      {"; WindowX = 3", "WindowX", false, ""},
      {"; c\r\nWindowX = 3", "WindowX", true, "3"},
      {"#WindowX = 3", "#windowx", true, "3"},
      {"= empty key", "", true, "empty key"},
      {"key", "", false, ""},
      // Only ASCII letters fold; other bytes compare exactly.
      {"Имя = 1", "Имя", true, "1"},
      {"Имя = 1", "имя", false, ""},
      {"[G]", "G", false, ""},
      {"", "k", false, ""},
  };
  for (const Case& c : cases) {
    Parsed parsed(c.text);
    const prefs_lookup hit = prefs_lookup_key(parsed.entries, parsed.entries.begin(), c.key);
    EXPECT_EQ(hit.found, c.found) << c.text << " / " << c.key;
    if (hit.found && c.found) {
      EXPECT_EQ(hit.entry->text_view(), c.value) << c.text << " / " << c.key;
    }
  }
}

TEST(PrefsLookup, SectionEndIsTheFirstGroup) {
  Parsed parsed("a = 1\r\n; c\r\n[G1]\r\nb = 2\r\n[G2]");
  const prefs_lookup hit = prefs_lookup_key(parsed.entries, parsed.entries.begin(), "b");
  EXPECT_FALSE(hit.found);
  ASSERT_NE(hit.section_end, parsed.entries.end());
  EXPECT_EQ(hit.section_end->text_view(), "G1");

  Parsed plain("a = 1");
  EXPECT_EQ(prefs_lookup_key(plain.entries, plain.entries.begin(), "x").section_end, plain.entries.end());
}

TEST(PrefsNumbers, Table) {
  struct Case {
    std::string_view text;
    std::int32_t expected;
  } cases[] = {
      {"10", 10},
      {"-25  ", -25},
      {"+42", 42},
      {"  7", 7},
      {"\t\v\f 8", 8},
      {"abc", 0},
      {"", 0},
      {"-", 0},
      {"+", 0},
      {"- 5", 0},
      {"12abc", 12},
      {"0x10", 0},
      {"007", 7},
      {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},
      {"99999999999", INT_MAX},
      {"-2147483648", INT_MIN},
      {"-2147483649", INT_MIN},
      {"-99999999999", INT_MIN},
      {"999999999999999999999999999999999999999999", INT_MAX},
      {"-000000000000000000000000000000000000000001", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(prefs_parse_int(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(PrefsLayout, Bytes) {
  struct Case {
    std::string_view text;
    bool utf8_mark;
    std::string_view expected;
  } cases[] = {
      {"", true, "\xEF\xBB\xBF\r\n"},
      {"", false, ""},
      {"k=v", false, "k = v\r\n"},
      {"k=v", true, "\xEF\xBB\xBF\r\nk = v\r\n"},
      {";c\n;  d\n[G] x\nk\n=v\n", false, "; c\r\n;  d\r\n[G]\r\nk = \r\n = v\r\n"},
      {"[open\r\n\r\n\r\nkey  =  value with = and trailing  ", false,
       "[open]\r\nkey = value with = and trailing  \r\n"},
  };
  for (const Case& c : cases) {
    const Parsed parsed(c.text);
    const std::optional<std::size_t> size = prefs_output_size(parsed.entries, c.utf8_mark);
    ASSERT_TRUE(size.has_value());
    ASSERT_EQ(*size, c.expected.size()) << c.text;
    std::string out(*size, '\0');
    prefs_write_layout(parsed.entries, c.utf8_mark, {out.data(), out.size()});
    EXPECT_EQ(out, c.expected) << c.text;
  }
}

TEST(PrefsLayout, WrittenTextParsesToTheSameEntries) {
  const std::string_view texts[] = {
      "; a\r\n[ G ]\r\nk = v  \r\n=\r\nx",
      ";;\n[[\n#k==v\n  \t;  c  ",
      "key\rkey2 = 2\r\r\n[g]rest\n=x=y",
  };
  for (std::string_view text : texts) {
    const Parsed first(text);
    std::string out(*prefs_output_size(first.entries, true), '\0');
    prefs_write_layout(first.entries, true, {out.data(), out.size()});
    const Parsed second(std::string_view(out).substr(3));
    EXPECT_EQ(describe(second.entries), describe(first.entries)) << text;
  }
}

TEST(PrefsText, SkipBlanks) {
  EXPECT_EQ(prefs_skip_blanks(" \t x \t"), "x \t");
  EXPECT_EQ(prefs_skip_blanks(" \t"), "");
  EXPECT_EQ(prefs_skip_blanks(""), "");
}

}  // namespace
}  // namespace velto
