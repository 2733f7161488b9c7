#include <gtest/gtest.h>

#include "Core/Strings.h"
#include "UpdateCheck.h"

namespace velto::app {
namespace {

TEST(VersionCompare, Table) {
  struct Case {
    TextView candidate, current;
    int expected;
  } cases[] = {
      {u"0.2.16.39", u"0.2.16.38", 1},
      {u"0.2.16.38", u"0.2.16.38", 0},
      {u"0.2.16.37", u"0.2.16.38", -1},
      {u"0.1.99.99", u"0.2.16.38", -1},
      {u"1.0.0.0", u"0.2.16.38", 1},
      {u"0.10.0.0", u"0.9.99.99", 1},  // numbers, not text
      {u"0.3.0", u"0.2.16.38", 0},     // three fields: not comparable
      {u"0.2.16.39", u"0.2.16", 0},    // nor is a three-field current version
      {u"", u"0.2.16.38", 0},
      {u"0.2.16.38.1", u"0.2.16.38", 0},         // a fifth field is ignored
      {u"0.2.16.x", u"0.2.16.38", -1},           // x reads as 0
      {u"0.2.16.38abc", u"0.2.16.38", 0},        // the leading number counts
      {u" 0.2.16.39", u"0.2.16.38", 1},          // leading blanks are skipped
      {u"0.2.16.4294967334", u"0.2.16.38", 1},   // 2^32 + 38 is larger, not 38
      {u"0.2.16.2147483648", u"0.2.16.38", 1},   // 2^31 does not wrap to a negative field
      {u"0.2.16.9223372036854775807", u"0.2.16.38", 1},
      {u"0.2.16.9223372036854775808", u"0.2.16.38", 0},   // beyond 64 bits: never newer
      {u"99999999999999999999.0.0.0", u"0.2.16.38", 0},
      {u"0.2.16.$FFFFFFFFFFFFFFFFF", u"0.2.16.38", 0},
      {u"0.2.16.-1", u"0.2.16.38", -1},
      {u"0.2.16.$27", u"0.2.16.38", 1},  // hexadecimal 39
      {u"0.2.16.39", u"0.2.16.38.", 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(version_compare(c.candidate, c.current), c.expected)
        << to_utf8(c.candidate) << " vs " << to_utf8(c.current);
  }
}

}  // namespace
}  // namespace velto::app
