#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "Core/Types.h"

namespace velto {

// The temporary string buffer: one growable area of the string heap where
// every string-valued operation writes its result, so that composing text
// does not allocate per call. Results are views into it and stay valid until
// the next string-valued operation; copy a result into a Text to keep it.
//
// A TempScope brackets one expression: it saves the buffer's end on entry
// and gives everything written after that back on exit.
class TempBuffer {
 public:
  static constexpr std::size_t kInitialCapacity = 16;
  static constexpr std::size_t kShrinkThreshold = 1048576;
  static constexpr std::size_t kGrowthSlack = 16394;
  static constexpr std::size_t kBlockOverhead = 10;
  static constexpr std::size_t kMaxDepth = 100;

  // Reserves room for `count` UTF-16 units at byte offset `position`; the
  // buffer's end becomes position + 2 × count. nullptr when memory is short.
  char16_t* reserve(std::size_t position, std::size_t count) noexcept;

  // Gives back the unused tail of the last reservation: the end becomes
  // `position` + 2 × `used_count`.
  void trim(std::size_t position, std::size_t used_count) noexcept;

  [[nodiscard]] std::size_t used() const noexcept { return used_; }
  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  [[nodiscard]] const char16_t* at(std::size_t position) const noexcept;

  void push() noexcept;
  [[nodiscard]] std::size_t pop() noexcept;
  [[nodiscard]] std::size_t depth() const noexcept { return depth_; }

  // Appends text at the end and answers its view.
  TextView append(TextView text) noexcept;

 private:
  friend void string_library_init();
  bool initialise() noexcept;

  unsigned char* base_ = nullptr;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  std::size_t positions_[kMaxDepth] = {};
  std::size_t depth_ = 0;
};

[[nodiscard]] TempBuffer& temp_buffer() noexcept;

class TempScope {
 public:
  TempScope() noexcept { temp_buffer().push(); }
  ~TempScope();
  TempScope(const TempScope&) = delete;
  TempScope& operator=(const TempScope&) = delete;
};

// String library start-up: the string heap and a 16-byte temporary buffer.
void string_library_init();

// Number of non-overlapping occurrences of `separator` in `text`.
[[nodiscard]] std::int64_t str_count(TextView text, TextView separator) noexcept;

// Field `number` (from 1) of `text` split at `separator`; a temporary result.
[[nodiscard]] TextView str_field(TextView text, std::int64_t number, TextView separator) noexcept;

// Leading number of `text`: blanks, sign, then decimal, "$" hexadecimal or
// "%" binary digits, wrapping silently on overflow.
[[nodiscard]] std::int64_t str_to_int(TextView text) noexcept;
// The same, but nullopt where the number does not fit 64 bits (signed)
// instead of wrapping round.
[[nodiscard]] std::optional<std::int64_t> str_to_int_exact(TextView text) noexcept;

// Decimal text of `value`; a temporary result.
[[nodiscard]] TextView str_from_int(std::int64_t value) noexcept;

[[nodiscard]] bool str_equal(TextView a, TextView b) noexcept;

// UTF-8 and UTF-16 copies from the process allocator, released by text_free.
struct TextFree {
  void operator()(void* block) const noexcept;
};
void text_free(void* block) noexcept;
using Utf8Text = std::unique_ptr<char[], TextFree>;
using Utf16Text = std::unique_ptr<char16_t[], TextFree>;

// Invalid input converts as the system converter does (U+FFFD for broken
// sequences); an allocation failure gives an empty text.
[[nodiscard]] Utf8Text text_to_utf8(TextView text) noexcept;
[[nodiscard]] Utf16Text text_from_utf8(std::string_view text) noexcept;

// Convenience copies for code that keeps text.
[[nodiscard]] std::string to_utf8(TextView text);
[[nodiscard]] Text from_utf8(std::string_view text);

}  // namespace velto
