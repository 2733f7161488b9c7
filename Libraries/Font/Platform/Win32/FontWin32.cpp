#include "Core/WinApi.h"
#include "FontInternal.h"

namespace velto::platform {

int display_dpi() {
  HDC dc = CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  if (!dc) {
    return 96;
  }
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  DeleteDC(dc);
  return dpi;
}

void font_delete(void* handle) {
  DeleteObject(static_cast<HFONT>(handle));
}

}  // namespace velto::platform
