// The JSON the engine reads and writes: string literals for page script, the
// page's call envelope, and the browser argument switches.

#include <cstdint>

#include "Engine.h"
#include "Utf8.h"

namespace velto::webview {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

}  // namespace

void append_utf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Decodes one character at `pos` and advances past it. An ill-formed
// sequence gives U+FFFD and skips its longest well-formed start (at least
// one byte), so one bad byte never swallows the characters after it.
char32_t next_utf8(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t code = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    // No overlong forms, no surrogates.
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    ++pos;
    return kReplacement;
  }
  std::size_t i = pos + 1;
  for (std::size_t n = 1; n < length; ++n, ++i) {
    if (i >= text.size()) {
      pos = i;
      return kReplacement;
    }
    const std::uint8_t next = byte(i);
    if (next < low || next > high) {
      pos = i;
      return kReplacement;
    }
    low = 0x80;
    high = 0xBF;
    code = (code << 6) | (next & 0x3Fu);
  }
  pos = i;
  return code;
}

namespace {

// A strict reader for the envelope; values other than the three fields are
// only checked and skipped.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<PageCall> envelope() {
    PageCall call;
    bool have_id = false;
    bool have_method = false;
    bool have_params = false;
    space();
    if (!take('{')) {
      return std::nullopt;
    }
    space();
    if (!take('}')) {
      while (true) {
        space();
        std::string key;
        if (!string(key)) {
          return std::nullopt;
        }
        space();
        if (!take(':')) {
          return std::nullopt;
        }
        space();
        if (key == "id" || key == "method") {
          bool& have = key == "id" ? have_id : have_method;
          if (have || !string(key == "id" ? call.id : call.method)) {
            return std::nullopt;
          }
          have = true;
        } else if (key == "params") {
          const std::size_t start = pos_;
          if (have_params || peek() != '[' || !value(0)) {
            return std::nullopt;
          }
          call.params = std::string(text_.substr(start, pos_ - start));
          have_params = true;
        } else if (!value(0)) {
          return std::nullopt;
        }
        space();
        if (take(',')) {
          continue;
        }
        if (take('}')) {
          break;
        }
        return std::nullopt;
      }
    }
    space();
    if (pos_ != text_.size() || !have_id || !have_method || !have_params || call.id.empty()) {
      return std::nullopt;
    }
    return call;
  }

 private:
  static constexpr int kMaxDepth = 200;

  [[nodiscard]] char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  bool take(char c) {
    if (peek() == c && pos_ < text_.size()) {
      ++pos_;
      return true;
    }
    return false;
  }
  void space() {
    while (pos_ < text_.size() &&
           (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
      ++pos_;
    }
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) {
      return false;
    }
    pos_ += word.size();
    return true;
  }
  bool digits() {
    const std::size_t start = pos_;
    while (peek() >= '0' && peek() <= '9') {
      ++pos_;
    }
    return pos_ > start;
  }
  bool number() {
    take('-');
    if (!take('0') && !(peek() >= '1' && peek() <= '9' && digits())) {
      return false;
    }
    if (take('.') && !digits()) {
      return false;
    }
    if (peek() == 'e' || peek() == 'E') {
      ++pos_;
      if (!take('+')) {
        take('-');
      }
      if (!digits()) {
        return false;
      }
    }
    return true;
  }
  bool hex4(char32_t& code) {
    if (text_.size() - pos_ < 4) {
      return false;
    }
    code = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      code <<= 4;
      if (c >= '0' && c <= '9') {
        code |= static_cast<char32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        code |= static_cast<char32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        code |= static_cast<char32_t>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    return true;
  }
  bool string(std::string& out) {
    out.clear();
    if (!take('"')) {
      return false;
    }
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
      if (c != '\\') {
        // Raw text must be well-formed UTF-8.
        const std::size_t before = pos_;
        if (next_utf8(text_, pos_) == kReplacement && text_.substr(before, 3) != "\xEF\xBF\xBD") {
          return false;
        }
        out.append(text_.substr(before, pos_ - before));
        continue;
      }
      ++pos_;
      if (pos_ >= text_.size()) {
        return false;
      }
      const char escape = text_[pos_++];
      switch (escape) {
        case '"':
        case '\\':
        case '/':
          out += escape;
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          char32_t code = 0;
          if (!hex4(code)) {
            return false;
          }
          if (code >= 0xD800 && code <= 0xDBFF && text_.substr(pos_, 2) == "\\u") {
            const std::size_t mark = pos_;
            pos_ += 2;
            char32_t low = 0;
            if (!hex4(low)) {
              return false;
            }
            if (low >= 0xDC00 && low <= 0xDFFF) {
              code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else {
              pos_ = mark;  // the second escape stands on its own
            }
          }
          // A lone surrogate has no UTF-8 form.
          append_utf8(out, code >= 0xD800 && code <= 0xDFFF ? kReplacement : code);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }
  bool value(int depth) {
    if (depth > kMaxDepth) {
      return false;
    }
    switch (peek()) {
      case '"': {
        std::string ignored;
        return string(ignored);
      }
      case '{':
      case '[': {
        const char close = peek() == '{' ? '}' : ']';
        const bool object = close == '}';
        ++pos_;
        space();
        if (take(close)) {
          return true;
        }
        while (true) {
          space();
          if (object) {
            std::string ignored;
            if (!string(ignored)) {
              return false;
            }
            space();
            if (!take(':')) {
              return false;
            }
            space();
          }
          if (!value(depth + 1)) {
            return false;
          }
          space();
          if (take(close)) {
            return true;
          }
          if (!take(',')) {
            return false;
          }
        }
      }
      case 't':
        return literal("true");
      case 'f':
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return number();
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

}  // namespace

std::string json_quote(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char32_t code = next_utf8(text, pos);
    switch (code) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      // Line terminators in script, though not in JSON.
      case 0x2028:
        out += "\\u2028";
        break;
      case 0x2029:
        out += "\\u2029";
        break;
      default:
        if (code < 0x20) {
          out += "\\u00";
          out += kHex[code >> 4];
          out += kHex[code & 0xF];
        } else {
          append_utf8(out, code);
        }
    }
  }
  out += '"';
  return out;
}

std::optional<PageCall> parse_page_call(std::string_view message) {
  return Reader(message).envelope();
}

std::optional<std::string> browser_switch_value(std::string_view arguments, std::string_view name) {
  std::optional<std::string> found;
  if (name.empty()) {
    return found;
  }
  std::size_t pos = 0;
  while (pos < arguments.size()) {
    while (pos < arguments.size() && blank(arguments[pos])) {
      ++pos;
    }
    // One argument: blanks inside double quotes do not end it.
    const std::size_t start = pos;
    bool quoted = false;
    while (pos < arguments.size() && (quoted || !blank(arguments[pos]))) {
      if (arguments[pos] == '"') {
        quoted = !quoted;
      }
      ++pos;
    }
    const std::string_view argument = arguments.substr(start, pos - start);
    if (argument.size() < name.size() || argument.substr(0, name.size()) != name) {
      continue;
    }
    std::string_view value = argument.substr(name.size());
    if (!value.empty() && value.front() != '=') {
      continue;  // a longer switch that starts with the same text
    }
    if (!value.empty()) {
      value.remove_prefix(1);
    }
    if (!value.empty() && value.front() == '"') {
      value.remove_prefix(1);
      if (!value.empty() && value.back() == '"') {
        value.remove_suffix(1);
      }
    }
    // The last one counts, as for the browser itself.
    found = std::string(value);
  }
  return found;
}

}  // namespace velto::webview
