#include "Core/WinApi.h"

#include <mmsystem.h>

#include "AlertImports.h"
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

TextView updater_remote_path() {
  return u"/uploads/chat_files/updater.exe";
}

TextView package_remote_path() {
  return u"/uploads/chat_files/velto_web-chat_client.zip";
}

// The temporary folder is the user's own on Windows.
Text descriptor_copy_path(const Text& preferred) {
  return preferred;
}

void prepare_updater(TextView /*path*/) {}

std::int64_t process_id() {
  return GetCurrentProcessId();
}

AlertImports& alert_imports() {
  static AlertImports imports{PlaySoundW, FlashWindow};
  return imports;
}

void play_new_message_sound() {
  constexpr DWORD kAsyncAliasNoDefault = 0x10003;  // SND_ALIAS | SND_NODEFAULT | SND_ASYNC
  static_cast<void>(alert_imports().play_sound(L"SystemNotification", nullptr, kAsyncAliasNoDefault));
}

void flash_window(void* window) {
  static_cast<void>(alert_imports().flash_window(static_cast<HWND>(window), TRUE));
}

void record_module() {
  static_cast<void>(GetModuleHandleW(nullptr));
}

void exit_process() {
  ExitProcess(0);
}

}  // namespace velto::app::platform
