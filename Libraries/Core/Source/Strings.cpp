#include "Core/Strings.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Core/Heap.h"
#include "TextCodec.h"

#if defined(_WIN32)
#include "Core/WinApi.h"
#endif

namespace velto {

namespace {

struct StringState {
  std::unique_ptr<Heap> heap;
  TempBuffer buffer;
};

StringState& string_state() noexcept {
  static StringState state;
  return state;
}

// Where a string-valued operation writes its result: at the end of the open
// scope, or from the start when no scope is open, so that results outside
// any scope never pile up.
std::size_t result_start(TempBuffer& buffer) noexcept {
  return buffer.depth() ? buffer.used() : 0;
}

}  // namespace

void string_library_init() {
  StringState& state = string_state();
  if (!state.heap) {
    state.heap = std::make_unique<Heap>();
    state.buffer.initialise();
  }
}

TempBuffer& temp_buffer() noexcept {
  StringState& state = string_state();
  if (!state.heap) {
    string_library_init();
  }
  return state.buffer;
}

bool TempBuffer::initialise() noexcept {
  base_ = static_cast<unsigned char*>(string_state().heap->allocate(kInitialCapacity));
  capacity_ = base_ ? kInitialCapacity : 0;
  used_ = 0;
  depth_ = 0;
  return base_ != nullptr;
}

char16_t* TempBuffer::reserve(std::size_t position, std::size_t count) noexcept {
  const std::size_t needed = used_ + 2 * count;
  std::size_t new_block = 0;
  if (capacity_ >= 4 && needed < capacity_ - 4) {
    // Fits. A buffer left huge by an earlier large expression falls back.
    if (capacity_ > kShrinkThreshold) {
      new_block = needed >= kShrinkThreshold ? needed + kBlockOverhead : kShrinkThreshold + kBlockOverhead;
    }
  } else {
    new_block = needed + kGrowthSlack;
  }
  if (new_block) {
    void* moved = string_state().heap->reallocate(base_, new_block);
    if (!moved) {
      return nullptr;
    }
    base_ = static_cast<unsigned char*>(moved);
    capacity_ = new_block - kBlockOverhead;
  }
  used_ = position + 2 * count;
  return reinterpret_cast<char16_t*>(base_ + position);
}

void TempBuffer::trim(std::size_t position, std::size_t used_count) noexcept {
  used_ = position + 2 * used_count;
  // Every reservation leaves at least four spare bytes, room for the terminator.
  std::memset(base_ + used_, 0, sizeof(char16_t));
}

const char16_t* TempBuffer::at(std::size_t position) const noexcept {
  return reinterpret_cast<const char16_t*>(base_ + position);
}

void TempBuffer::push() noexcept {
  if (depth_ < kMaxDepth) {
    positions_[depth_] = used_;
  }
  ++depth_;
}

std::size_t TempBuffer::pop() noexcept {
  if (depth_ == 0) {
    return used_;
  }
  --depth_;
  if (depth_ < kMaxDepth) {
    used_ = positions_[depth_];
  }
  return used_;
}

TextView TempBuffer::append(TextView text) noexcept {
  const std::size_t start = result_start(*this);
  // The source may itself lie in this buffer, which can move on reserve.
  const auto* source_bytes = reinterpret_cast<const unsigned char*>(text.data());
  const bool inside = base_ && source_bytes >= base_ && source_bytes < base_ + capacity_ + kBlockOverhead;
  const std::size_t source_offset = inside ? static_cast<std::size_t>(source_bytes - base_) : 0;
  char16_t* target = reserve(start, text.size());
  if (!target) {
    return {};
  }
  const char16_t* source = inside ? at(source_offset) : text.data();
  if (!text.empty()) {
    std::memmove(target, source, text.size() * sizeof(char16_t));
  }
  trim(start, text.size());
  return {at(start), text.size()};
}

TempScope::~TempScope() {
#if defined(_WIN32)
  const DWORD error = GetLastError();
  static_cast<void>(temp_buffer().pop());
  SetLastError(error);
#else
  static_cast<void>(temp_buffer().pop());
#endif
}

std::int64_t str_count(TextView text, TextView separator) noexcept {
  if (text.empty() || separator.empty()) {
    return 0;
  }
  std::int64_t count = 0;
  std::size_t position = 0;
  while ((position = text.find(separator, position)) != TextView::npos) {
    ++count;
    position += separator.size();
  }
  return count;
}

TextView str_field(TextView text, std::int64_t number, TextView separator) noexcept {
  TextView field;
  if (number >= 1) {
    std::size_t start = 0;
    std::int64_t current = 1;
    bool found = true;
    while (current < number) {
      const std::size_t match = separator.empty() ? TextView::npos : text.find(separator, start);
      if (match == TextView::npos) {
        found = false;
        break;
      }
      start = match + separator.size();
      ++current;
    }
    if (found) {
      const std::size_t end = separator.empty() ? TextView::npos : text.find(separator, start);
      field = text.substr(start, end == TextView::npos ? TextView::npos : end - start);
    }
  }
  return temp_buffer().append(field);
}

namespace {

struct ParsedNumber {
  std::uint64_t magnitude = 0;  // wrapped round when `overflow`
  bool negative = false;
  bool overflow = false;        // more than a signed 64-bit number holds
};

// The number at the start of `text`, as str_to_int reads it.
ParsedNumber parse_number(TextView text) noexcept {
  ParsedNumber number;
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) {
    ++i;
  }
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
    number.negative = text[i] == u'-';
    ++i;
  }
  std::uint64_t base = 10;
  if (i < text.size() && text[i] == u'$') {
    base = 16;
    ++i;
  } else if (i < text.size() && text[i] == u'%') {
    base = 2;
    ++i;
  }
  constexpr std::uint64_t kLargest = static_cast<std::uint64_t>(INT64_MAX);
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
    if (number.magnitude > (kLargest - digit) / base) {
      number.overflow = true;
    }
    number.magnitude = number.magnitude * base + digit;
  }
  return number;
}

}  // namespace

std::int64_t str_to_int(TextView text) noexcept {
  const ParsedNumber number = parse_number(text);
  const std::uint64_t value = number.negative ? ~number.magnitude + 1 : number.magnitude;
  return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> str_to_int_exact(TextView text) noexcept {
  const ParsedNumber number = parse_number(text);
  if (number.overflow) {
    return std::nullopt;
  }
  const auto magnitude = static_cast<std::int64_t>(number.magnitude);
  return number.negative ? -magnitude : magnitude;
}

TextView str_from_int(std::int64_t value) noexcept {
  char16_t digits[24];
  std::size_t length = 0;
  // Work in unsigned arithmetic so the most negative value needs no special case.
  std::uint64_t magnitude = value < 0 ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  do {
    digits[sizeof digits / sizeof *digits - 1 - length++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (value < 0) {
    digits[sizeof digits / sizeof *digits - 1 - length++] = u'-';
  }
  return temp_buffer().append(TextView(digits + sizeof digits / sizeof *digits - length, length));
}

bool str_equal(TextView a, TextView b) noexcept {
  return a == b;
}

void TextFree::operator()(void* block) const noexcept {
  text_free(block);
}

void text_free(void* block) noexcept {
  std::free(block);
}

std::string to_utf8(TextView text) {
  std::string out;
  codec::utf16_to_utf8(text, out);
  return out;
}

Text from_utf8(std::string_view text) {
  Text out;
  codec::utf8_to_utf16(text, out);
  return out;
}

}  // namespace velto
