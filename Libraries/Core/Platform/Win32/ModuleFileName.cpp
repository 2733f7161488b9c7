#include "Core/ModuleFileName.h"

#include <algorithm>

namespace velto {

namespace {

// A long path and its terminating NUL.
constexpr DWORD kLongestPath = 32768;

}  // namespace

std::wstring module_file_name(HMODULE module) {
  DWORD capacity = MAX_PATH;
  // At most 8 rounds: 260 doubled up to the longest path.
  for (int round = 0; round < 8; ++round) {
    std::wstring path(capacity, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), capacity);
    if (length == 0) {
      return {};
    }
    // A path that filled the buffer was cut (the last unit is then a NUL).
    if (length < capacity) {
      path.resize(length);
      return path;
    }
    if (capacity >= kLongestPath) {
      return {};
    }
    capacity = std::min(capacity * 2, kLongestPath);
  }
  return {};
}

}  // namespace velto
