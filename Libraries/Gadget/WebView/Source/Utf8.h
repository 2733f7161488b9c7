#pragma once

// UTF-8 reading and writing shared by the engine's text handling.

#include <cstddef>
#include <string>
#include <string_view>

namespace velto::webview {

// Decodes one character at `pos` and advances past it; an ill-formed
// sequence gives U+FFFD.
[[nodiscard]] char32_t next_utf8(std::string_view text, std::size_t& pos);

void append_utf8(std::string& out, char32_t code);

}  // namespace velto::webview
