// The engine's JSON: string literals for page script, the page's call
// envelope and the browser argument switches.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Engine.h"

namespace velto::webview {
namespace {

using namespace std::string_literals;

struct QuoteCase {
  std::string text;
  std::string quoted;
};

TEST(JsonQuote, EscapesWhatScriptAndJsonNeed) {
  const std::vector<QuoteCase> cases = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"C:\\dir\\", R"("C:\\dir\\")"},
      {"a/b", R"("a/b")"},
      {"\b\f\n\r\t", R"("\b\f\n\r\t")"},
      {"\x7f", "\"\x7f\""},
      {"line\xE2\x80\xA8para\xE2\x80\xA9", R"("line\u2028para\u2029")"},
      {"</script>", R"("</script>")"},
      // Non-ASCII text passes through as it is.
      {"Привет, 世界 😀 é", "\"Привет, 世界 😀 é\""},
      {"\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
      // Ill-formed UTF-8: one U+FFFD per broken piece, the rest kept.
      {"a\xFF"
       "b",
       "\"a\xEF\xBF\xBD"
       "b\""},
      {"\xC3", "\"\xEF\xBF\xBD\""},
      {"\xC0\xAF", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xE2\x82"
       "x",
       "\"\xEF\xBF\xBD"
       "x\""},
      {"\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF4\x90\x80\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"\xF0\x9F\x98", "\"\xEF\xBF\xBD\""},
  };
  for (const QuoteCase& c : cases) {
    EXPECT_EQ(json_quote(c.text), c.quoted) << c.text;
  }
}

TEST(JsonQuote, EveryControlCharacterIsEscaped) {
  const char* const named[] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               "\\b",   "\\t",   "\\n",   nullptr, "\\f",   "\\r",   nullptr, nullptr};
  for (int c = 0; c < 0x20; ++c) {
    std::string expected = "\"";
    if (c < 16 && named[c]) {
      expected += named[c];
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      expected += "\\u00";
      expected += kHex[c >> 4];
      expected += kHex[c & 0xF];
    }
    expected += '"';
    EXPECT_EQ(json_quote(std::string(1, static_cast<char>(c))), expected) << c;
  }
}

TEST(ParsePageCall, ReadsTheEnvelope) {
  const std::optional<PageCall> call =
      parse_page_call(R"({"id":"k3-17","method":"qx_notify_new_message","params":["Анна","hi \"there\""]})");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->id, "k3-17");
  EXPECT_EQ(call->method, "qx_notify_new_message");
  EXPECT_EQ(call->params, R"(["Анна","hi \"there\""])");

  // Any order, blanks, escapes in the names, nested parameters kept as sent.
  const std::optional<PageCall> nested = parse_page_call(
      " {\n \"params\" : [ {\"a\": [1, -2.5e+3, true, null, {}]}, [], \"]\" ] , \"method\": \"f\\u00e9\\n\","
      " \"extra\": {\"x\": [false]}, \"id\": \"\\ud83d\\ude00\" } ");
  ASSERT_TRUE(nested);
  EXPECT_EQ(nested->id, "😀");
  EXPECT_EQ(nested->method, "fé\n");
  EXPECT_EQ(nested->params, R"([ {"a": [1, -2.5e+3, true, null, {}]}, [], "]" ])");

  const std::optional<PageCall> empty = parse_page_call(R"({"id":"1","method":"","params":[]})");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->params, "[]");

  // A lone surrogate has no UTF-8 form.
  const std::optional<PageCall> lone = parse_page_call(R"({"id":"\ud800x","method":"m","params":[]})");
  ASSERT_TRUE(lone);
  EXPECT_EQ(lone->id, "\xEF\xBF\xBDx");
}

TEST(ParsePageCall, RefusesAnythingElse) {
  const std::vector<std::string> malformed = {
      "",
      "null",
      "[]",
      R"("id")",
      R"({})",
      R"({"id":"1","method":"m"})",
      R"({"id":"1","params":[]})",
      R"({"method":"m","params":[]})",
      R"({"id":"","method":"m","params":[]})",
      R"({"id":1,"method":"m","params":[]})",
      R"({"id":"1","method":null,"params":[]})",
      R"({"id":"1","method":"m","params":{}})",
      R"({"id":"1","method":"m","params":"[]"})",
      R"({"id":"1","method":"m","params":[1,]})",
      R"({"id":"1","method":"m","params":[01]})",
      R"({"id":"1","method":"m","params":[1.]})",
      R"({"id":"1","method":"m","params":[.5]})",
      R"({"id":"1","method":"m","params":[+1]})",
      R"({"id":"1","method":"m","params":[tru]})",
      R"({"id":"1","method":"m","params":[NaN]})",
      R"({"id":"1","method":"m","params":['x']})",
      R"({"id":"1","method":"m","params":[]}x)",
      R"({"id":"1","method":"m","params":[]}{})",
      R"({"id":"1","method":"m","params":[],})",
      R"({"id":"1" "method":"m","params":[]})",
      R"({"id":"1","id":"2","method":"m","params":[]})",
      R"({"id":"1","method":"m","params":[],"params":[]})",
      R"({"id":"1\x","method":"m","params":[]})",
      R"({"id":"1\u12","method":"m","params":[]})",
      R"({"id":"1","method":"m","params":[)",
      R"({"id":"1","method":"m","params":[{"a" 1}]})",
      R"({"id":"1","method":"m","params":[{1:2}]})",
      "{\"id\":\"a\nb\",\"method\":\"m\",\"params\":[]}",
      "{\"id\":\"\xFF\",\"method\":\"m\",\"params\":[]}",
      "{\"id\":\"1\",\"method\":\"m\",\"params\":[\"\xC3\"]}",
      R"({"id":"1","method":"m","params":[)" + std::string(1000, '[') + std::string(1000, ']') + "]}",
  };
  for (const std::string& message : malformed) {
    EXPECT_FALSE(parse_page_call(message)) << message;
  }
}

TEST(BrowserSwitchValue, FindsTheSwitch) {
  const std::string arguments =
      R"(--a=1 --user-data-dir-extra=wrong --user-data-dir="C:\Users\Jo Do\Web View2" --disk-cache-dir=/tmp/c --b)";
  EXPECT_EQ(browser_switch_value(arguments, "--user-data-dir"), R"(C:\Users\Jo Do\Web View2)");
  EXPECT_EQ(browser_switch_value(arguments, "--disk-cache-dir"), "/tmp/c");
  EXPECT_EQ(browser_switch_value(arguments, "--a"), "1");
  EXPECT_EQ(browser_switch_value(arguments, "--b"), "");
  // A prefix of a longer switch, or text inside another's value, is not the switch.
  EXPECT_EQ(browser_switch_value("--user-data-dir-extra=x", "--user-data-dir"), std::nullopt);
  EXPECT_EQ(browser_switch_value(R"(--x="a --user-data-dir=y")", "--user-data-dir"), std::nullopt);
  EXPECT_EQ(browser_switch_value("", "--user-data-dir"), std::nullopt);
  EXPECT_EQ(browser_switch_value("--disk-cache-dir=/c", "--user-data-dir"), std::nullopt);
  // The last occurrence counts; tabs and newlines separate too.
  EXPECT_EQ(browser_switch_value("--user-data-dir=/one\t--user-data-dir=\"/two three\"\n", "--user-data-dir"),
            "/two three");
  EXPECT_EQ(browser_switch_value(R"(--user-data-dir="")", "--user-data-dir"), "");
}

}  // namespace
}  // namespace velto::webview
