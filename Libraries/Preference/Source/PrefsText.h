#pragma once

// The portable heart of the preference files: the line model, the parser,
// key lookup, number reading and the written layout. No platform calls and
// no runtime state, so that it can be tested and fuzzed on its own.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace velto {

enum class prefs_kind : unsigned char { group, comment, key };

// One line of a preference file. Entries read from a file point into the
// content buffer they were parsed from; keys and values set later live in
// blocks of their own.
struct prefs_entry {
  prefs_kind kind = prefs_kind::key;
  std::span<char> key;   // key entries only
  std::span<char> text;  // group name, comment text or value
  std::unique_ptr<char[]> key_block;
  std::unique_ptr<char[]> text_block;

  [[nodiscard]] std::string_view key_view() const noexcept { return {key.data(), key.size()}; }
  [[nodiscard]] std::string_view text_view() const noexcept { return {text.data(), text.size()}; }
};

// A doubly linked list, so that entries never move once made.
using prefs_list = std::list<prefs_entry>;

// Splits `text` into entries appended to `entries`, in file order. The text
// ends at its size or at its first NUL byte, whichever comes first. Throws
// std::bad_alloc when an entry cannot be made.
void prefs_parse(std::span<char> text, prefs_list& entries);

// Byte-wise comparison with ASCII letters folded to one case.
[[nodiscard]] bool prefs_keys_equal(std::string_view a, std::string_view b) noexcept;

struct prefs_lookup {
  prefs_list::iterator entry;        // the first matching key entry, when found
  prefs_list::iterator section_end;  // the first group entry after `first`, or the end
  bool found = false;
};

// Looks `key` up in the section that starts at `first` and runs to the next
// group entry.
[[nodiscard]] prefs_lookup prefs_lookup_key(prefs_list& entries, prefs_list::iterator first,
                                            std::string_view key) noexcept;

// `text` without its leading spaces and tabs.
[[nodiscard]] std::string_view prefs_skip_blanks(std::string_view text) noexcept;

// Leading white space, an optional sign and decimal digits; 0 without
// digits; clamped to the 32-bit range.
[[nodiscard]] std::int32_t prefs_parse_int(std::string_view text) noexcept;

// Bytes of the written file; none when the size does not fit in memory sizes.
[[nodiscard]] std::optional<std::size_t> prefs_output_size(const prefs_list& entries, bool utf8_mark) noexcept;

// Writes the layout into `out`, which holds exactly prefs_output_size bytes.
void prefs_write_layout(const prefs_list& entries, bool utf8_mark, std::span<char> out) noexcept;

}  // namespace velto
