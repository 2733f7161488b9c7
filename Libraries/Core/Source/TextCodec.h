#pragma once

#include <string>
#include <string_view>

namespace velto::codec {

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
void utf16_to_utf8(std::u16string_view in, std::string& out);

// UTF-8 to UTF-16; each byte that does not start a well-formed sequence,
// and each truncated sequence, becomes one U+FFFD.
void utf8_to_utf16(std::string_view in, std::u16string& out);

}  // namespace velto::codec
