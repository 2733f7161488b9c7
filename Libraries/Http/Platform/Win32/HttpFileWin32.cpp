#include "Core/WinApi.h"

#include <climits>
#include <string>

#include "HttpInternal.h"

namespace velto {

std::string http_native_text(TextView text) {
  if (text.empty() || text.size() >= INT_MAX) {
    return {};
  }
  const auto* source = reinterpret_cast<const wchar_t*>(text.data());
  const int length = static_cast<int>(text.size());
  // Characters the code page lacks become its default character.
  const int needed = ::WideCharToMultiByte(CP_ACP, 0, source, length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) {
    return {};
  }
  std::string out(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, source, length, out.data(), needed, nullptr, nullptr);
  return out;
}

}  // namespace velto
