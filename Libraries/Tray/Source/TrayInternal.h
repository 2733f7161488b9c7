#pragma once

namespace velto {

struct TrayRecord {
  void* handle = nullptr;  // the window that owns the icon
  unsigned id = 0;
  void* icon = nullptr;
};

namespace platform {
[[nodiscard]] unsigned register_taskbar_created();
void tray_remove(TrayRecord& record);
}  // namespace platform

}  // namespace velto
