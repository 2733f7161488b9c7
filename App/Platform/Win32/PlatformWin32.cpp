#include "Core/WinApi.h"
#include "Platform.h"
#include "System/Process.h"

namespace velto::app::platform {

Text app_dir() {
  return env_get(u"APPDATA") + u"\\VeltoChat";
}

TextView separator() {
  return u"\\";
}

TextView updater_file_name() {
  return u"updater.exe";
}

void record_module() {
  static_cast<void>(GetModuleHandleW(nullptr));
}

void exit_process() {
  ExitProcess(0);
}

}  // namespace velto::app::platform
