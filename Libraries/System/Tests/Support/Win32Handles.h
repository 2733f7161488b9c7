#pragma once

// Text and handles for the tests that call Windows directly.

#include <memory>
#include <type_traits>

#include "Core/Types.h"
#include "Core/WinApi.h"

namespace velto::testing {

inline const wchar_t* wide(const Text& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

struct HandleCloser {
  void operator()(HANDLE handle) const noexcept {
    if (handle && handle != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
    }
  }
};
using unique_handle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

}  // namespace velto::testing
