#include "Core/WinApi.h"

#include <shellapi.h>

#include "TrayInternal.h"

namespace velto::platform {

unsigned register_taskbar_created() {
  return RegisterWindowMessageW(L"TaskbarCreated");
}

void tray_remove(TrayRecord& record) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = static_cast<HWND>(record.handle);
  data.uID = record.id;
  Shell_NotifyIconW(NIM_DELETE, &data);
}

}  // namespace velto::platform
