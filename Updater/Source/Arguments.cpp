#include "Arguments.h"

#include <algorithm>

namespace velto::updater {

namespace {

constexpr std::uint32_t kMaxProcessId = 0x7FFFFFFF;  // pid_t's range; Windows ids are far below it

bool starts_with_https(TextView url) noexcept {
  constexpr TextView kScheme = u"https://";
  return url.size() > kScheme.size() &&
         std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char16_t expected, char16_t c) {
           return expected == (c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c);
         });
}

std::optional<std::uint32_t> parse_process_id(TextView text) noexcept {
  if (text.empty() || text.size() > 10 || text.front() == u'0') {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - u'0');
  }
  if (value > kMaxProcessId) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<Arguments> parse_arguments(std::span<const Text> arguments) noexcept {
  if (arguments.size() != 3 || arguments[0].empty() || !starts_with_https(arguments[1]) ||
      std::any_of(arguments[1].begin(), arguments[1].end(), [](char16_t c) { return c <= u' '; })) {
    return std::nullopt;
  }
  const auto pid = parse_process_id(arguments[2]);
  if (!pid) {
    return std::nullopt;
  }
  try {
    return Arguments{arguments[0], arguments[1], *pid};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace velto::updater
