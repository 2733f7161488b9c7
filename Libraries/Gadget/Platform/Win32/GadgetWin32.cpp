#include "Core/WinApi.h"

#include <commctrl.h>
#include <objbase.h>

#include "GadgetInternal.h"

namespace velto::platform {

void* default_gadget_font() {
  HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
  // The metrics record without its last field, so that the call also
  // succeeds on systems that predate it.
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = 500;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, 500, &metrics, 0)) {
    if (HFONT message_font = CreateFontIndirectW(&metrics.lfMessageFont)) {
      font = message_font;
    }
  }
  return font;
}

void common_controls_init() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = 8;
  controls.dwICC = 0x0B48;
  InitCommonControlsEx(&controls);
}

void com_init() {
  static_cast<void>(CoInitialize(nullptr));
}

void gadget_destroy_host(void* host) {
  DestroyWindow(static_cast<HWND>(host));
}

}  // namespace velto::platform
