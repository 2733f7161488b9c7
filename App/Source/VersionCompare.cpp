#include <cstdint>
#include <limits>
#include <optional>

#include "Core/Strings.h"
#include "UpdateCheck.h"

namespace velto::app {

namespace {

// The leading number of a field, read as the runtime reads numbers (blanks,
// sign, then decimal, "$" hexadecimal or "%" binary digits); nullopt when it
// is too large for 64 bits, instead of wrapping round.
std::optional<std::int64_t> field_value(TextView text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    negative = text[i] == u'-';
    ++i;
  }
  std::uint64_t base = 10;
  if (i < text.size() && (text[i] == u'$' || text[i] == u'%')) {
    base = text[i] == u'$' ? 16 : 2;
    ++i;
  }
  constexpr std::uint64_t kLimit = std::numeric_limits<std::int64_t>::max();
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    std::uint64_t digit = base;
    if (c >= u'0' && c <= u'9') {
      digit = static_cast<std::uint64_t>(c - u'0');
    } else if (c >= u'a' && c <= u'f') {
      digit = static_cast<std::uint64_t>(c - u'a') + 10;
    } else if (c >= u'A' && c <= u'F') {
      digit = static_cast<std::uint64_t>(c - u'A') + 10;
    }
    if (digit >= base) {
      break;
    }
    if (value > (kLimit - digit) / base) {
      return std::nullopt;
    }
    value = value * base + digit;
  }
  const auto number = static_cast<std::int64_t>(value);
  return negative ? -number : number;
}

}  // namespace

int version_compare(TextView candidate, TextView current) {
  if (str_count(candidate, u".") < 3 || str_count(current, u".") < 3) {
    return 0;
  }
  for (int field = 1; field <= 4; ++field) {
    TempScope scope;
    const std::optional<std::int64_t> mine = field_value(str_field(current, field, u"."));
    const std::optional<std::int64_t> theirs = field_value(str_field(candidate, field, u"."));
    if (!mine || !theirs) {
      // A field no number can hold is never taken for a newer release.
      return 0;
    }
    if (*theirs != *mine) {
      return *theirs > *mine ? 1 : -1;
    }
  }
  return 0;
}

}  // namespace velto::app
