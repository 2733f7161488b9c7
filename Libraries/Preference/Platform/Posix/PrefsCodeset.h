#pragma once

#include <string>
#include <string_view>

namespace velto::platform {

// Converts `bytes` from the character set `codeset` (an iconv name, as
// nl_langinfo(CODESET) answers it) to UTF-8. UTF-8 itself, and a set iconv
// does not know, pass through with each invalid byte as U+FFFD; so does each
// byte the set cannot map. false when the conversion could not be made.
[[nodiscard]] bool prefs_codeset_to_utf8(std::string_view bytes, const char* codeset, std::string& out) noexcept;

}  // namespace velto::platform
