#include "Core/WinApi.h"

#include <climits>
#include <cstdlib>

#include "Core/Strings.h"

namespace velto {

namespace {
template <class Unit>
std::unique_ptr<Unit[], TextFree> empty_text() noexcept {
  return std::unique_ptr<Unit[], TextFree>(static_cast<Unit*>(std::calloc(2, sizeof(Unit))));
}
}  // namespace

Utf8Text text_to_utf8(TextView text) noexcept {
  if (text.size() >= INT_MAX) {
    return empty_text<char>();
  }
  const auto* source = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  const int needed = length ? WideCharToMultiByte(CP_UTF8, 0, source, length, nullptr, 0, nullptr, nullptr) : 0;
  if (length && needed <= 0) {
    return empty_text<char>();
  }
  // Terminator plus one spare unit.
  Utf8Text out(static_cast<char*>(std::calloc(static_cast<std::size_t>(needed) + 2, 1)));
  if (out && needed) {
    WideCharToMultiByte(CP_UTF8, 0, source, length, out.get(), needed, nullptr, nullptr);
  }
  return out;
}

Utf16Text text_from_utf8(std::string_view text) noexcept {
  if (text.size() >= INT_MAX) {
    return empty_text<char16_t>();
  }
  const int length = static_cast<int>(text.size());
  const int needed = length ? MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0) : 0;
  if (length && needed <= 0) {
    return empty_text<char16_t>();
  }
  Utf16Text out(static_cast<char16_t*>(std::calloc(static_cast<std::size_t>(needed) + 2, sizeof(char16_t))));
  if (out && needed) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, reinterpret_cast<wchar_t*>(out.get()), needed);
  }
  return out;
}

}  // namespace velto
