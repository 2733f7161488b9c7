#pragma once

// UTF-8 and the runtime's UTF-16 strings, for the Windows engine's files.

#include <memory>
#include <string>
#include <string_view>

#include "Core/WinApi.h"

#include <objbase.h>

namespace velto::webview {

// "" for text that is empty, too long or not convertible.
[[nodiscard]] std::wstring widen(std::string_view text);
[[nodiscard]] std::string narrow(const wchar_t* text);

struct CoTaskMemDeleter {
  void operator()(wchar_t* text) const noexcept { CoTaskMemFree(text); }
};

// A string the runtime hands out through `get(LPWSTR*)`, as UTF-8; "" when
// there is none. The runtime's copy is freed in every case.
template <class Getter>
std::string take_string(Getter get) {
  LPWSTR raw = nullptr;
  const HRESULT result = get(&raw);
  const std::unique_ptr<wchar_t, CoTaskMemDeleter> owned(raw);
  return SUCCEEDED(result) && owned ? narrow(owned.get()) : std::string();
}

}  // namespace velto::webview
