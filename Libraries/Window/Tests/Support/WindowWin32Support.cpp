#include "WindowWin32Support.h"

namespace velto::testing {

HWND hwnd_of(ObjectNumber number) {
  return static_cast<HWND>(window_handle(number));
}

}  // namespace velto::testing
