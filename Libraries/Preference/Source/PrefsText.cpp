#include "PrefsText.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace velto {

namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";

bool is_blank(char c) noexcept {
  return c == ' ' || c == '\t';
}

bool is_line_end(char c) noexcept {
  return c == '\r' || c == '\n';
}

char fold_ascii(char c) noexcept {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// One pass over [p, end); every position handed out stays inside it.
class LineCutter {
 public:
  LineCutter(char* begin, char* end) noexcept : p_(begin), end_(end) {}

  [[nodiscard]] bool at_end() const noexcept { return p_ == end_; }
  [[nodiscard]] char peek() const noexcept { return *p_; }
  [[nodiscard]] char* position() const noexcept { return p_; }
  void step() noexcept { ++p_; }

  void skip_blanks() noexcept {
    while (p_ != end_ && is_blank(*p_)) {
      ++p_;
    }
  }
  void skip_line_ends() noexcept {
    while (p_ != end_ && is_line_end(*p_)) {
      ++p_;
    }
  }
  void to_line_end() noexcept {
    while (p_ != end_ && !is_line_end(*p_)) {
      ++p_;
    }
  }
  // Stops at `stop`, a line end or the end of the text.
  void to_line_end_or(char stop) noexcept {
    while (p_ != end_ && *p_ != stop && !is_line_end(*p_)) {
      ++p_;
    }
  }

 private:
  char* p_;
  char* end_;
};

std::span<char> between(char* from, char* to) noexcept {
  return {from, static_cast<std::size_t>(to - from)};
}

prefs_entry& add(prefs_list& entries, prefs_kind kind) {
  prefs_entry& entry = entries.emplace_back();
  entry.kind = kind;
  return entry;
}

// Checked sum for sizes that may come from a file of any size.
bool add_size(std::size_t& total, std::size_t more) noexcept {
  if (more > std::numeric_limits<std::size_t>::max() - total) {
    return false;
  }
  total += more;
  return true;
}

char* put(char* out, std::string_view bytes) noexcept {
  if (!bytes.empty()) {
    std::memcpy(out, bytes.data(), bytes.size());
  }
  return out + bytes.size();
}

}  // namespace

void prefs_parse(std::span<char> text, prefs_list& entries) {
  char* const begin = text.data();
  char* const end = std::find(begin, begin + text.size(), '\0');
  LineCutter line(begin, end);
  while (!line.at_end()) {
    line.skip_blanks();
    if (line.at_end()) {
      break;
    }
    const char first = line.peek();
    if (first == ';') {
      line.step();
      if (!line.at_end() && line.peek() == ' ') {
        line.step();
      }
      char* const from = line.position();
      line.to_line_end();
      add(entries, prefs_kind::comment).text = between(from, line.position());
    } else if (first == '[') {
      line.step();
      char* const from = line.position();
      line.to_line_end_or(']');
      add(entries, prefs_kind::group).text = between(from, line.position());
      // Whatever follows the closing bracket is dropped.
      line.to_line_end();
    } else if (!is_line_end(first)) {
      char* const from = line.position();
      line.to_line_end_or('=');
      char* key_end = line.position();
      while (key_end != from && is_blank(key_end[-1])) {
        --key_end;
      }
      prefs_entry& entry = add(entries, prefs_kind::key);
      entry.key = between(from, key_end);
      if (!line.at_end() && line.peek() == '=') {
        line.step();
        line.skip_blanks();
        char* const value = line.position();
        line.to_line_end();
        entry.text = between(value, line.position());
      } else {
        // No equals sign: an empty value, never the next line.
        entry.text = between(line.position(), line.position());
      }
    }
    line.skip_line_ends();
  }
}

bool prefs_keys_equal(std::string_view a, std::string_view b) noexcept {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return fold_ascii(x) == fold_ascii(y); });
}

prefs_lookup prefs_lookup_key(prefs_list& entries, prefs_list::iterator first, std::string_view key) noexcept {
  prefs_lookup result{entries.end(), entries.end(), false};
  for (auto it = first; it != entries.end(); ++it) {
    if (it->kind == prefs_kind::group) {
      result.section_end = it;
      return result;
    }
    if (!result.found && it->kind == prefs_kind::key && prefs_keys_equal(it->key_view(), key)) {
      result.entry = it;
      result.found = true;
    }
  }
  return result;
}

std::string_view prefs_skip_blanks(std::string_view text) noexcept {
  std::size_t i = 0;
  while (i < text.size() && is_blank(text[i])) {
    ++i;
  }
  return text.substr(i);
}

std::int32_t prefs_parse_int(std::string_view text) noexcept {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t kMagnitudeCap = kMax + 1;  // the magnitude of the minimum
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    // Past the cap every further digit only saturates.
    magnitude = std::min(magnitude * 10 + (text[i] - '0'), kMagnitudeCap);
  }
  if (negative) {
    return static_cast<std::int32_t>(-magnitude);
  }
  return static_cast<std::int32_t>(std::min(magnitude, kMax));
}

std::optional<std::size_t> prefs_output_size(const prefs_list& entries, bool utf8_mark) noexcept {
  std::size_t total = 0;
  if (utf8_mark) {
    total = kUtf8Mark.size() + kLineEnd.size();
  }
  for (const prefs_entry& entry : entries) {
    // "[" "]", "; " or " = ", and the line end.
    const std::size_t framing = entry.kind == prefs_kind::key ? 5 : 4;
    if (!add_size(total, framing) || !add_size(total, entry.text.size()) ||
        (entry.kind == prefs_kind::key && !add_size(total, entry.key.size()))) {
      return std::nullopt;
    }
  }
  return total;
}

void prefs_write_layout(const prefs_list& entries, bool utf8_mark, std::span<char> out) noexcept {
  char* p = out.data();
  if (utf8_mark) {
    p = put(p, kUtf8Mark);
    p = put(p, kLineEnd);
  }
  for (const prefs_entry& entry : entries) {
    switch (entry.kind) {
      case prefs_kind::group:
        p = put(p, "[");
        p = put(p, entry.text_view());
        p = put(p, "]");
        break;
      case prefs_kind::comment:
        p = put(p, "; ");
        p = put(p, entry.text_view());
        break;
      case prefs_kind::key:
        p = put(p, entry.key_view());
        p = put(p, " = ");
        p = put(p, entry.text_view());
        break;
    }
    p = put(p, kLineEnd);
  }
}

}  // namespace velto
