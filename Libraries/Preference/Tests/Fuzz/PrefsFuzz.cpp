// libFuzzer target: the preference parser, key lookup, number reading and
// the written layout, on any bytes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "PrefsText.h"

namespace {

using namespace velto;

void check(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

bool inside(std::span<const char> part, const char* begin, const char* end) {
  return part.empty() || (part.data() >= begin && part.data() + part.size() <= end);
}

bool has_any(std::string_view text, std::string_view bytes) {
  return text.find_first_of(bytes) != std::string_view::npos;
}

bool same_entries(const prefs_list& a, const prefs_list& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const prefs_entry& x, const prefs_entry& y) {
    return x.kind == y.kind && x.key_view() == y.key_view() && x.text_view() == y.text_view();
  });
}

std::string flip_case(std::string_view key) {
  std::string out(key);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

// The C library's reading of a decimal number, clamped to 32 bits.
std::int32_t reference_int(std::string_view text) {
  const std::string copy(text);
  const long long value = std::strtoll(copy.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long long>(value, std::numeric_limits<std::int32_t>::min(),
                                                         std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The loader's buffer: the text and two NULs after it.
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  text.push_back('\0');
  prefs_list entries;
  prefs_parse({text.data(), size}, entries);

  const char* begin = text.data();
  const char* end = begin + size;
  for (const prefs_entry& entry : entries) {
    check(inside(entry.text, begin, end) && inside(entry.key, begin, end));
    check(!has_any(entry.text_view(), std::string_view("\r\n\0", 3)));
    if (entry.kind == prefs_kind::key) {
      const std::string_view key = entry.key_view();
      check(!has_any(key, std::string_view("\r\n=\0", 4)));
      check(key.empty() || (key.front() != ' ' && key.front() != '\t' && key.back() != ' ' && key.back() != '\t'));
      check(entry.text.empty() || (entry.text.front() != ' ' && entry.text.front() != '\t'));
    } else {
      check(entry.key.empty());
    }
    if (entry.kind == prefs_kind::group) {
      check(!has_any(entry.text_view(), "]"));
    }
  }

  // Every key of the leading section is found in any letter case, and the
  // answer is the first equal key.
  int lookups = 0;
  for (auto it = entries.begin(); it != entries.end() && it->kind != prefs_kind::group && lookups < 64; ++it) {
    if (it->kind != prefs_kind::key) {
      continue;
    }
    ++lookups;
    const std::string wanted = flip_case(it->key_view());
    const prefs_lookup hit = prefs_lookup_key(entries, entries.begin(), wanted);
    check(hit.found);
    check(prefs_keys_equal(hit.entry->key_view(), it->key_view()));
    for (auto earlier = entries.begin(); earlier != hit.entry; ++earlier) {
      check(earlier->kind != prefs_kind::key || !prefs_keys_equal(earlier->key_view(), wanted));
    }
    check(prefs_parse_int(hit.entry->text_view()) == reference_int(hit.entry->text_view()));
  }
  const std::string_view raw(text.data(), std::min<std::size_t>(std::string_view(text.data()).size(), 64));
  check(prefs_parse_int(raw) == reference_int(raw));

  // The written layout parses back to the same entries.
  for (const bool mark : {false, true}) {
    const std::optional<std::size_t> out_size = prefs_output_size(entries, mark);
    check(out_size.has_value());
    std::vector<char> out(*out_size + 2, '\0');
    prefs_write_layout(entries, mark, {out.data(), *out_size});
    const std::size_t skip = mark ? 3 : 0;
    check(!mark || std::string_view(out.data(), 5) == "\xEF\xBB\xBF\r\n");
    prefs_list again;
    prefs_parse({out.data() + skip, *out_size - skip}, again);
    check(same_entries(entries, again));
  }
  return 0;
}
